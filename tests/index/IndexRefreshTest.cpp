#include "index/IndexRefresh.h"
#include "index/IndexScan.h"

#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <set>

using namespace kivo::index;
using kivo::test::ScratchDir;

namespace {

const FolderAccess kOpen { [](const std::string&) { return true; }, [](const std::string&) {} };
const MountedVolumes kNoVolumes = [] { return std::set<std::string>(); };

IndexMaps fullBuild(const std::vector<ScanGroup>& groups)
{
    IndexMaps maps;
    CancelHandle stop;
    FolderScanner scanner(stop, {}, {});
    buildIndex(maps, groups, scanner, kOpen);
    return maps;
}

template <typename Map> std::set<std::string> keys(const Map& m)
{
    std::set<std::string> out;
    for (const auto& [k, v] : m)
        out.insert(k);
    return out;
}

// Same records, token sets and folder lists (as sets) as a fresh scan would give.
void expectSameIndex(const IndexMaps& a, const IndexMaps& b)
{
    EXPECT_EQ(keys(a.fileIndex), keys(b.fileIndex));
    EXPECT_EQ(keys(a.directoryIndex), keys(b.directoryIndex));
    EXPECT_EQ(a.searchIndex, b.searchIndex);
    EXPECT_EQ(a.keywordIndex, b.keywordIndex);
    for (const auto& [path, info] : b.directoryIndex) {
        if (!a.directoryIndex.count(path))
            continue;
        const auto& mine = a.directoryIndex.at(path);
        EXPECT_EQ(std::set<std::string>(mine.subdirectories.begin(), mine.subdirectories.end()),
            std::set<std::string>(info.subdirectories.begin(), info.subdirectories.end()))
            << path;
        std::set<std::string> mineFiles, theirFiles;
        for (const auto& f : mine.files)
            mineFiles.insert(f.path);
        for (const auto& f : info.files)
            theirFiles.insert(f.path);
        EXPECT_EQ(mineFiles, theirFiles) << path;
    }
}

} // namespace

TEST(IndexRefresh, AppliedDeltaMatchesAFreshScan)
{
    ScratchDir dir;
    const std::string root = dir.mkdir("Drums");
    dir.write("Drums/Kicks/Kick 01.wav", "x");
    dir.write("Drums/Kicks/Kick 02.wav", "x");
    dir.write("Drums/Snares/Old/Snare 01.wav", "x");
    dir.write("Drums/Hats/Hat.wav", "x");
    const std::vector<ScanGroup> groups { { "G", { root }, {} }, { "K", { root + "/Kicks" }, {} } };
    IndexMaps maps = fullBuild(groups);
    // Push every stored time back so each change below is seen whatever the clock's resolution.
    for (auto& [path, info] : maps.directoryIndex)
        info.contentModified = *info.contentModified - 10.0;

    dir.write("Drums/Kicks/Kick 03 120 BPM.wav", "x");
    std::remove((root + "/Kicks/Kick 01.wav").c_str());
    ASSERT_EQ(std::rename((root + "/Snares").c_str(), (root + "/Snare Drums").c_str()), 0);
    dir.write("Drums/Toms/Deep/Tom.wav", "x");
    std::remove((root + "/Hats/Hat.wav").c_str());
    std::remove((root + "/Hats").c_str());

    // Lists fetched only for the changed folders give the same delta as full snapshots.
    const SnapshotLists listsOf
        = [&](const std::vector<std::string>& paths) { return directorySnapshots(maps, paths); };
    const auto delta = computeQuickRefreshDelta(directorySnapshots(maps, SnapshotContent::timesOnly),
        { root, root + "/Kicks" }, {}, kNoVolumes, listsOf);
    const auto full
        = computeQuickRefreshDelta(directorySnapshots(maps), { root, root + "/Kicks" }, {}, kNoVolumes);
    EXPECT_EQ(delta.newFiles, full.newFiles);
    EXPECT_EQ(delta.removedFiles, full.removedFiles);
    EXPECT_EQ(delta.newFolders, full.newFolders);
    EXPECT_EQ(delta.removedFolders, full.removedFolders);
    EXPECT_EQ(delta.freshMTimes, full.freshMTimes);
    EXPECT_EQ(delta.movedFolders, (std::vector<FolderMove> { { root + "/Snares", root + "/Snare Drums" } }));
    CancelHandle stop;
    FolderScanner scanner(stop, {}, {});
    applyQuickRefreshDelta(maps, delta, scanner);

    expectSameIndex(maps, fullBuild(groups));
    EXPECT_EQ(maps.fileIndex.at(root + "/Kicks/Kick 03 120 BPM.wav").bpm, 120);
    // The refreshed folders carry their new times: the next refresh finds nothing.
    const auto again
        = computeQuickRefreshDelta(directorySnapshots(maps), { root, root + "/Kicks" }, {}, kNoVolumes);
    EXPECT_FALSE(again.hasChanges());
    EXPECT_TRUE(again.freshMTimes.empty());
}

TEST(IndexRefresh, RemovesRelocatesAndReindexesSingleFolders)
{
    ScratchDir dir;
    const std::string root = dir.mkdir("Lib");
    dir.write("Lib/A/a1.wav", "x");
    dir.write("Lib/A/Sub/a2.wav", "x");
    dir.write("Lib/B/b1.wav", "x");
    IndexMaps maps = fullBuild({ { "G", { root }, {} }, { "H", { root }, {} } });

    auto removed = removeFolder(maps, root + "/A");
    std::sort(removed.begin(), removed.end());
    EXPECT_EQ(removed, (std::vector<std::string> { root + "/A/Sub/a2.wav", root + "/A/a1.wav" }));
    EXPECT_FALSE(maps.directoryIndex.count(root + "/A/Sub"));
    EXPECT_EQ(maps.directoryIndex.at(root).subdirectories, std::vector<std::string> { root + "/B" });
    EXPECT_FALSE(maps.searchIndex["G"].count("a1"));
    EXPECT_FALSE(maps.keywordIndex["H"].count("a"));

    // Reading a folder again puts back exactly what a scan finds.
    dir.write("Lib/A/a3.wav", "x");
    CancelHandle stop;
    FolderScanner scanner(stop, {}, {});
    reindexFolder(maps, root + "/A", "G", scanner);
    EXPECT_TRUE(maps.fileIndex.count(root + "/A/a3.wav"));
    EXPECT_TRUE(maps.searchIndex["G"]["a3"].count(root + "/A/a3.wav"));
    EXPECT_FALSE(maps.searchIndex["H"].count("a3")); // only the given collection
    reindexFolder(maps, "/Elsewhere", "G", scanner); // not under the collection: nothing happens
    EXPECT_EQ(maps.fileIndex.size(), 4u);

    removeFile(maps, root + "/B/b1.wav");
    EXPECT_FALSE(maps.fileIndex.count(root + "/B/b1.wav"));
    EXPECT_TRUE(maps.directoryIndex.at(root + "/B").files.empty());
    EXPECT_FALSE(maps.searchIndex["G"].count("b1"));
    EXPECT_FALSE(maps.keywordIndex["G"].count("b"));

    maps.groupRoots["G"] = { "/X", root, "/Y" };
    replaceRoot(maps, root, "/Moved", { "G" });
    EXPECT_EQ(maps.groupRoots["G"], (std::vector<std::string> { "/X", "/Moved", "/Y" }));
    EXPECT_EQ(maps.groupRoots["H"], std::vector<std::string> { root });

    applyFreshTimes(maps, { { root, 5.0 }, { "/Unknown", 6.0 } }, { { root, 77 } });
    EXPECT_EQ(maps.directoryIndex.at(root).contentModified, 5.0);
    EXPECT_EQ(maps.directoryIndex.at(root).inode, 77u);
    EXPECT_FALSE(maps.directoryIndex.count("/Unknown"));
}
