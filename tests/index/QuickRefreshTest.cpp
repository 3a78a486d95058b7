#include "IndexTestSupport.h"
#include "index/FolderListing.h"

#include <unistd.h>

#include <algorithm>

using namespace kivo::index;
using namespace kivo::index::test;
using kivo::test::ScratchDir;

TEST(FolderListing, ListsFilesAndFoldersFollowingLinksAndTestsExtensions)
{
    ScratchDir dir;
    dir.write("a/k.wav", "x");
    dir.write("a/sub/s.mid", "x");
    dir.write("target.flac", "x");
    ASSERT_EQ(::symlink((dir.str() + "/target.flac").c_str(), (dir.str() + "/a/link.flac").c_str()), 0);
    ASSERT_EQ(::symlink((dir.str() + "/a/sub").c_str(), (dir.str() + "/a/sublink").c_str()), 0);
    ASSERT_EQ(::symlink((dir.str() + "/missing.wav").c_str(), (dir.str() + "/a/dangling.wav").c_str()), 0);

    std::vector<FolderEntry> entries;
    ASSERT_TRUE(listFolder(dir.str() + "/a", entries));
    std::map<std::string, EntryKind> byName;
    for (const auto& e : entries)
        byName[e.name] = e.kind;
    EXPECT_EQ(byName.size(), 4u); // the dangling link counts as nothing there
    EXPECT_EQ(byName["k.wav"], EntryKind::file);
    EXPECT_EQ(byName["link.flac"], EntryKind::file);
    EXPECT_EQ(byName["sub"], EntryKind::folder);
    EXPECT_EQ(byName["sublink"], EntryKind::folder);
    EXPECT_FALSE(listFolder(dir.str() + "/nope", entries));

    for (const char* yes :
        { "a.wav", "Loop.AIFF", "b.Mp3", "c.flac", "d.aac", "e.m4a", "f.MID", "g.midi", "/x.y/z.wav" })
        EXPECT_TRUE(hasCompatibleExtension(yes)) << yes;
    for (const char* no : { "Loop.aif", "a.wav.asd", "notes.txt", ".wav", "wav", "x.wavs", "/a.wav/b", "a." })
        EXPECT_FALSE(hasCompatibleExtension(no)) << no;
    EXPECT_EQ(displayNameOfPath("/S/Kick: Hard 01.wav"), "Kick/ Hard 01.wav");
}

TEST(QuickRefresh, HonoursTheToleranceAndLeavesSkippedAndUnreadableRootsAlone)
{
    ScratchDir dir;
    const std::string root = dir.mkdir("Drums");
    dir.write("Drums/Kicks/k1.wav", "x");
    dir.write("Drums/Snares/s1.wav", "x");
    auto snapshots = directorySnapshots(scanned({ { "G", { root }, {} } }));
    // The scan hands its folders over in no fixed order.
    const auto top = std::find_if(
        snapshots.begin(), snapshots.end(), [&](const DirectorySnapshot& s) { return s.path == root; });
    ASSERT_NE(top, snapshots.end());
    const double stored = *top->contentModified;

    // Within 1 ms the stored time (rounded when it was saved) still counts as the same.
    top->contentModified = stored + 0.0005;
    EXPECT_TRUE(computeQuickRefreshDelta(snapshots, { root }, {}, kNoVolumes).freshMTimes.empty());
    top->contentModified = stored + 0.002;
    const auto delta = computeQuickRefreshDelta(snapshots, { root }, {}, kNoVolumes);
    EXPECT_FALSE(delta.hasChanges());
    ASSERT_EQ(delta.freshMTimes.size(), 1u);
    EXPECT_NEAR(delta.freshMTimes.at(root), stored, 1e-6);
    EXPECT_EQ(delta.freshInodes.at(root), *top->inode);

    // A folder without a stored time is always listed.
    top->contentModified.reset();
    EXPECT_EQ(computeQuickRefreshDelta(snapshots, { root }, {}, kNoVolumes).freshMTimes.size(), 1u);
    // Skipped and unreadable roots are left alone.
    EXPECT_TRUE(computeQuickRefreshDelta(snapshots, { root }, { root }, kNoVolumes).freshMTimes.empty());
    EXPECT_TRUE(
        computeQuickRefreshDelta(snapshots, { dir.str() + "/Gone" }, {}, kNoVolumes).freshMTimes.empty());
}
