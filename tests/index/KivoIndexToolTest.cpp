// The kivo-index command line, run as a user runs it.

#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

namespace {

std::string runIndexTool(const std::string& args)
{
    const std::string command
        = std::string(KIVO_BINARY_DIR) + "/tools/kivo-index/kivo-index " + args + " 2>&1";
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, pipe))
            out += buffer;
        pclose(pipe);
    }
    return out;
}

} // namespace

TEST(KivoIndexTool, RefreshCountsChangedFoldersInTheSingularAndThePlural)
{
    kivo::test::ScratchDir dir;
    dir.write("Lib/Kicks/Kick 1.wav", "RIFF");
    dir.write("Lib/Snares/Snare 1.wav", "RIFF");
    const std::string cache = "'" + dir.str() + "/SearchIndex.json'";
    runIndexTool("scan '" + dir.str() + "/Lib' --cache " + cache);

    // New files, and folder times moved on so the change shows whatever the clock's grain.
    auto touch = [&](const std::string& folder) {
        const auto path = std::filesystem::path(dir.str()) / "Lib" / folder;
        std::filesystem::last_write_time(
            path, std::filesystem::last_write_time(path) + std::chrono::seconds(5));
    };
    dir.write("Lib/Kicks/Kick 2.wav", "RIFF");
    touch("Kicks");
    EXPECT_NE(runIndexTool("refresh --cache " + cache).find("; 1 folder changed\n"), std::string::npos);
    dir.write("Lib/Kicks/Kick 3.wav", "RIFF");
    dir.write("Lib/Snares/Snare 2.wav", "RIFF");
    touch("Kicks");
    touch("Snares");
    EXPECT_NE(runIndexTool("refresh --cache " + cache).find("; 2 folders changed\n"), std::string::npos);
}
