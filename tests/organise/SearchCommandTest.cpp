// kivo-index search with its filters, run as an outside check runs it: a scanned folder, a preference
// file with corrections and tags, one path a line.

#include "platform/PreferenceStore.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

namespace {

// The tool's exit status and what it printed, one line each.
std::pair<int, std::vector<std::string>> run(const std::string& args)
{
    const auto r = kivo::test::runTool("tools/kivo-index/kivo-index", args + " 2>/dev/null </dev/null");
    std::vector<std::string> lines;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return { r.status, lines };
}

} // namespace

TEST(SearchCommand, FiltersFromTheCommandLineWithCorrectionsAndTagsFromThePreferenceFile)
{
    kivo::test::ScratchDir dir;
    const std::string lib = dir.str() + "/lib";
    for (const char* name : { "Drums/Kick 120.wav", "Drums/Snare 121.wav", "Keys/Pad Am 90bpm.wav",
             "Keys/Lead Cmaj 100bpm.wav", "Keys/Bass Amaj.wav", "Loop.wav" })
        dir.write(std::string("lib/") + name);
    const std::string cache = dir.str() + "/cache.json";
    ASSERT_EQ(run("scan '" + lib + "' --cache '" + cache + "'").first, 0);
    const std::string prefs = dir.str() + "/Preferences.plist";
    {
        kivo::platform::PreferenceStore store(QString::fromStdString(prefs));
        const QString drums = QStringLiteral("11111111-1111-4111-8111-111111111111");
        store.setValue("SampleTags",
            QVariantList { QVariantMap { { "id", drums }, { "name", QStringLiteral("Drums") } } });
        store.setValue("FileTagAssignments",
            QVariantMap { { QString::fromStdString(lib + "/Drums"), QVariantList { drums } } });
        store.setValue(
            "FileBPMOverrides", QVariantMap { { QString::fromStdString(lib + "/Loop.wav"), 120 } });
        ASSERT_TRUE(store.flush());
    }
    const std::string common = " --cache '" + cache + "' --prefs '" + prefs + "'";
    auto paths = [&](const std::string& args) {
        auto [status, lines] = run("search " + args + common);
        EXPECT_EQ(status, 0) << args;
        for (auto& line : lines)
            line = line.substr(lib.size() + 1);
        std::sort(lines.begin(), lines.end());
        return lines;
    };
    using V = std::vector<std::string>;
    EXPECT_EQ(
        paths("\"\" --bpm 120"), (V { "Drums/Kick 120.wav", "Loop.wav" })); // exact, the override counts
    EXPECT_EQ(paths("\"\" --bpm -100"), (V { "Keys/Lead Cmaj 100bpm.wav", "Keys/Pad Am 90bpm.wav" }));
    EXPECT_EQ(
        paths("\"\" --bpm 100-120"), (V { "Drums/Kick 120.wav", "Keys/Lead Cmaj 100bpm.wav", "Loop.wav" }));
    EXPECT_EQ(paths("\"\" --key A"), (V { "Keys/Bass Amaj.wav", "Keys/Pad Am 90bpm.wav" }));
    EXPECT_EQ(paths("\"\" --key Am"), (V { "Keys/Pad Am 90bpm.wav" }));
    EXPECT_EQ(
        paths("\"\" --key Am --relative"), (V { "Keys/Lead Cmaj 100bpm.wav", "Keys/Pad Am 90bpm.wav" }));
    EXPECT_EQ(paths("\"\" --tag dRUMS"), (V { "Drums/Kick 120.wav", "Drums/Snare 121.wav" }));
    EXPECT_EQ(paths("kick --tag drums --bpm 120"), (V { "Drums/Kick 120.wav" }));
    EXPECT_EQ(paths("\"\" --tag Nothing"), V {});
    EXPECT_EQ(paths("\"\" --folders"), V {}); // no folder search without a query or a filter
    EXPECT_EQ(paths("\"\" --folders --tag drums"), (V { "Drums" }));

    EXPECT_EQ(run("search kick --long" + common).second, (V { lib + "/Drums/Kick 120.wav\t120\t-\tDrums" }));
    const auto once = run("search \"\" --shuffle 18446744073709551615" + common).second;
    EXPECT_EQ(once.size(), 6u);
    EXPECT_EQ(run("search \"\" --shuffle 18446744073709551615" + common).second, once);

    for (const char* bad : { "--bpm x", "--bpm 1-", "--key H", "--shuffle -1", "--relative" })
        EXPECT_EQ(run(std::string("search \"\" ") + bad + common).first, 2) << bad;
}
