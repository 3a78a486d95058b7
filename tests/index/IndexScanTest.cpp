#include "IndexTestSupport.h"
#include "index/CacheFile.h"

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>

using namespace kivo::index;
using namespace kivo::index::test;
using kivo::test::ScratchDir;

namespace {

struct Recorder {
    std::vector<IndexProgress> reports;
    ProgressObserver observer()
    {
        return [this](const IndexProgress& p) { reports.push_back(p); };
    }
};

void writeFiles(const ScratchDir& dir, const std::string& folder, int count)
{
    for (int i = 0; i < count; ++i)
        dir.write(folder + "/s" + std::to_string(i) + ".wav", "x");
}

} // namespace

TEST(IndexScan, ReportsProgressAboutTwoHundredTimes)
{
    ScratchDir dir;
    writeFiles(dir, "A/x", 100);
    writeFiles(dir, "A/y", 50);
    for (int i = 0; i < 60; ++i)
        dir.mkdir("A/folders/f" + std::to_string(i));
    IndexMaps maps;
    Recorder r;
    FolderScanner scanner({}, r.observer(), {});
    const auto roots = buildIndex(maps, { { "G", { dir.str() + "/A" }, { "/Unplugged" } } }, scanner, kOpen);
    EXPECT_EQ(roots.at("G"), (std::vector<std::string> { dir.str() + "/A", "/Unplugged" }));
    EXPECT_EQ(maps.groupRoots, roots);
    // 63 folders: one counting report at the 50th; 150 files: a step of one, so one report per file,
    // then the final one.
    ASSERT_EQ(r.reports.size(), 2u + 150u + 1u);
    EXPECT_EQ(r.reports[0], (IndexProgress { 0, 0, 0, 0, true }));
    EXPECT_EQ(r.reports[1], (IndexProgress { 0, 0, 0, 50, true }));
    EXPECT_EQ(r.reports[2], (IndexProgress { 1.0 / 150, 1, 150, 63, false }));
    EXPECT_EQ(r.reports.back(), (IndexProgress { 1.0, 150, 150, 63, false }));

    writeFiles(dir, "B", 1000);
    Recorder thousand;
    maps = scanned({ { "G", { dir.str() + "/B" }, {} } }, std::move(maps), thousand.observer());
    ASSERT_EQ(thousand.reports.size(), 1u + 200u + 1u);
    EXPECT_EQ(thousand.reports[1].processed, 5);

    // No collections at all: one final report and five empty maps.
    Recorder none;
    maps = scanned({}, std::move(maps), none.observer());
    ASSERT_EQ(none.reports.size(), 1u);
    EXPECT_EQ(none.reports[0].fraction, 1.0);
    EXPECT_TRUE(maps.fileIndex.empty() && maps.directoryIndex.empty() && maps.searchIndex.empty()
        && maps.keywordIndex.empty() && maps.groupRoots.empty());
}

TEST(IndexScan, OverlappingCollectionsAndRootsWithoutAccess)
{
    ScratchDir dir;
    writeFiles(dir, "A", 3);
    writeFiles(dir, "Locked", 3);
    dir.write("Locked/Keys/Piano.wav", "x");
    const std::string a = dir.str() + "/A";
    const std::string locked = dir.str() + "/Locked";
    const FolderAccess access { [&](const std::string& p) { return p != locked; },
        [](const std::string&) {} };
    IndexMaps maps = scanned({ { "G", { a, locked }, {} }, { "H", { a }, {} } }, {}, {}, access);
    EXPECT_EQ(maps.fileIndex.size(), 3u);
    EXPECT_EQ(maps.searchIndex["G"]["s0"].size(), 1u);
    EXPECT_EQ(maps.searchIndex["H"]["s0"].size(), 1u);
    // A root whose access cannot begin is still a root of its collection.
    EXPECT_EQ(maps.groupRoots["G"], (std::vector<std::string> { a, locked }));

    // Forgetting G keeps A's records: H still has that root.
    removeGroups(maps, { "G" });
    EXPECT_EQ(maps.fileIndex.size(), 3u);
    EXPECT_FALSE(maps.searchIndex.count("G"));
    removeRoots(maps, { a }, "H");
    EXPECT_TRUE(maps.fileIndex.empty());
    EXPECT_TRUE(maps.directoryIndex.empty());
    EXPECT_TRUE(maps.searchIndex["H"].empty());
    EXPECT_TRUE(maps.groupRoots["H"].empty());

    // A full build keeps what it knew of a root it cannot resolve (its drive gone), searchable, while
    // the reachable root is read afresh; a collection that is gone takes those records even then.
    IndexMaps known = scanned({ { "G", { a, locked }, {} } });
    dir.write("A/later.wav", "x");
    known = scanned({ { "G", { a }, { locked } } }, std::move(known));
    EXPECT_TRUE(
        known.fileIndex.count(locked + "/Keys/Piano.wav") && known.directoryIndex.count(locked + "/Keys"));
    EXPECT_TRUE(known.fileIndex.count(a + "/later.wav"));
    EXPECT_TRUE(known.searchIndex.at("G").count("piano"));
    EXPECT_EQ(known.groupRoots.at("G"), (std::vector<std::string> { a, locked }));
    known = scanned({ { "H", { a }, { locked } } }, std::move(known));
    EXPECT_FALSE(known.searchIndex.count("G"));
}

// The store's build goes straight into the compact form; it must make the state, and the cache file,
// that the maps of the same walk make: the same records in the same order, including a folder walked
// twice (overlapping roots) and a file only the earlier of those walks saw.
TEST(IndexScan, AStoreBuildMakesTheStateTheMapsMake)
{
    ScratchDir dir;
    writeFiles(dir, "A", 3);
    writeFiles(dir, "A/Sub", 4);
    dir.write("A/Sub/Bass 120 Am.wav", "x");
    dir.write("A/Sub/gone.wav", "x");
    dir.write("A/Deep 90 BPM/Lead.mid", "x");
    const std::string a = dir.str() + "/A", sub = a + "/Sub";
    const std::vector<ScanGroup> plan { { "G", { a, sub }, {} }, { "H", { a }, {} } };
    // The folder's time stays put as its file comes and goes, so that both builds record the same.
    const auto pinTime = [sub] {
        const timespec times[2] = { { 1000000000, 0 }, { 1000000000, 0 } };
        ::utimensat(AT_FDCWD, sub.c_str(), times, 0);
    };
    const HeaderReader reader = [gone = sub + "/gone.wav", pinTime](const std::string& path) {
        if (path == gone) {
            std::remove(gone.c_str()); // gone before the later walks of its folder list it
            pinTime();
        }
        HeaderValues values;
        if (path.ends_with("1.wav"))
            values.duration = 1.5;
        return values;
    };
    const ReferenceClock clock = [] { return 1000.0; };

    pinTime();
    IndexMaps maps;
    FolderScanner scanner({}, {}, reader, clock);
    buildIndex(maps, plan, scanner, kOpen);
    ASSERT_TRUE(maps.fileIndex.contains(sub + "/gone.wav"));

    dir.write("A/Sub/gone.wav", "x");
    pinTime();
    CacheIndexStore store(quietStore(dir));
    ScanOptions options = openScan(reader);
    options.clock = clock;
    buildIndex(store, plan, {}, {}, options);
    expectSameIndex(store.snapshot(), maps);
    EXPECT_EQ(encodeCacheData(store.current()->index, 0), encodeCacheData(compactIndexOf(maps), 0));
}

TEST(IndexScan, SyncScansOnlyNewRootsAndDropsWhatIsGone)
{
    ScratchDir dir;
    writeFiles(dir, "A", 2);
    writeFiles(dir, "B", 2);
    writeFiles(dir, "C", 2);
    const std::string a = dir.str() + "/A", b = dir.str() + "/B", c = dir.str() + "/C";
    IndexMaps maps = scanned({ { "G", { a, b }, {} }, { "Old", { c }, {} } });
    ASSERT_EQ(maps.fileIndex.size(), 6u);

    // A file added to a root already indexed is left to the quick refresh.
    dir.write("A/later.wav", "x");
    writeFiles(dir, "D", 3);
    const std::string d = dir.str() + "/D";
    FolderScanner scanner({}, {}, {});
    syncIndex(maps, { { "G", { a, d }, { "/Away" } } }, scanner, kOpen);

    EXPECT_EQ(maps.groupRoots.size(), 1u);
    EXPECT_EQ(maps.groupRoots["G"], (std::vector<std::string> { a, "/Away", d }));
    EXPECT_EQ(maps.fileIndex.size(), 5u); // A's two and D's three
    EXPECT_FALSE(maps.fileIndex.count(a + "/later.wav"));
    EXPECT_FALSE(maps.directoryIndex.count(b));
    EXPECT_FALSE(maps.directoryIndex.count(c));
    EXPECT_EQ(maps.searchIndex["G"]["s0"], (PathSet { a + "/s0.wav", d + "/s0.wav" }));
    EXPECT_EQ(maps.keywordIndex["G"]["d"], (PathSet { d + "/s0.wav", d + "/s1.wav", d + "/s2.wav" }));
    EXPECT_FALSE(maps.searchIndex.count("Old"));

    // Nothing new: nothing changes.
    syncIndex(maps, { { "G", { a, d }, { "/Away" } } }, scanner, kOpen);
    EXPECT_EQ(maps.groupRoots["G"], (std::vector<std::string> { a, "/Away", d }));
    EXPECT_EQ(maps.fileIndex.size(), 5u);
}
