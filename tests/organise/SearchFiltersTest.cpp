#include "organise/SearchFilters.h"
#include "organise/FilterControls.h"
#include "organise/FilterResults.h"
#include "organise/MetadataInheritance.h"
#include "organise/Shuffle.h"
#include "support/PaperLibrary.h"

#include <gtest/gtest.h>

#include <numeric>

using namespace kivo::organise;
using namespace kivo::index;
using kivo::music::KeySpelling;
using kivo::test::fileInfo;

namespace {

const TagId kDrums = *Uuid::parse("11111111-1111-4111-8111-111111111111");
const TagId kDark = *Uuid::parse("22222222-2222-4222-8222-222222222222");
const GroupID kGroup = "00000000-0000-4000-8000-000000000001";
const GroupID kOther = "00000000-0000-4000-8000-000000000002";

KeyFilter keyFilter(int pitchClass, std::optional<bool> minor, bool relative = false)
{
    return KeyFilter { pitchClass, minor, relative };
}

MetadataInheritance pass(const MetadataOverrides& overrides = {}, const TagMaps& tags = {})
{
    return MetadataInheritance(
        std::make_shared<const MetadataOverrides>(overrides), std::make_shared<const TagMaps>(tags));
}

} // namespace

TEST(SearchFilters, KeyMatchesItsModeAndOnlyWithAModeItsRelative)
{
    const auto aMinorRelative = keyFilter(9, true, true);
    EXPECT_TRUE(aMinorRelative.matches(9, true)); // A minor
    EXPECT_TRUE(aMinorRelative.matches(0, false)); // C major
    EXPECT_FALSE(aMinorRelative.matches(9, false)); // A major: same root, other mode
    EXPECT_FALSE(aMinorRelative.matches(0, true)); // C minor
    EXPECT_FALSE(aMinorRelative.matches(4, true)); // E minor
    EXPECT_FALSE(keyFilter(9, true).matches(0, false));
    const auto cMajorRelative = keyFilter(0, false, true);
    EXPECT_TRUE(cMajorRelative.matches(9, true));
    EXPECT_FALSE(cMajorRelative.matches(0, true));
    EXPECT_FALSE(cMajorRelative.matches(3, false)); // the minor's relative, not the major's
    for (const bool relative : { false, true }) {
        const auto eitherA = keyFilter(9, std::nullopt, relative);
        EXPECT_TRUE(eitherA.matches(9, true));
        EXPECT_TRUE(eitherA.matches(9, false));
        EXPECT_FALSE(eitherA.matches(0, false));
    }
}

TEST(SearchFilters, TempoBoundsExactMaximumOrRangeAndNoTempoFailsAnyBound)
{
    using Bound = std::optional<std::int64_t>;
    // A minimum alone is an exact tempo; bounds are never reordered, so a minimum over the maximum
    // passes nothing; no bound passes everything, no tempo fails any bound.
    const std::tuple<Bound, Bound, Bound, bool> cases[] { { {}, {}, {}, true }, { 120, {}, 120, true },
        { 120, {}, 121, false }, { 120, {}, 119, false }, { 120, {}, {}, false }, { {}, 120, 0, true },
        { {}, 120, 120, true }, { {}, 120, 121, false }, { {}, 120, {}, false }, { 100, 120, 100, true },
        { 100, 120, 99, false }, { 130, 120, 125, false }, { 130, 120, 130, false } };
    for (const auto& [min, max, bpm, passes] : cases) {
        SearchFilters f;
        f.minBPM = min;
        f.maxBPM = max;
        EXPECT_EQ(f.bpmAccepts(bpm), passes)
            << min.value_or(-1) << "-" << max.value_or(-1) << ": " << bpm.value_or(-1);
        EXPECT_EQ(f.hasFilter(), min || max);
    }
    // Mode and shuffle are no filter.
    SearchFilters g;
    g.mode = FilterMode::folder;
    g.shuffleSeed = 1;
    EXPECT_FALSE(g.hasFilter());
}

TEST(SearchFilters, ItemsPassOnEffectiveTagsTempoAndKey)
{
    MetadataOverrides o;
    o.setBPM(120, { "/Loops" });
    o.clearBPM({ "/Loops/cleared 120bpm.wav" });
    o.setKey("Am", { "/Loops/Sub" });
    TagMaps tags;
    tags.assignments["/Loops"] = { kDrums };
    tags.assignments["/Loops/Sub/a.wav"] = { kDark };
    tags.exclusions["/Loops/Sub/x.wav"] = { kDrums };
    auto m = pass(o, tags);

    SearchFilters f;
    f.tags = { kDrums, kDark };
    EXPECT_TRUE(passesFile(fileInfo("/Loops/Sub/a.wav"), f, m));
    EXPECT_FALSE(passesFile(fileInfo("/Loops/b.wav"), f, m)); // one of the two only
    f.tags = { kDrums };
    EXPECT_FALSE(passesFile(fileInfo("/Loops/Sub/x.wav"), f, m)); // excluded below the folder

    f = {};
    f.minBPM = 120;
    EXPECT_TRUE(passesFile(fileInfo("/Loops/Sub/a.wav"), f, m)); // from the folder above
    EXPECT_FALSE(passesFile(fileInfo("/Loops/own.wav", 90), f, m)); // its own value wins
    EXPECT_FALSE(passesFile(fileInfo("/Loops/cleared 120bpm.wav", 120), f, m));
    EXPECT_FALSE(passesFile(fileInfo("/Other/none.wav"), f, m));

    f = {};
    f.key = keyFilter(0, false, true);
    EXPECT_FALSE(passesFile(fileInfo("/Loops/Sub/c.wav", {}, "F#"), f, m));
    EXPECT_TRUE(passesFile(fileInfo("/Loops/Sub/c.wav"), f, m)); // inherits A minor, C major's relative
    EXPECT_FALSE(passesFile(fileInfo("/Other/bad.wav", {}, "H7"), f, m)); // a key that does not parse
    EXPECT_TRUE(passesFile(fileInfo("/Other/c.wav", {}, "C"), f, m));

    // Folders read their own values from their names.
    f = {};
    f.minBPM = 90;
    f.key = keyFilter(9, true);
    EXPECT_TRUE(passesFolder("/Pads/Pads Am 90bpm", "Pads Am 90bpm", f, m));
    EXPECT_FALSE(passesFolder("/Pads/Pads Em 90bpm", "Pads Em 90bpm", f, m));
    EXPECT_TRUE(passesFolder("/Loops/Sub/Dark 90bpm", "Dark 90bpm", f, m)); // the key from above
}

TEST(Shuffle, TheSplitMix64SequenceWithAnUnbiasedDrawAndForwardFisherYates)
{
    SplitMix64 zero(0);
    EXPECT_EQ(zero.next(), 0xE220A8397B1DCDAFULL);
    EXPECT_EQ(zero.next(), 0x6E789E6AA1B965F4ULL);
    // Half of all draws below 2^63 + 1 land in the rejected stretch: the draws are those after it.
    SplitMix64 seven(7);
    const std::uint64_t n = (1ULL << 63) + 1;
    EXPECT_EQ(seven.below(n), 3595544800446187243ULL);
    EXPECT_EQ(seven.below(n), 8308050873407804673ULL);
    EXPECT_EQ(seven.below(n), 2300599727732774152ULL);
    EXPECT_EQ(seven.below(n), 1238314238945538992ULL);

    std::vector<int> items(10);
    std::iota(items.begin(), items.end(), 0);
    EXPECT_EQ(shuffled(items, 42), (std::vector<int> { 7, 2, 4, 5, 1, 9, 6, 3, 8, 0 }));
    EXPECT_EQ(shuffled(items, 42), shuffled(items, 42));
    EXPECT_EQ(shuffled(items, 43), (std::vector<int> { 7, 6, 5, 8, 4, 2, 0, 9, 1, 3 }));
    EXPECT_EQ(shuffled(std::vector<int> { 5 }, 42), (std::vector<int> { 5 }));
}

// The panel's own test drives these through its controls; here are the cases it does not reach.
TEST(FilterControls, FieldsKeyButtonsShuffleAndTheirTexts)
{
    EXPECT_EQ(cleanBPMText("a-b"), "");
    EXPECT_EQ(bpmBound(""), std::nullopt);
    EXPECT_EQ(bpmBound("090"), 90);

    SearchFilters f;
    pressQuality(f, true); // no key: nothing
    EXPECT_FALSE(f.key);
    chooseKeyRoot(f, 9);
    toggleRelative(f); // no mode yet: nothing
    EXPECT_FALSE(f.key->includeRelative);
    pressQuality(f, true);
    toggleRelative(f);
    pressQuality(f, false);
    pressQuality(f, false); // the same quality again leaves the root, its relative unshown
    chooseKeyRoot(f, 6);
    EXPECT_EQ(keySummary(*f.key, KeySpelling::automatic), "Gb");
    EXPECT_EQ(keySummary(*f.key, KeySpelling::sharp), "F#");

    // A query of spaces is none; a tag alone is a filter to shuffle.
    EXPECT_FALSE(shuffleUsable("  ", {}));
    toggleTag(f, kDark);
    EXPECT_EQ(shuffleHelp("", f), kShuffleOffHelp);
    toggleTag(f, kDark);
    EXPECT_TRUE(f.tags.empty());
}

namespace {

struct ResultsFixture : ::testing::Test {
    CacheIndexStore store { CacheIndexStoreOptions {
        "/nonexistent/cache.json", [](const std::string&) {}, {} } };
    IndexMaps maps;

    void add(const GroupID& g, const FileInfo& f)
    {
        const std::string folder(parentPath(f.path));
        maps.directoryIndex[folder].path = folder;
        if (!maps.fileIndex.contains(f.path))
            maps.directoryIndex[folder].files.push_back(f);
        maps.fileIndex[f.path] = f;
        for (const auto& token : tokenize(f.name, 1))
            maps.searchIndex[g][token].insert(f.path);
    }
    void SetUp() override
    {
        maps.groupRoots[kGroup] = { "/S" };
        maps.groupRoots[kOther] = { "/S/Drums", "/T" };
        maps.directoryIndex["/S"].path = "/S";
        maps.directoryIndex["/T"].path = "/T";
        add(kGroup, fileInfo("/S/Drums/Kick 120.wav", 120, "Am"));
        add(kGroup, fileInfo("/S/Drums/Snare 120.wav", 120));
        add(kGroup, fileInfo("/S/Pads Am 90bpm/Pad.wav", 90, "C"));
        add(kOther, fileInfo("/S/Drums/Kick 120.wav", 120, "Am"));
        add(kOther, fileInfo("/S/Drums/Snare 120.wav", 120));
        add(kOther, fileInfo("/T/Kick 128.wav", 128));
        maps.directoryIndex["/S/Pads Am 90bpm"].path = "/S/Pads Am 90bpm";
        rebuildKeywordIndex(maps);
        store.modify([&](IndexMaps& into) { into = maps; });
    }
    std::vector<std::string> paths(const SearchRequest& request, const CancelHandle& cancel = {})
    {
        auto m = pass();
        auto results = buildResults(store, request, m, cancel);
        std::vector<std::string> out;
        if (!results)
            return { "cancelled" };
        for (const auto& n : resultNodes(*results, m))
            out.push_back(n.path);
        return out;
    }
};

const FileOrder byPath = [](std::vector<FileInfo>& files) {
    std::sort(files.begin(), files.end(), [](const auto& a, const auto& b) { return a.path < b.path; });
};

} // namespace

TEST_F(ResultsFixture, FiltersAloneOrOverAQueryAcrossCollectionsShuffledOnRequest)
{
    SearchRequest r;
    r.groups = { kGroup };
    r.order = byPath;
    r.filters.minBPM = 120;
    EXPECT_EQ(paths(r), (std::vector<std::string> { "/S/Drums/Kick 120.wav", "/S/Drums/Snare 120.wav" }));
    r.query = "  kick ";
    EXPECT_EQ(paths(r), (std::vector<std::string> { "/S/Drums/Kick 120.wav" }));
    r.filters = {};
    r.query = "";
    EXPECT_EQ(paths(r).size(), 3u); // no query, no filter: every file of the collection

    // Every collection: joined in order, a file of both shown once.
    r.groups = { kGroup, kOther };
    r.query = "kick";
    EXPECT_EQ(paths(r), (std::vector<std::string> { "/S/Drums/Kick 120.wav", "/T/Kick 128.wav" }));

    // Given the order by name, a query's hits come counted, in the same order as the records the sort
    // and the filters make: in one collection or several (a file of both once), filtered, shuffled
    // (one seed, one order); a cancelled search gives nothing.
    auto m = pass();
    CancelHandle cancelled;
    cancelled.cancel();
    const auto sameAsRecords = [&](SearchRequest request, std::size_t expected) {
        request.order = effectiveFileOrder({}, nullptr);
        request.namedOrder = {};
        const auto records = paths(request);
        EXPECT_FALSE(buildResults(store, request, m)->hits);
        request.namedOrder = namedBrowserOrder({});
        const auto counted = buildResults(store, request, m);
        ASSERT_TRUE(counted && counted->hits);
        EXPECT_EQ(counted->size(), expected);
        EXPECT_EQ(paths(request), records);
        // Rows asked for as the list scrolls, from the middle on, across the collections.
        std::vector<std::string> later;
        for (const auto& f : counted->hits->records(1, 10))
            later.push_back(f.path);
        EXPECT_EQ(later, std::vector<std::string>(records.begin() + 1, records.end()));
        EXPECT_EQ(paths(request, cancelled), (std::vector<std::string> { "cancelled" }));
    };
    r = {};
    r.groups = { kGroup };
    r.query = "a";
    sameAsRecords(r, 3);
    r.filters.minBPM = 120;
    sameAsRecords(r, 2);
    r.groups = { kOther, kGroup };
    r.query = "wav";
    sameAsRecords(r, 2);
    r.filters = {};
    sameAsRecords(r, 4);
    for (const std::uint64_t seed : { 1, 3, 8 }) {
        r.filters.shuffleSeed = seed;
        sameAsRecords(r, 4);
    }
    r.filters.maxBPM = 125;
    sameAsRecords(r, 3);
}

TEST_F(ResultsFixture, FolderModeAsksForAQueryOrAFilterBeforeListingFolders)
{
    SearchRequest r;
    r.groups = { kGroup };
    r.filters.mode = FilterMode::folder;
    auto m = pass();
    const auto nothing = buildResults(store, r, m);
    ASSERT_TRUE(nothing);
    EXPECT_TRUE(nothing->needsQueryForFolders);
    EXPECT_TRUE(nothing->folders.empty());

    r.filters.key = keyFilter(9, true);
    auto nodes = resultNodes(*buildResults(store, r, m), m);
    ASSERT_EQ(nodes.size(), 1u);
    EXPECT_EQ(nodes[0].path, "/S/Pads Am 90bpm");
    EXPECT_TRUE(nodes[0].isDirectory);
    EXPECT_EQ(nodes[0].bpm, 90);
    EXPECT_EQ(nodes[0].key, "Am");

    r.filters = {};
    r.filters.mode = FilterMode::folder;
    r.query = "dr";
    EXPECT_EQ(paths(r), (std::vector<std::string> { "/S/Drums" }));
}
