#include "IndexTestSupport.h"
#include "index/NaturalOrder.h"
#include "index/SearchCache.h"

#include <future>

using namespace kivo::index;
using kivo::index::test::pathsOf;

namespace {

const GroupID kGroup = "00000000-0000-4000-8000-000000000001";
const GroupID kOther = "00000000-0000-4000-8000-000000000002";

// Indexes files the way a scan does: records in their folders, name tokens and folder keywords.
struct IndexedLibrary {
    IndexMaps maps;

    void root(const GroupID& g, const std::string& path)
    {
        maps.groupRoots[g].push_back(path);
        maps.directoryIndex[path].path = path;
    }

    void file(const GroupID& g, const std::string& path, std::optional<std::int64_t> bpm = std::nullopt)
    {
        FileInfo info { stableFileID(path), path, std::string(path.substr(path.rfind('/') + 1)), bpm, {},
            {} };
        const std::string folder(parentPath(path));
        maps.directoryIndex[folder].path = folder;
        maps.directoryIndex[folder].files.push_back(info);
        maps.fileIndex[path] = info;
        for (const auto& token : tokenize(info.name, 1))
            maps.searchIndex[g][token].insert(path);
    }

    void install(CacheIndexStore& store)
    {
        rebuildKeywordIndex(maps);
        store.modify([&](IndexMaps& into) { into = maps; });
    }
};

std::vector<std::string> namesOf(const std::vector<FolderHit>& hits)
{
    std::vector<std::string> out;
    for (const auto& h : hits)
        out.push_back(h.name);
    return out;
}

struct SearchFixture : ::testing::Test {
    CacheIndexStore store { CacheIndexStoreOptions {
        "/nonexistent/cache.json", [](const std::string&) {}, {} } };
    IndexedLibrary library;

    void SetUp() override
    {
        library.root(kGroup, "/S");
        library.file(kGroup, "/S/Drums/808 Kick Hard.wav");
        library.file(kGroup, "/S/Drums/Kick 909.wav");
        library.file(kGroup, "/S/Vinyl Drums/Snare.wav");
        library.file(kGroup, "/S/Vinyl Drums/Snare 2.wav", 120);
        library.file(kGroup, "/S/Vinyl Drums/Snare 10.wav", 90);
        library.file(kGroup, "/S/Old Drafts/Kit 2019.wav");
        library.maps.directoryIndex["/S/Kicks"].path = "/S/Kicks";
        library.root(kOther, "/T");
        library.file(kOther, "/T/Kick Other.wav");
        library.install(store);
    }
};

} // namespace

TEST_F(SearchFixture, EveryQueryTokenMustBeASubstringOfSomeTokenOfAFileOrFolder)
{
    EXPECT_EQ(pathsOf(store.search("Kick 808", kGroup, true)),
        std::vector<std::string> { "/S/Drums/808 Kick Hard.wav" });
    EXPECT_EQ(pathsOf(store.search("kick", kGroup, true)),
        (std::vector<std::string> { "/S/Drums/808 Kick Hard.wav", "/S/Drums/Kick 909.wav" }));
    EXPECT_EQ(pathsOf(store.search("KIC", kGroup, false)).size(), 2u);
    EXPECT_EQ(pathsOf(store.search("01", kGroup, false)),
        std::vector<std::string> { "/S/Old Drafts/Kit 2019.wav" });
    EXPECT_TRUE(store.search("-_-", kGroup, true).empty());
    EXPECT_TRUE(store.search("kick zzz", kGroup, true).empty());
    EXPECT_TRUE(store.search("kick", "unknown", true).empty());
    EXPECT_EQ(store.searchPaths("kick", kOther, true), std::vector<std::string> { "/T/Kick Other.wav" });

    // Folder keywords count only when asked for.
    EXPECT_TRUE(store.search("vinyl snare", kGroup, false).empty());
    EXPECT_EQ(store.search("vinyl snare", kGroup, true).size(), 3u);

    // Folders by name, and the listings of a collection.
    EXPECT_EQ(namesOf(store.searchFolders("dr", kGroup)),
        (std::vector<std::string> { "Drums", "Old Drafts", "Vinyl Drums" }));
    EXPECT_EQ(namesOf(store.searchFolders("vin dru", kGroup)), std::vector<std::string> { "Vinyl Drums" });
    EXPECT_TRUE(store.searchFolders("dr", "unknown").empty());
    EXPECT_TRUE(store.searchFolders("  ", kGroup).empty());
    EXPECT_EQ(namesOf(store.allFolders(kGroup)),
        (std::vector<std::string> { "Drums", "Kicks", "Old Drafts", "S", "Vinyl Drums" }));
    EXPECT_EQ(store.allFiles(kGroup).size(), 6u);
    EXPECT_EQ(store.allFiles(kOther).size(), 1u);
    EXPECT_TRUE(store.allFiles("unknown").empty());

    // A change after a search is seen by the next one; a path the file index holds no record of gets
    // one from its name.
    store.modify([](IndexMaps& maps) {
        maps.searchIndex[kGroup]["kick"].erase("/S/Drums/Kick 909.wav");
        maps.searchIndex[kGroup]["kicker"].insert("/S/Drums/Kicker.wav");
        maps.searchIndex[kGroup]["ghost"].insert("/S/Ghost 128 BPM Am.wav");
    });
    EXPECT_EQ(pathsOf(store.search("kick", kGroup, true)),
        (std::vector<std::string> { "/S/Drums/808 Kick Hard.wav", "/S/Drums/Kicker.wav" }));
    const auto found = store.search("ghost", kGroup, false);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(std::tie(found[0].name, found[0].bpm, found[0].key, found[0].duration, found[0].id),
        std::make_tuple(
            "Ghost 128 BPM Am.wav", 128, "Am", std::nullopt, stableFileID("/S/Ghost 128 BPM Am.wav")));
}

TEST_F(SearchFixture, ExactNameFirstThenTheGivenOrder)
{
    // "Snare.wav" does not equal "snare"; the default order is natural by name.
    EXPECT_EQ(pathsOf(store.search("snare", kGroup, false)),
        (std::vector<std::string> {
            "/S/Vinyl Drums/Snare 2.wav", "/S/Vinyl Drums/Snare 10.wav", "/S/Vinyl Drums/Snare.wav" }));
    EXPECT_EQ(pathsOf(store.search("snare.WAV", kGroup, false)).front(), "/S/Vinyl Drums/Snare.wav");

    const FileOrder reversed = [](std::vector<FileInfo>& files) {
        std::sort(
            files.begin(), files.end(), [](const FileInfo& a, const FileInfo& b) { return a.path > b.path; });
    };
    const auto files = pathsOf(store.search("snare 2", kGroup, false, reversed));
    EXPECT_EQ(files, std::vector<std::string> { "/S/Vinyl Drums/Snare 2.wav" });
    EXPECT_EQ(pathsOf(store.filesInFolder("/S/Vinyl Drums", reversed)).front(), "/S/Vinyl Drums/Snare.wav");

    // Tempo first (files without one after), then natural by name: given with its leading key, so a
    // search orders only the part it shows until the whole order is worked out.
    const auto tempoKey = [](const FileSortKey& file) {
        return LeadingKey { file.bpm ? 0 : 1, file.bpm.value_or(0), 0, 0, 0 };
    };
    const FileOrder tempoFirst = [&](std::vector<FileInfo>& files) {
        std::stable_sort(files.begin(), files.end(), [&](const FileInfo& a, const FileInfo& b) {
            const auto x = tempoKey({ a.name, {}, a.bpm }), y = tempoKey({ b.name, {}, b.bpm });
            return x != y ? x < y : naturalCompare(a.name, b.name) < 0;
        });
    };

    // Hits as the window takes them: the same files in the same order, records only for the part shown,
    // whether the part shown is taken first or the whole list at once, and whether a query narrows the
    // hits of the one before or not; both while the whole order is still being worked out (its builder
    // held) and once it is. One hit has no record of its own.
    store.modify([](IndexMaps& maps) { maps.searchIndex[kGroup]["snare"].insert("/S/Snare 100 BPM.wav"); });
    const auto checkHits = [&] {
        for (const char* query : { "s", "snare", "snare.WAV", "snare 1", "kick", "drums", "zzz" }) {
            for (const NamedFileOrder& order :
                { NamedFileOrder { "natural", {} }, NamedFileOrder { "reversed", reversed },
                    NamedFileOrder { "tempo", tempoFirst, tempoKey, false },
                    NamedFileOrder { "tempo, asked per file", tempoFirst, tempoKey, true } }) {
                const auto expected = pathsOf(store.search(query, kGroup, true, order.order));
                const SearchHits hits = store.searchHits(query, kGroup, true, order);
                if (expected.size() > 2) {
                    EXPECT_EQ(pathsOf(hits.records(1, 2)),
                        std::vector<std::string>(expected.begin() + 1, expected.begin() + 3))
                        << query << " " << order.name;
                }
                EXPECT_EQ(pathsOf(hits.records(0, hits.size())), expected) << query << " " << order.name;
            }
        }
    };
    const auto holdBuilder = [&] {
        auto held = std::make_shared<std::promise<void>>();
        store.orderBuilder().post([gate = held->get_future().share()] { gate.wait(); });
        return held;
    };
    auto held = holdBuilder();
    checkHits();
    // The whole order is built apart from the writer: a write lands while that build still waits, and
    // a change of folder times alone keeps what it will make.
    auto write = std::async(std::launch::async, [&] {
        store.updateFolderTimes({ { "/S/Drums", 5.0 } }, {});
    });
    ASSERT_EQ(write.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    const auto tempoRanks = [&] { return &store.current()->search->ranks("tempo"); };
    EXPECT_FALSE(tempoRanks()->wholeDone);
    held->set_value();
    store.orderBuilder().run([] {});
    EXPECT_TRUE(tempoRanks()->wholeDone);
    checkHits();
    // A build for a state that a change replaced before it ran is dropped.
    held = holdBuilder();
    store.modify([](IndexMaps& maps) { maps.searchIndex[kGroup]["snare"].erase("/S/Snare 100 BPM.wav"); });
    const OrderRanks* replacedRanks = tempoRanks();
    const SnapshotPtr replacedState = store.current();
    (void)store.searchHits("snare", kGroup, false, { "tempo", tempoFirst, tempoKey, false });
    store.modify([](IndexMaps&) {});
    held->set_value();
    store.orderBuilder().run([] {});
    EXPECT_TRUE(replacedRanks->wholeQueued);
    EXPECT_FALSE(replacedRanks->wholeDone);
    const SearchHits snares = store.searchHits("snare", kGroup, false, { "natural", {} });
    ASSERT_EQ(snares.size(), 3u);
    EXPECT_EQ(pathsOf(snares.records(1, 5)),
        (std::vector<std::string> { "/S/Vinyl Drums/Snare 10.wav", "/S/Vinyl Drums/Snare.wav" }));
    CancelHandle replaced;
    replaced.cancel();
    EXPECT_TRUE(store.searchHits("snare", kGroup, false, { "natural", {} }, replaced).empty());
}

TEST(NaturalOrder, NumericCaseInsensitiveRanks)
{
    EXPECT_LT(naturalCompare("file9", "file10"), 0);
    EXPECT_LT(naturalCompare("Kit 2", "kit 10"), 0);
    EXPECT_EQ(naturalCompare("ABC", "abc"), 0);
    EXPECT_EQ(naturalRanks({ "b10", "B2", "a", "b2" }), (std::vector<std::uint32_t> { 3, 1, 0, 1 }));

    // Names prepared for many comparisons (read as UTF-8 bytes where they are valid) compare as the
    // collator does, and as the ranks order them.
    const std::vector<std::string_view> names { "Kick 10", "kick 9", "KICK 09", "Kick_9", "kick-9", "",
        "Été 2", "E\xCC\x81te\xCC\x81 10", "ete 1", "caf\xE9 120", "cafe 120", "caf\xC3\xA9 120", "808 Sub",
        "\xEF\xBB\xBF"
        "Bom",
        "#1 Hit", "  lead", "Ω Pad", "\xED\xA0\x80x" };
    const NaturalNames prepared(names);
    const auto ranks = naturalRanks(names);
    for (std::size_t a = 0; a < names.size(); ++a)
        for (std::size_t b = 0; b < names.size(); ++b) {
            const int expected = naturalCompare(names[a], names[b]);
            EXPECT_EQ(std::clamp(prepared.compare(a, b), -1, 1), std::clamp(expected, -1, 1))
                << names[a] << " / " << names[b];
            EXPECT_EQ(ranks[a] < ranks[b], expected < 0) << names[a] << " / " << names[b];
        }
}
