#include "IndexTestSupport.h"

#include <cstdio>

using namespace kivo::index;
using namespace kivo::index::test;
using kivo::test::ScratchDir;

TEST(IndexRefresh, AppliedDeltaMatchesAFreshScan)
{
    ScratchDir dir;
    const std::string root = dir.mkdir("Drums");
    dir.write("Drums/Kicks/Kick 01.wav", "x");
    dir.write("Drums/Kicks/Kick 02.wav", "x");
    dir.write("Drums/Snares/Old/Snare 01.wav", "x");
    dir.write("Drums/Hats/Hat.wav", "x");
    dir.write("Drums/Toms/Tom.wav", "x");
    const std::vector<ScanGroup> groups { { "G", { root }, {} }, { "K", { root + "/Kicks" }, {} } };
    IndexMaps maps = scanned(groups);
    // Push every stored time back so each change below is seen whatever the clock's resolution.
    for (auto& [path, info] : maps.directoryIndex)
        info.contentModified = *info.contentModified - 10.0;

    dir.write("Drums/Kicks/Kick 03 120 BPM.wav", "x");
    dir.write("Drums/Kicks/readme.txt", "x"); // changes the time, adds nothing
    std::remove((root + "/Kicks/Kick 01.wav").c_str());
    ASSERT_EQ(std::rename((root + "/Snares").c_str(), (root + "/Snare Drums").c_str()), 0);
    dir.write("Drums/Perc/Deep/Tom.wav", "x");
    std::remove((root + "/Hats/Hat.wav").c_str());
    std::remove((root + "/Hats").c_str());
    ASSERT_EQ(std::rename((root + "/Toms").c_str(), (dir.str() + "/Toms Outside").c_str()), 0);

    // Lists fetched only for the changed folders give the same delta as full snapshots.
    const SnapshotLists listsOf
        = [&](const std::vector<std::string>& paths) { return directorySnapshots(maps, paths); };
    const auto delta = computeQuickRefreshDelta(directorySnapshots(maps, SnapshotContent::timesOnly),
        { root, root + "/Kicks" }, {}, kNoVolumes, listsOf);
    const auto full
        = computeQuickRefreshDelta(directorySnapshots(maps), { root, root + "/Kicks" }, {}, kNoVolumes);
    EXPECT_EQ(delta.newFiles, std::vector<std::string> { root + "/Kicks/Kick 03 120 BPM.wav" });
    EXPECT_EQ(delta.removedFiles, std::vector<std::string> { root + "/Kicks/Kick 01.wav" });
    EXPECT_EQ(delta.newFolders, (std::vector<std::string> { root + "/Perc", root + "/Snare Drums" }));
    EXPECT_EQ(delta.removedFolders,
        (std::vector<std::string> { root + "/Hats", root + "/Snares", root + "/Toms" }));
    // The folder moved outside the roots is simply gone; the renamed one is paired by file number.
    EXPECT_EQ(delta.movedFolders, (std::vector<FolderMove> { { root + "/Snares", root + "/Snare Drums" } }));
    // Drums and Kicks; the moved folders' own times are untouched.
    EXPECT_EQ(keysOf(delta.freshMTimes), (std::set<std::string> { root, root + "/Kicks" }));
    EXPECT_EQ(std::tie(delta.newFiles, delta.removedFiles, delta.newFolders, delta.removedFolders,
                  delta.freshMTimes),
        std::tie(full.newFiles, full.removedFiles, full.newFolders, full.removedFolders, full.freshMTimes));
    // Without a recorded number a vanished folder is never paired.
    auto withoutNumbers = directorySnapshots(maps);
    for (auto& s : withoutNumbers)
        s.inode.reset();
    EXPECT_TRUE(detectFolderMoves(delta.removedFolders, delta.newFolders, withoutNumbers).empty());
    EXPECT_TRUE(detectFolderMoves({}, delta.newFolders, directorySnapshots(maps)).empty());

    // The store patches its compact form to the same index as the maps get, and as a scan makes.
    CacheIndexStore store(quietStore(dir));
    store.replace([&](IndexMaps& into) { into = maps; });
    const SnapshotPtr before = store.current();
    const IndexMaps mapsBefore = maps;
    applyQuickRefreshDelta(store, delta, {}, openScan());
    FolderScanner scanner({}, {}, {});
    applyQuickRefreshDelta(maps, delta, scanner);
    expectSameIndex(maps, scanned(groups), false);
    expectSameIndex(store.snapshot(), maps, false);
    // The patched state shares its arrays with the one before, which its readers still see unchanged.
    expectSameIndex(mapsOf(before->index), mapsBefore);
    // Its token lists are the shared ones with the changed tokens laid over them: searches read through
    // that layer exactly as they read lists laid out afresh (exact names first, then the rest).
    EXPECT_FALSE(store.current()->index.namesOf("G")->laidOut());
    CacheIndexStore fresh(quietStore(dir));
    fresh.replace([&](IndexMaps& into) { into = maps; });
    for (const std::string query : { "kick", "Kick 03 120 BPM", "tom", "snare drums", "hat", "0" })
        for (const GroupID group : { "G", "K" })
            EXPECT_EQ(pathsOf(store.search(query, group, true)), pathsOf(fresh.search(query, group, true)))
                << query << " in " << group;
    // So does a sync that adds a root, to a collection and to a new one.
    dir.write("Loops/Loop 90.wav", "x");
    const std::string loops = dir.str() + "/Loops";
    const std::vector<ScanGroup> more { { "G", { root, loops }, {} }, { "K", { root + "/Kicks" }, {} },
        { "L", { loops, root + "/Perc" }, {} } };
    syncIndex(store, more, {}, {}, openScan());
    syncIndex(maps, more, scanner, kOpen);
    expectSameIndex(store.snapshot(), maps, false);
    EXPECT_EQ(maps.fileIndex.at(root + "/Kicks/Kick 03 120 BPM.wav").bpm, 120);
    // The refreshed folders carry their new times: the next refresh finds nothing.
    const auto again
        = computeQuickRefreshDelta(directorySnapshots(maps), { root, root + "/Kicks" }, {}, kNoVolumes);
    EXPECT_FALSE(again.hasChanges());
    EXPECT_TRUE(again.freshMTimes.empty());

    // Relocating a root, removing one and dropping collections patch the compact form as well: to the
    // index a scan of the new roots makes and the maps get.
    const std::string moved = dir.str() + "/Loops Moved";
    ASSERT_EQ(std::rename(loops.c_str(), moved.c_str()), 0);
    EXPECT_EQ(relocateRoot(store, loops, moved, {}, openScan()).at("L"),
        (std::vector<std::string> { moved, root + "/Perc" }));
    maps = scanned({ { "G", { root, moved }, {} }, { "K", { root + "/Kicks" }, {} },
        { "L", { moved, root + "/Perc" }, {} } });
    expectSameIndex(store.snapshot(), maps, false);
    removeRoots(store, { root + "/Perc" }, "L");
    removeRoots(maps, { root + "/Perc" }, "L");
    expectSameIndex(store.snapshot(), maps, false);
    const std::vector<ScanGroup> fewer { { "G", { root }, {} }, { "L", { moved }, {} } };
    syncIndex(store, fewer, {}, {}, openScan());
    syncIndex(maps, fewer, scanner, kOpen);
    expectSameIndex(store.snapshot(), maps, false);
    EXPECT_EQ(pathsOf(store.search("loop", "L", true)), std::vector<std::string> { moved + "/Loop 90.wav" });
    EXPECT_TRUE(store.search("loop", "G", true).empty());
    removeGroups(store, { "L" });
    removeGroups(maps, { "L" });
    expectSameIndex(store.snapshot(), maps, false);

    // A token most files hold is searched as a bitmap: the ids patches took from it are left out and
    // those given back come in again, as in lists laid out afresh.
    for (int i = 0; i < 1100; ++i)
        dir.write("Pads/Pad " + std::to_string(i) + ".wav", "x");
    const std::string pads = dir.str() + "/Pads";
    CacheIndexStore padStore(quietStore(dir));
    padStore.replace([&](IndexMaps& into) { into = scanned({ { "P", { pads }, {} } }); });
    QuickRefreshDelta removal, addition;
    removal.removedFiles = { pads + "/Pad 1099.wav", pads + "/Pad 5.wav", pads + "/Pad 700.wav" };
    addition.newFiles = { pads + "/Pad 700.wav" };
    applyQuickRefreshDelta(padStore, removal, {}, openScan());
    applyQuickRefreshDelta(padStore, addition, {}, openScan());
    CacheIndexStore padFresh(quietStore(dir));
    padFresh.replace([&](IndexMaps& into) { into = padStore.snapshot(); });
    EXPECT_EQ(padStore.search("pad", "P", true).size(), 1098u);
    for (const std::string query : { "pad", "wav", "a", "pad 700", "5", "pads" })
        EXPECT_EQ(pathsOf(padStore.search(query, "P", true)), pathsOf(padFresh.search(query, "P", true)))
            << query;
}
