#include "support/TestEnvironment.h"

#include "platform/ResourceFolder.h"

#include <gtest/gtest.h>

TEST(ResourceFolder, InstalledShareFolderOrTheBuildTreesResources)
{
    kivo::test::ScratchDir dir;
    std::filesystem::path root = dir.str();
    EXPECT_FALSE(kivo::platform::resourceFolderBeside(root / "bin"));
    dir.mkdir("usr/bin");
    dir.mkdir("usr/share/kivo-browser/SoundFonts");
    EXPECT_EQ(kivo::platform::resourceFolderBeside(root / "usr/bin"), root / "usr/share/kivo-browser");
    // A resources folder counts only at the root of a build tree.
    dir.mkdir("build/tools/kivo-render");
    dir.mkdir("build/tools/resources");
    EXPECT_FALSE(kivo::platform::resourceFolderBeside(root / "build/tools/kivo-render"));
    dir.write("build/CMakeCache.txt", "");
    dir.mkdir("build/resources");
    EXPECT_EQ(
        kivo::platform::resourceFolderBeside(root / "build/tools/kivo-render"), root / "build/resources");
}
