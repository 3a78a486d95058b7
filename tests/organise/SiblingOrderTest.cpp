#include "organise/SiblingOrder.h"
#include "support/PaperLibrary.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

using namespace kivo::organise;
using kivo::test::namesOf;

namespace {

LightweightNode file(const std::string& name, std::optional<std::int64_t> bpm = std::nullopt)
{
    return { newNodeId(), name, "/S/" + name, std::nullopt, false, bpm, std::nullopt };
}

LightweightNode folder(const std::string& name)
{
    return folderNode("/S/" + name);
}

// A folder's listing: two folders (one with a roman name) and five files.
std::vector<LightweightNode> listing()
{
    return { file("V Lead.wav"), file("Pad 80.wav", 80), folder("II"), file("ii Pad.mid", 90),
        file("Kick.wav"), folder("Drums"), file("Bass 120.wav", 120) };
}

std::vector<std::string> ordered(const SortingOptions& options, const BPMOverrides& overrides = {})
{
    const auto nodes = listing();
    const auto bpms = effectiveBPMs(nodes, overrides);
    auto sorted = orderSiblings(nodes, bpms, options);
    // The pairwise test gives the same order.
    auto pairwise = nodes;
    const auto item = [&](const LightweightNode& n) {
        const auto found = bpms.find(n.id);
        return SortItem { n.name, n.path, n.isDirectory,
            found == bpms.end() ? std::nullopt : std::optional<std::int64_t>(found->second) };
    };
    std::stable_sort(pairwise.begin(), pairwise.end(),
        [&](const auto& a, const auto& b) { return browserOrderBefore(item(a), item(b), options); });
    EXPECT_EQ(namesOf(sorted), namesOf(pairwise));
    return namesOf(sorted);
}

} // namespace

TEST(SiblingOrder, EveryOptionCombinationAndTheEdgeCases)
{
    using Names = std::vector<std::string>;
    // separateMIDIFiles, sortByBPM, sortRomanNumerals
    const std::map<std::tuple<bool, bool, bool>, Names> expected {
        { { false, false, false }, { "Bass 120.wav", "ii Pad.mid", "Kick.wav", "Pad 80.wav", "V Lead.wav" } },
        { { true, false, false }, { "Bass 120.wav", "Kick.wav", "Pad 80.wav", "V Lead.wav", "ii Pad.mid" } },
        { { false, false, true }, { "ii Pad.mid", "V Lead.wav", "Bass 120.wav", "Kick.wav", "Pad 80.wav" } },
        { { false, true, false }, { "Pad 80.wav", "ii Pad.mid", "Bass 120.wav", "Kick.wav", "V Lead.wav" } },
        { { true, false, true }, { "V Lead.wav", "Bass 120.wav", "Kick.wav", "Pad 80.wav", "ii Pad.mid" } },
        { { true, true, false }, { "Pad 80.wav", "Bass 120.wav", "Kick.wav", "V Lead.wav", "ii Pad.mid" } },
        { { false, true, true }, { "ii Pad.mid", "V Lead.wav", "Pad 80.wav", "Bass 120.wav", "Kick.wav" } },
        { { true, true, true }, { "V Lead.wav", "Pad 80.wav", "Bass 120.wav", "Kick.wav", "ii Pad.mid" } },
    };
    for (const auto& [flags, files] : expected) {
        const auto [midi, bpm, roman] = flags;
        Names names { "Drums", "II" }; // folders first, by name alone, whatever the options
        names.insert(names.end(), files.begin(), files.end());
        EXPECT_EQ(ordered({ midi, bpm, roman }), names) << midi << bpm << roman;
    }

    // (The file order itself is BrowserFileOrder's test; this is what the siblings add.)
    const SortingOptions defaults;
    std::vector<LightweightNode> numbered { file("file10"), file("file9"), folder("Kit 10"),
        folder("Kit 2") };
    EXPECT_EQ(namesOf(orderSiblings(numbered, effectiveBPMs(numbered, {}), defaults)),
        (std::vector<std::string> { "Kit 2", "Kit 10", "file9", "file10" }));
    // Names the order holds equal keep their listing order, as do the node identities.
    auto twins = std::vector<LightweightNode> { file("snare"), file("Snare") };
    const auto sorted = orderSiblings(twins, {}, defaults);
    EXPECT_EQ(sorted[0].id, twins[0].id);
    EXPECT_EQ(sorted[1].id, twins[1].id);
    EXPECT_TRUE(orderSiblings({}, {}, defaults).empty());
}

TEST(SiblingOrder, EffectiveBPMFollowsOverridesThenOwnThenFolders)
{
    const std::map<std::string, std::int64_t> values { { "/S/Kick.wav", 70 }, { "/S", 100 },
        { "/Deep/A", 60 }, { "/Deep/A/B/Loop.wav", 95 } };
    const std::set<std::string> cleared { "/S/Pad 80.wav", "/S/Kick.wav", "/Deep/A/B/Gone.wav" };
    const BPMOverrides overrides {
        [&](const std::string& path) -> std::optional<std::int64_t> {
            const auto found = values.find(path);
            return found == values.end() ? std::nullopt : std::optional<std::int64_t>(found->second);
        },
        [&](const std::string& path) { return cleared.contains(path); },
        {},
    };
    // An override wins over the cleared mark and over the file's own value.
    EXPECT_EQ(effectiveSortBPM("/S/Kick.wav", 120, overrides), 70);
    // Cleared: none, even with a folder override above.
    EXPECT_EQ(effectiveSortBPM("/S/Pad 80.wav", 80, overrides), std::nullopt);
    EXPECT_EQ(effectiveSortBPM("/S/Bass 120.wav", 120, overrides), 120);
    // The nearest folder with an override, several levels up.
    EXPECT_EQ(effectiveSortBPM("/S/V Lead.wav", std::nullopt, overrides), 100);
    EXPECT_EQ(effectiveSortBPM("/Deep/A/B/C/x.wav", std::nullopt, overrides), 60);
    EXPECT_EQ(effectiveSortBPM("/Deep/A/B/Gone.wav", 88, overrides), std::nullopt);
    EXPECT_EQ(effectiveSortBPM("/Elsewhere/x.wav", std::nullopt, overrides), std::nullopt);
    EXPECT_EQ(effectiveSortBPM("x.wav", std::nullopt, overrides), std::nullopt);
    EXPECT_EQ(effectiveSortBPM("/S/x.wav", 5, {}), 5);
    // A tempo heard from the audio counts only where nothing else gives one.
    BPMOverrides withHeard = overrides;
    withHeard.heard = [](const std::string&) { return std::optional<std::int64_t>(85); };
    EXPECT_EQ(effectiveSortBPM("/Elsewhere/x.wav", std::nullopt, withHeard), 85);
    EXPECT_EQ(effectiveSortBPM("/S/V Lead.wav", std::nullopt, withHeard), 100);
    EXPECT_EQ(effectiveSortBPM("/S/Bass 120.wav", 120, withHeard), 120);
    EXPECT_EQ(effectiveSortBPM("/S/Pad 80.wav", 80, withHeard), std::nullopt);

    const auto nodes = listing();
    const auto bpms = effectiveBPMs(nodes, overrides);
    for (const auto& node : nodes)
        EXPECT_TRUE(!node.isDirectory || !bpms.contains(node.id)) << node.name; // folders never get one
    // Through the sort: Kick's override 70 leads, V Lead inherited 100 from /S, Pad 80 lost its BPM.
    EXPECT_EQ(ordered({ true, true, false }, overrides),
        (std::vector<std::string> {
            "Drums", "II", "Kick.wav", "V Lead.wav", "Bass 120.wav", "Pad 80.wav", "ii Pad.mid" }));
}

TEST(LightweightNode, DisplayNamesAndConstruction)
{
    const auto wav = file("Kick.wav");
    EXPECT_EQ(displayName(wav, false), "Kick.wav");
    for (const auto& [name, shown] : { std::pair { "Kick.wav", "Kick" }, { "Chord.v2.mid", "Chord.v2" },
             { ".hidden", ".hidden" }, { "trailing.", "trailing." }, { "No Extension", "No Extension" } })
        EXPECT_EQ(displayName(file(name), true), shown) << name;
    // Folders keep their names whatever the setting.
    EXPECT_EQ(displayName(folderNode("/S/Pack.v2"), true), "Pack.v2");

    // A colon on disk is a slash to the user.
    const auto pack = folderNode("/S/Lo:Fi");
    EXPECT_EQ(pack.name, "Lo/Fi");
    EXPECT_EQ(pack.url, kivo::index::fileURL("/S/Lo:Fi"));
    const kivo::index::FileInfo info { kivo::index::stableFileID("/S/a.wav"), "/S/a.wav", "a.wav", 128, "C#m",
        1.5 };
    const auto row = fileNode(info);
    EXPECT_EQ(row.url, info.url());
    // Every build makes a fresh identity, never the file's stable one.
    EXPECT_NE(fileNode(info).id, row.id);
    EXPECT_NE(row.id, info.id);
    EXPECT_EQ(row.id.text()[14], '4');
}
