// The kivo-index command line, run as a user runs it.

#include "platform/PreferenceStore.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

namespace {

std::string runIndexTool(const std::string& args)
{
    return kivo::test::runTool("tools/kivo-index/kivo-index", args + " 2>&1").out;
}

} // namespace

TEST(KivoIndexTool, TreePrintsTheBrowserTreeAndRefreshCountsChangedFolders)
{
    kivo::test::ScratchDir dir;
    const std::string lib = dir.str() + "/Lib";
    dir.write("Lib/Pack/Pack Samples/Drums/Kick.wav", "RIFF");
    dir.write("Lib/Pack/Pack Samples/Bass/Sub.wav", "RIFF");
    dir.write("Lib/Wrapper/Hat.wav", "RIFF");
    dir.write("Lib/Clutter/junk.wav", "RIFF");
    dir.write("Lib/file10.wav", "RIFF");
    dir.write("Lib/file9.wav", "RIFF");
    const std::string cache = " --cache '" + dir.str() + "/SearchIndex.json'";
    runIndexTool("scan '" + lib + "'" + cache);
    {
        kivo::platform::PreferenceStore prefs(dir.path() + "/Preferences.plist");
        prefs.setValue("HiddenFilePaths", QVariantList { QString::fromStdString(lib + "/Clutter") });
        prefs.setValue("SkippedFolderPaths", QVariantList { QString::fromStdString(lib + "/Wrapper") });
        prefs.setValue("skipNestedSubfolders", true);
    }
    const std::string args = "tree" + cache + " --prefs '" + dir.str() + "/Preferences.plist'";

    EXPECT_EQ(runIndexTool(args),
        "Lib\n"
        "  Pack\n"
        "    Bass\n"
        "      Sub.wav\n"
        "    Drums\n"
        "      Kick.wav\n"
        "  Hat.wav\n"
        "  file9.wav\n"
        "  file10.wav\n");
    EXPECT_EQ(runIndexTool(args + " --hide-mode --depth 3"),
        "Lib\n"
        "  Clutter\thidden\n"
        "    junk.wav\n"
        "  Pack\n"
        "    Pack Samples\tauto-skipped\n"
        "  Wrapper\tskipped\n"
        "    Hat.wav\n"
        "  file9.wav\n"
        "  file10.wav\n");
    EXPECT_NE(runIndexTool(args + " --depth 0").find("usage: kivo-index tree"), std::string::npos);

    // New files, and folder times moved on so the change shows whatever the clock's grain; the count
    // in the singular and the plural.
    auto touch = [&](const std::string& folder) {
        const auto path = std::filesystem::path(lib) / folder;
        std::filesystem::last_write_time(
            path, std::filesystem::last_write_time(path) + std::chrono::seconds(5));
    };
    dir.write("Lib/Wrapper/Hat 2.wav", "RIFF");
    touch("Wrapper");
    EXPECT_NE(runIndexTool("refresh" + cache).find("; 1 folder changed\n"), std::string::npos);
    dir.write("Lib/Wrapper/Hat 3.wav", "RIFF");
    dir.write("Lib/Clutter/junk 2.wav", "RIFF");
    touch("Wrapper");
    touch("Clutter");
    EXPECT_NE(runIndexTool("refresh" + cache).find("; 2 folders changed\n"), std::string::npos);
}
