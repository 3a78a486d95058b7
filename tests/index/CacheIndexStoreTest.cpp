#include "IndexTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <future>
#include <sys/stat.h>
#include <tuple>

using namespace kivo::index;

namespace {

const std::string kGroupA = "6B1E8D4C-1F0A-4E5B-9C3D-2A7F8E9B0C1D";
const std::string kGroupB = "00000000-0000-4000-8000-0000000000BB";

// Written by hand the way another program lays it out: keys in another order, ids in lower case,
// whole numbers with fractions, escaped slashes and letters, blanks between tokens.
const std::string kHandWritten = R"({"version":"2.9","lastUpdate":786000000.5,
"groupRoots":["6b1e8d4c-1f0a-4e5b-9c3d-2a7f8e9b0c1d",["\/Samples\/Drums"]],
"searchIndex":["6B1E8D4C-1F0A-4E5B-9C3D-2A7F8E9B0C1D",{"kick":["/Samples/Drums/Kicks/Kick 120.wav"],
 "120":["/Samples/Drums/Kicks/Kick 120.wav"],"snare":["\/Samples\/Drums\/Snare.wav" ]}],
"directoryIndex":{
 "/Samples/Drums":{"subdirectories":["/Samples/Drums/Kicks"],"lastModified":786000000,
   "files":[{"url":{"relative":"file:///Samples/Drums/Snare.wav"},"name":"Snare.wav",
     "path":"/Samples/Drums/Snare.wav","id":"2f53616d-706c-6573-2f44-72756d732f53"}],"inode":42},
 "/Samples/Drums/Kicks":{"path":"/Samples/Drums/Kicks","subdirectories":[],"lastModified":786000000.25,
   "contentModified":785999999.125,"files":[{"id" : "00000000-0000-0000-2f53-616d706c6573" ,
   "pa\u0074h":"/Samples/Drums/Kicks/Kick 120.wav" ,"name":"Kick\u0020120.wav","bpm":120.0,"key":"Am"	,"duration":1.5,
   "url":{"relative":"file:///Samples/Drums/Kicks/Kick%20120.wav"}}]}}})";

struct StoreFixture : ::testing::Test {
    kivo::test::ScratchDir dir;
    std::string cachePath = dir.str() + "/KIVO Browser/SearchIndex.json";
    std::vector<std::string> logLines;
    CacheIndexStore store { CacheIndexStoreOptions {
        cachePath,
        [this](const std::string& line) { logLines.push_back(line); },
        {},
    } };

    void writeCache(const std::string& text) { dir.write("KIVO Browser/SearchIndex.json", text); }
};

// A valid cache with the first path of the first record also listed under the second folder.
std::string fixPath(std::string text)
{
    const std::string from = R"("/Samples/Drums":{"subdirectories")";
    text.replace(
        text.find(from), from.size(), R"("/Samples/Drums":{"path":"/Samples/Drums","subdirectories")");
    return text;
}

} // namespace

TEST_F(StoreFixture, LoadsAHandWrittenCacheRebuildsTheDerivedMapsAndSavesItBack)
{
    writeCache(fixPath(kHandWritten));
    const DiskSnapshot snapshot = store.loadCache();
    ASSERT_TRUE(snapshot.hasData) << (logLines.empty() ? "" : logLines.front());
    EXPECT_EQ(snapshot.lastUpdate, 786000000.5);
    EXPECT_EQ(snapshot.roots, (GroupRoots { { kGroupA, { "/Samples/Drums" } } }));

    const IndexMaps maps = store.snapshot();
    ASSERT_EQ(maps.fileIndex.size(), 2u);
    const FileInfo& kick = maps.fileIndex.at("/Samples/Drums/Kicks/Kick 120.wav");
    EXPECT_EQ(std::tie(kick.bpm, kick.key, kick.name, kick.duration),
        std::make_tuple(120, "Am", "Kick 120.wav", 1.5));
    const FileInfo& snare = maps.fileIndex.at("/Samples/Drums/Snare.wav");
    EXPECT_FALSE(snare.bpm || snare.key || snare.duration);
    EXPECT_EQ(snare.id.text(), "2F53616D-706C-6573-2F44-72756D732F53");
    EXPECT_EQ(maps.directoryIndex.at("/Samples/Drums").inode, 42u);
    EXPECT_FALSE(maps.directoryIndex.at("/Samples/Drums").contentModified);
    EXPECT_EQ(maps.directoryIndex.at("/Samples/Drums/Kicks").contentModified, 785999999.125);

    const TokenIndex& keywords = maps.keywordIndex.at(kGroupA);
    EXPECT_EQ(
        keywords.at("drums"), (PathSet { "/Samples/Drums/Snare.wav", "/Samples/Drums/Kicks/Kick 120.wav" }));
    EXPECT_EQ(keywords.at("kicks"), (PathSet { "/Samples/Drums/Kicks/Kick 120.wav" }));
    EXPECT_FALSE(keywords.contains("samples"));
    EXPECT_EQ(maps.searchIndex.at(kGroupA).at("snare"), (PathSet { "/Samples/Drums/Snare.wav" }));
    EXPECT_EQ(store.groupsContaining("/Samples/Drums/x.wav"), std::vector<GroupID> { kGroupA });
    EXPECT_TRUE(store.groupsContaining("/Samples/Drumsx/x.wav").empty());

    // Saved in the format and read back the same.
    store.saveCache(800000000.75);
    const std::string written = readWholeFile(cachePath);
    EXPECT_NE(written.find(R"("version":"2.9")"), std::string::npos);
    EXPECT_NE(written.find(R"("lastUpdate":800000000.75)"), std::string::npos);
    EXPECT_NE(written.find(R"("url":{"relative":"file:///Samples/Drums/Kicks/Kick%20120.wav"})"),
        std::string::npos);
    EXPECT_NE(written.find(R"("groupRoots":[")" + kGroupA + R"(",["/Samples/Drums"]])"), std::string::npos);
    EXPECT_NE(written.find(R"("bpm":120,)"), std::string::npos);
    EXPECT_EQ(written.find("\n"), std::string::npos);
    // Absent values stay absent; the keyword index is never written.
    const auto snareRecord = written.substr(written.find(R"({"id":"2F53616D)"));
    EXPECT_EQ(snareRecord.substr(0, snareRecord.find('}')).find("bpm"), std::string::npos);
    EXPECT_EQ(written.find("keywordIndex"), std::string::npos);

    CacheIndexStore other { CacheIndexStoreOptions { cachePath, [](const std::string&) {}, {} } };
    EXPECT_EQ(other.loadCache().lastUpdate, 800000000.75);
    kivo::index::test::expectSameIndex(other.snapshot(), maps);
}

TEST_F(StoreFixture, RejectedCachesLeaveTheMapsAloneAndWhatCountsAsData)
{
    writeCache(fixPath(kHandWritten));
    store.loadCache();
    const IndexMaps loaded = store.snapshot();

    std::string oldVersion = fixPath(kHandWritten);
    oldVersion.replace(oldVersion.find("\"2.9\""), 5, "\"2.8\"");
    writeCache(oldVersion);
    DiskSnapshot snapshot = store.loadCache();
    EXPECT_FALSE(snapshot.hasData);
    EXPECT_FALSE(snapshot.lastUpdate);
    EXPECT_TRUE(snapshot.roots.empty());
    EXPECT_TRUE(logLines.empty());
    EXPECT_EQ(store.snapshot(), loaded);

    writeCache(fixPath(kHandWritten).substr(0, 300));
    snapshot = store.loadCache();
    EXPECT_FALSE(snapshot.hasData);
    ASSERT_EQ(logLines.size(), 1u);
    EXPECT_EQ(logLines[0].rfind("❌ Failed to load cache: ", 0), 0u);
    EXPECT_EQ(store.snapshot(), loaded);

    store.clearCache();
    EXPECT_EQ(store.snapshot(), IndexMaps());
    struct stat info { };
    EXPECT_NE(::stat(cachePath.c_str(), &info), 0);
    snapshot = store.loadCache();
    EXPECT_FALSE(snapshot.hasData);
    EXPECT_EQ(logLines.size(), 2u);
    store.clearCache(); // nothing to delete: still fine
    logLines.clear();

    // Only a search index: still counts as data, however many paths its first token lists (a batch
    // larger than the path table once made the load grow the table forever). A path in two folder
    // records is indexed once.
    std::string paths = R"("/x.wav")";
    for (int i = 0; i < 100; ++i)
        paths += ",\"/p" + std::to_string(i) + ".wav\"";
    writeCache(R"({"directoryIndex":{},"searchIndex":[")" + kGroupB + R"(",{"x":[)" + paths
        + R"(]}],"groupRoots":[],"lastUpdate":1,"version":"2.9"})");
    EXPECT_TRUE(store.loadCache().hasData);
    EXPECT_EQ(store.snapshot().searchIndex.at(kGroupB).at("x").size(), 101u);

    const std::string file
        = R"({"id":"00000000-0000-0000-0000-000000000001","path":"/A/k.wav","name":"k.wav",)"
          R"("url":{"relative":"file:///A/k.wav"}})";
    writeCache(R"({"directoryIndex":{"/A":{"path":"/A","files":[)" + file
        + R"(],"subdirectories":[],"lastModified":0},"/B":{"path":"/B","files":[)" + file
        + R"(],"subdirectories":[],"lastModified":0}},"searchIndex":[],"groupRoots":[],"lastUpdate":1,"version":"2.9"})");
    EXPECT_TRUE(store.loadCache().hasData);
    EXPECT_EQ(store.snapshot().fileIndex.size(), 1u);

    // Written by an older version with a name's bytes raw (not UTF-8): read, the name intact.
    writeCache(R"({"directoryIndex":{},"searchIndex":[")" + kGroupB
        + "\",{\"caf\":[\"/caf\xE9.wav\"]}],\"groupRoots\":[],\"lastUpdate\":1,\"version\":\"2.9\"}");
    EXPECT_TRUE(store.loadCache().hasData);
    EXPECT_TRUE(store.snapshot().searchIndex.at(kGroupB).at("caf").contains("/caf\xE9.wav"));

    writeCache(R"({"directoryIndex":{},"searchIndex":[],"groupRoots":[],"lastUpdate":1,"version":"2.9"})");
    EXPECT_FALSE(store.loadCache().hasData);
    EXPECT_TRUE(logLines.empty());

    // A save that cannot be written is logged; one that can leaves no temporary beside the file.
    const std::string blocker = dir.write("blocker", "x");
    CacheIndexStore blocked { CacheIndexStoreOptions {
        blocker + "/SearchIndex.json", [this](const std::string& line) { logLines.push_back(line); }, {} } };
    blocked.saveCache(1);
    ASSERT_EQ(logLines.size(), 1u);
    EXPECT_EQ(logLines[0].rfind("❌ Failed to save cache: ", 0), 0u);

    writeCache("old");
    store.saveCache(2);
    EXPECT_NE(readWholeFile(cachePath), "old");
    std::size_t entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.str() + "/KIVO Browser"))
        entries += entry.is_regular_file();
    EXPECT_EQ(entries, 1u);
}

TEST(CacheIndexStoreThreads, ReadersTakeThePublishedStateWhileTheWriterIsBusy)
{
    std::vector<std::function<void()>> mainQueue;
    std::mutex mutex;
    CacheIndexStore store { CacheIndexStoreOptions { "/nonexistent/x.json", [](const std::string&) {},
        [&](std::function<void()> fn) {
            std::lock_guard lock(mutex);
            mainQueue.push_back(std::move(fn));
        } } };
    store.modify([](IndexMaps& maps) {
        maps.groupRoots[kGroupA] = { "/S" };
        FileInfo kick { stableFileID("/S/Kick.wav"), "/S/Kick.wav", "Kick.wav", {}, {}, {} };
        maps.directoryIndex["/S"] = DirectoryInfo { "/S", { kick }, {}, 0, {}, {} };
        maps.fileIndex[kick.path] = kick;
        maps.searchIndex[kGroupA]["kick"].insert(kick.path);
        maps.searchIndex[kGroupA]["wav"].insert(kick.path);
    });
    const SnapshotPtr before = store.current();

    // The writer is held up; every reader still answers at once, from the last published state.
    std::promise<void> release;
    store.executor().post([gate = release.get_future().share()] { gate.wait(); });
    int result = 0;
    CancelHandle cancelled = store.async(
        [](IndexMaps& maps, const CancelHandle&) {
            maps.groupRoots["X"] = { "/x" };
            return 1;
        },
        [&](int value) { result = value; });
    cancelled.cancel();
    auto writer = std::async(std::launch::async,
        [&] { store.modify([](IndexMaps& maps) { maps.groupRoots[kGroupB] = { "/T" }; }); });
    EXPECT_EQ(store.search("kic", kGroupA, true).size(), 1u);
    EXPECT_EQ(store.allFolders(kGroupA).size(), 1u);
    EXPECT_EQ(store.filesInFolder("/S").size(), 1u);
    EXPECT_EQ(store.groupsContaining("/S/Kick.wav"), (std::vector<GroupID> { kGroupA }));
    EXPECT_EQ(store.current(), before);
    release.set_value();
    writer.get();

    // A state once taken never changes under its reader.
    EXPECT_EQ(before->index.roots.size(), 1u);
    EXPECT_EQ(store.snapshot().groupRoots.size(), 2u);
    store.async([](IndexMaps& maps, const CancelHandle&) { return int(maps.groupRoots.size()) + 10; },
        [&](int value) { result = value; });
    store.executor().run([] {}); // after both
    std::lock_guard lock(mutex);
    for (auto& fn : mainQueue)
        fn();
    EXPECT_EQ(result, 12);
}
