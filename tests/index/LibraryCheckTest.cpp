#include "index/LibraryCheck.h"
#include "IndexTestSupport.h"

#include <chrono>
#include <filesystem>
#include <set>

using namespace kivo::index;
using namespace kivo::index::test;
using kivo::test::ScratchDir;

using Strings = std::vector<std::string>;

TEST(LibraryCheck, FindsAbsentDrivesUnreachableRootsAndWhatVanishedUnderTheOthers)
{
    ScratchDir dir;
    const std::string root = dir.mkdir("Samples");
    dir.write("Samples/Kicks/Kick 1.wav");
    dir.write("Samples/Kicks/Kick 2.wav");
    dir.write("Samples/Snares/Tight/Snare.wav");
    dir.write("Samples/Hats/Hat.wav");
    dir.write("Samples/Hats/Old/Hat.wav");
    const std::string gone = dir.path().toStdString() + "/Gone";
    const IndexMaps maps = scanned({ { "G", { root }, {} } });
    const auto snapshots = directorySnapshots(maps);

    // Deleted: one file whose folder stays, a folder with a sub-folder; renamed: one folder.
    std::filesystem::remove(root + "/Kicks/Kick 2.wav");
    std::filesystem::remove_all(root + "/Snares");
    std::filesystem::rename(root + "/Hats/Old", root + "/Hats/Older");
    // The changes land within the second of the scan: move the changed folders' times on, as a later
    // change would, so that the check lists them.
    for (const char* changed : { "", "/Kicks", "/Hats" }) {
        const std::string folder = root + changed;
        std::filesystem::last_write_time(
            folder, std::filesystem::last_write_time(folder) + std::chrono::seconds(5));
    }

    std::set<std::string> mounted { "/media/me/Other" };
    const MountedVolumes volumes = [&] { return mounted; };
    // Two roots on one unplugged drive, one root gone from a connected place.
    const Strings roots { root, "/Volumes/Drive A/Loops", "/Volumes/Drive A/Kits", gone };
    const Strings unresolved { "/Volumes/Drive A/Loops", "/Volumes/Drive A/Kits", gone };
    LibraryCheckFindings found = checkLibrary(snapshots, roots, unresolved, {}, volumes);
    EXPECT_EQ(found.unreachableDrives, Strings { "/Volumes/Drive A" });
    EXPECT_EQ(found.driveRoots, (Strings { "/Volumes/Drive A/Loops", "/Volumes/Drive A/Kits" }));
    EXPECT_EQ(found.missingRoots, Strings { gone });
    // The topmost missing folder only; a renamed folder is not missing.
    EXPECT_EQ(found.missingFolders, Strings { root + "/Snares" });
    EXPECT_EQ(found.missingFiles, Strings { root + "/Kicks/Kick 2.wav" });

    // Each detection follows its setting.
    EXPECT_EQ(
        checkLibrary(snapshots, roots, unresolved, { false, true }, volumes).unreachableDrives, Strings {});
    const LibraryCheckFindings drivesOnly
        = checkLibrary(snapshots, roots, unresolved, { true, false }, volumes);
    EXPECT_EQ(drivesOnly.unreachableDrives, Strings { "/Volumes/Drive A" });
    EXPECT_TRUE(drivesOnly.missingRoots.empty() && drivesOnly.missingFiles.empty());

    // With the drive back, its roots are missing folders only if they are not there.
    mounted.insert("/Volumes/Drive A");
    found = checkLibrary(snapshots, roots, unresolved, {}, volumes);
    EXPECT_TRUE(found.unreachableDrives.empty());
    EXPECT_EQ(found.missingRoots, (Strings { "/Volumes/Drive A/Loops", "/Volumes/Drive A/Kits", gone }));
}
