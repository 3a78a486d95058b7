#include "IndexTestSupport.h"

#include <QCoreApplication>

#include <fstream>
#include <future>
#include <thread>

using namespace kivo::index;
using namespace kivo::index::test;
using kivo::test::ScratchDir;

TEST(IndexStoreScan, QueriesDuringAScanSeeThePreviousIndexAndProgressArrivesOnTheMainThread)
{
    ScratchDir dir;
    dir.write("Old/a.wav", "x");
    constexpr int kNew = 1000;
    for (int i = 0; i < kNew; ++i)
        dir.write("New/n" + std::to_string(i) + ".wav", "x");
    CacheIndexStore store(quietStore(dir));
    buildIndex(store, { { "G", { dir.str() + "/Old" }, {} } }, {}, {}, openScan());
    ASSERT_EQ(store.read([](const IndexMaps& m) { return m.fileIndex.size(); }), 1u);

    // The second scan's header reads stop half-way until the test has queried the store.
    std::promise<void> reading, answered;
    auto answeredFuture = answered.get_future().share();
    std::atomic<int> reads { 0 };
    HeaderReader reader = [&](const std::string&) {
        if (++reads == 3) {
            reading.set_value();
            answeredFuture.wait();
        }
        return HeaderValues();
    };
    const auto mainThread = std::this_thread::get_id();
    std::vector<IndexProgress> reports;
    bool allOnMain = true;
    std::atomic<bool> scanned { false };
    std::thread scan([&] {
        buildIndex(
            store, { { "G", { dir.str() + "/New" }, {} } },
            [&](const IndexProgress& p) {
                allOnMain = allOnMain && std::this_thread::get_id() == mainThread;
                reports.push_back(p);
            },
            {}, openScan(reader));
        scanned = true;
    });
    reading.get_future().wait();
    // The walk is stuck inside a header read, yet the store answers from the index it had.
    const auto during = store.read([](const IndexMaps& m) { return m.fileIndex.size(); });
    answered.set_value();
    // Reports are run here while the scan goes on posting and letting go of them, as in the tools.
    while (!scanned)
        QCoreApplication::processEvents();
    scan.join();
    QCoreApplication::processEvents();

    EXPECT_EQ(during, 1u);
    EXPECT_EQ(store.read([](const IndexMaps& m) { return m.fileIndex.size(); }), std::size_t(kNew));
    EXPECT_TRUE(allOnMain);
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back().fraction, 1.0);
    EXPECT_EQ(reports.back().processed, kNew);
}

TEST(IndexStoreScan, WritesRunOneAtATimeSoARebuildNeverDropsWhatASyncAdded)
{
    ScratchDir dir;
    dir.write("Old/a.wav", "x");
    dir.write("Old/b.wav", "x");
    dir.write("Added/new.wav", "x");
    CacheIndexStore store(quietStore(dir));
    const std::string oldRoot = dir.str() + "/Old", added = dir.str() + "/Added";
    buildIndex(store, { { "G", { oldRoot }, {} } }, {}, {}, openScan());
    // A cancelled build or sync commits nothing.
    const IndexMaps before = store.snapshot();
    CancelHandle cancel;
    cancel.cancel();
    EXPECT_EQ(buildIndex(store, { { "H", { dir.str() }, {} } }, {}, cancel, openScan()), before.groupRoots);
    syncIndex(store, { { "G", { oldRoot, added }, {} } }, {}, cancel, openScan());
    EXPECT_TRUE(store.snapshot() == before);

    // A background rebuild from the plan it was given (without the new folder) is held inside a
    // header read while the user's sync of the new folder starts on another thread.
    std::promise<void> reading, release;
    auto released = release.get_future().share();
    std::atomic<int> reads { 0 };
    HeaderReader slow = [&](const std::string&) {
        if (++reads == 1) {
            reading.set_value();
            released.wait();
        }
        return HeaderValues();
    };
    std::thread rebuild([&] { buildIndex(store, { { "G", { oldRoot }, {} } }, {}, {}, openScan(slow)); });
    reading.get_future().wait();
    std::thread sync([&] { syncIndex(store, { { "G", { oldRoot, added }, {} } }, {}, {}, openScan()); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50)); // let the sync reach the index first
    release.set_value();
    rebuild.join();
    sync.join();

    const IndexMaps after = store.snapshot();
    EXPECT_EQ(after.groupRoots.at("G"), (std::vector<std::string> { oldRoot, added }));
    EXPECT_TRUE(after.fileIndex.contains(added + "/new.wav"));
    EXPECT_EQ(after.fileIndex.size(), 3u);
}

TEST(IndexStoreScan, NamesFromOtherSystemsAreIndexedFoundAndKept)
{
    ScratchDir dir;
    const std::string kG = "6B1E8D4C-1F0A-4E5B-9C3D-2A7F8E9B0C1D"; // the cache keeps collections by UUID
    const std::string root = dir.str() + "/Lib";
    dir.write("Lib/Kick.wav", "x");
    // Written byte for byte (Qt would make the names UTF-8 text).
    std::ofstream(root + "/caf\xE9 120.wav") << "x"; // Latin-1, not UTF-8
    std::ofstream(root + "/E\xCC\x81te\xCC\x81 Pad.wav") << "x"; // "Été" decomposed, as from a macOS drive
    dir.write("Lib/._Kick.wav", "AppleDouble");
    dir.write("Lib/__MACOSX/._Kick.wav", "AppleDouble");
    dir.write("Lib/__MACOSX/Lost.wav", "x");
    CacheIndexStore store(quietStore(dir));
    buildIndex(store, { { kG, { root }, {} } }, {}, {}, openScan());

    const IndexMaps built = store.snapshot();
    EXPECT_EQ(built.fileIndex.size(), 3u);
    EXPECT_FALSE(built.directoryIndex.contains(root + "/__MACOSX"));
    EXPECT_TRUE(built.directoryIndex.at(root).subdirectories.empty());
    EXPECT_EQ(built.fileIndex.at(root + "/caf\xE9 120.wav").bpm, 120);
    EXPECT_TRUE(built.searchIndex.at(kG).contains("\xC3\xA9t\xC3\xA9")); // composed "été"
    EXPECT_FALSE(built.searchIndex.at(kG).contains("e"));
    EXPECT_EQ(store.searchPaths("\xC3\xA9t\xC3\xA9 pad", kG, true),
        std::vector<std::string> { root + "/E\xCC\x81te\xCC\x81 Pad.wav" });
    EXPECT_EQ(store.searchPaths("E\xCC\x81te\xCC\x81", kG, true).size(), 1u);

    // The cache stays valid JSON and gives every name back byte for byte.
    store.saveCache(1);
    CacheIndexStore reloaded(quietStore(dir));
    ASSERT_TRUE(reloaded.loadCache().hasData);
    EXPECT_TRUE(reloaded.snapshot() == built);
    EXPECT_EQ(reloaded.searchPaths("caf", kG, true), std::vector<std::string> { root + "/caf\xE9 120.wav" });
    EXPECT_EQ(reloaded.filesInFolder(root).size(), 3u);

    // The quick refresh and the listing of a folder the index does not hold skip them as the scan does.
    store.modify([](IndexMaps& m) {
        for (auto& [path, info] : m.directoryIndex)
            info.contentModified = *info.contentModified - 10.0;
    });
    dir.write("Lib/._Snare.wav", "AppleDouble");
    dir.write("Lib/Snare.wav", "x");
    dir.write("Lib/Snare 128 BPM.wav", "x");
    const auto delta = computeQuickRefreshDelta(store, allRoots(store), {}, kNoVolumes);
    EXPECT_EQ(
        delta.newFiles, (std::vector<std::string> { root + "/Snare 128 BPM.wav", root + "/Snare.wav" }));
    EXPECT_TRUE(delta.newFolders.empty());
    applyQuickRefreshDelta(store, delta, {}, openScan());
    EXPECT_EQ(store.snapshot().fileIndex.at(root + "/Snare 128 BPM.wav").bpm, 128);
    EXPECT_EQ(
        store.searchPaths("snare 128", kG, true), std::vector<std::string> { root + "/Snare 128 BPM.wav" });
    EXPECT_FALSE(computeQuickRefreshDelta(store, allRoots(store), {}, {}).hasChanges());
    // That listing reads the disk: compatible files only (no folder named like one), values from names.
    for (const char* name : { "._Hat.wav", "Pad 90 BPM Em.wav", "notes.txt", "sub.wav/x" })
        dir.write(std::string("Elsewhere/") + name, "x");
    const auto listed = store.filesInFolder(dir.str() + "/Elsewhere");
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(std::tie(listed[0].name, listed[0].bpm, listed[0].key, listed[0].duration),
        std::make_tuple("Pad 90 BPM Em.wav", 90, "Em", std::nullopt));
    EXPECT_TRUE(store.filesInFolder(dir.str() + "/Missing").empty());
    std::remove((root + "/caf\xE9 120.wav").c_str()); // a name the scratch folder's own cleanup cannot spell
}
