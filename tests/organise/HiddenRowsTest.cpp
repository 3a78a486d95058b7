#include "organise/ExpandedTree.h"
#include "organise/HiddenFileManager.h"

#include "platform/PreferenceStore.h"
#include "support/PaperLibrary.h"
#include "support/TestEnvironment.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <set>

using namespace kivo::organise;
using kivo::platform::PreferenceStore;
using kivo::test::PaperLibrary;

namespace {

// The tree as the command line prints it: two spaces per level, marks after a tab.
std::string listing(
    BrowserTree& tree, const std::vector<std::string>& roots, const HiddenView& view, bool loadAll = true)
{
    tree.setHiddenView(view);
    tree.showCollection("G", roots);
    if (loadAll)
        loadEverything(tree);
    std::string out;
    for (const auto& line : expandedRows(tree)) {
        out += std::string(std::size_t(line.depth) * 2, ' ') + line.row.node.name;
        const std::string marks = view.hideMode || view.showOnlyHidden ? markText(line.row.marks) : "";
        if (!marks.empty())
            out += "\t" + marks;
        out += "\n";
    }
    return out;
}

HiddenView viewOf(HiddenPathSet hidden, HiddenPathSet skipped = {}, HiddenPathSet exempt = {})
{
    HiddenView v;
    v.sets = std::make_shared<const HiddenSets>(std::move(hidden), std::move(skipped), std::move(exempt));
    return v;
}

} // namespace

TEST(HiddenSetsTest, AncestorsAndResultsAskTheSetsByPrefixOfWholeComponents)
{
    const HiddenSets sets(HiddenPathSet { "/Lib/A" }, HiddenPathSet { "/Other/Deep/S" }, {});
    EXPECT_TRUE(sets.containsHiddenOrSkipped("/Lib"));
    EXPECT_TRUE(sets.containsHiddenOrSkipped("/Lib/"));
    EXPECT_TRUE(sets.containsHiddenOrSkipped("/Other"));
    EXPECT_TRUE(sets.containsHiddenOrSkipped("/"));
    EXPECT_FALSE(sets.containsHiddenOrSkipped("/Li"));
    EXPECT_FALSE(sets.containsHiddenOrSkipped("/Lib/A")); // the path itself, not below it
    EXPECT_TRUE(sets.isHiddenOrBelowHidden("/Lib/A"));
    EXPECT_TRUE(sets.isHiddenOrBelowHidden("/Lib/A/k.wav"));
    EXPECT_FALSE(sets.isHiddenOrBelowHidden("/Lib/AB/k.wav"));

    // Results: a file inside a hidden folder is gone outside hide mode unless reported missing; the
    // audit keeps only hidden ones.
    HiddenView view;
    view.sets = std::make_shared<const HiddenSets>(sets);
    view.isMissing = [](const std::string& p) { return p == "/Lib/A/gone.wav"; };
    EXPECT_FALSE(view.keepsResult("/Lib/A/k.wav"));
    EXPECT_TRUE(view.keepsResult("/Lib/A/gone.wav"));
    EXPECT_TRUE(view.keepsResult("/Lib/B/k.wav"));
    view.hideMode = true;
    EXPECT_TRUE(view.keepsResult("/Lib/A/k.wav"));
    view.showOnlyHidden = true;
    EXPECT_TRUE(view.keepsResult("/Lib/A/k.wav"));
    EXPECT_FALSE(view.keepsResult("/Lib/B/k.wav"));
}

TEST(HiddenRowsTest, NormalModeDropsHiddenRowsAndFlattensSkippedFoldersOnce)
{
    PaperLibrary paper;
    paper.folder("/Lib", { "Wrap", "Junk", "Keep" }, { "a.wav", "gone.wav" });
    paper.folder("/Lib/Wrap", { "Inner", "Drums" }, { "w.wav" });
    paper.folder("/Lib/Wrap/Inner", {}, { "i.wav" });
    paper.folder("/Lib/Wrap/Drums", {}, { "d.wav" });
    paper.folder("/Lib/Junk", {}, { "j.wav" });
    paper.folder("/Lib/Keep", {}, { "k.wav", "x.wav" });
    BrowserTree tree(paper.loader());
    HiddenView view = viewOf((HiddenPathSet { "/Lib/Junk", "/Lib/gone.wav", "/Lib/Keep/x.wav" }),
        (HiddenPathSet { "/Lib/Wrap", "/Lib/Wrap/Inner" }));
    view.isMissing = [](const std::string& p) { return p == "/Lib/gone.wav"; };
    // The same root twice: its skipped folders are expanded in the first only. A hidden root goes.
    EXPECT_EQ(listing(tree, { "/Lib", "/Lib/Junk", "/Lib" }, view),
        "Lib\n  Keep\n    k.wav\n  Drums\n    d.wav\n  i.wav\n  w.wav\n  a.wav\n  gone.wav\n"
        "Lib\n  Keep\n    k.wav\n  a.wav\n  gone.wav\n");

    // Before its contents are read a skipped folder shows nothing, and the pass says what to read.
    BrowserTree fresh(paper.loader());
    fresh.setHiddenView(view);
    auto& state = fresh.showCollection("G", { "/Lib" });
    fresh.loadChildren(state.rootNodes[0].id);
    HiddenRowPass pass = fresh.rowPass();
    const auto rows = fresh.visibleChildren(state.rootNodes[0].id, pass);
    ASSERT_EQ(pass.unloaded().size(), 1u);
    EXPECT_EQ(pass.unloaded()[0].path, "/Lib/Wrap");
    EXPECT_EQ(rows.front().node.name, "Keep");
    EXPECT_TRUE(rows.front().marks.containsHiddenOrSkipped);
    EXPECT_EQ(fresh.children(state.rootNodes[0].id)->size(), 5u); // the loaded list stays whole
}

TEST(HiddenRowsTest, AutomaticSkipFlattensSingleFolderChainsOnlyWhenEveryConditionHolds)
{
    PaperLibrary paper;
    paper.folder("/Pack", { "Pack Samples" });
    paper.folder("/Pack/Pack Samples", { "Drums", "Bass" });
    paper.folder("/Pack/Pack Samples/Drums", {}, { "d.wav" });
    paper.folder("/Pack/Pack Samples/Bass", {}, { "b.wav" });
    paper.folder("/Mixed", { "Only" });
    paper.folder("/Mixed/Only", { "Sub" }, { "one.wav" });
    paper.folder("/Mixed/Only/Sub", {}, { "s.wav" });
    BrowserTree tree(paper.loader());
    HiddenView view;
    view.skipNestedSubfolders = true;
    // Roots are never skipped; a folder with a file among its rows is not either.
    EXPECT_EQ(listing(tree, { "/Pack", "/Mixed" }, view),
        "Pack\n  Bass\n    b.wav\n  Drums\n    d.wav\n"
        "Mixed\n  Only\n    Sub\n      s.wav\n    one.wav\n");
    // The setting off, or the folder exempt: shown.
    const std::string whole = "Pack\n  Pack Samples\n    Bass\n      b.wav\n    Drums\n      d.wav\n";
    view.skipNestedSubfolders = false;
    EXPECT_EQ(listing(tree, { "/Pack" }, view), whole);
    view = viewOf({}, {}, HiddenPathSet { "/Pack/Pack Samples" });
    view.skipNestedSubfolders = true;
    EXPECT_EQ(listing(tree, { "/Pack" }, view), whole);
    // A hidden sibling does not count, and a chain flattens all the way down.
    paper.folder("/Deep", { "A", "Junk" });
    paper.folder("/Deep/A", { "B" });
    paper.folder("/Deep/A/B", { "C", "D" });
    view = viewOf(HiddenPathSet { "/Deep/Junk" });
    view.skipNestedSubfolders = true;
    BrowserTree deep(paper.loader());
    EXPECT_EQ(listing(deep, { "/Deep" }, view), "Deep\n  C\n  D\n");
    // Not skipped while its contents are unread.
    BrowserTree lazy(paper.loader());
    EXPECT_EQ(listing(lazy, { "/Pack" }, view, false), "Pack\n");
    lazy.loadChildren(lazy.current()->rootNodes[0].id);
    HiddenRowPass pass = lazy.rowPass();
    EXPECT_EQ(lazy.visibleChildren(lazy.current()->rootNodes[0].id, pass).at(0).node.name, "Pack Samples");
    EXPECT_EQ(pass.unloaded().at(0).path, "/Pack/Pack Samples");

    // A folder tried for the automatic skip keeps its skipped contents when it stays.
    paper.folder("/R", { "Only" });
    paper.folder("/R/Only", { "S" }, { "x.wav" });
    paper.folder("/R/Only/S", {}, { "a.wav" });
    view = viewOf({}, HiddenPathSet { "/R/Only/S" });
    view.skipNestedSubfolders = true;
    BrowserTree tried(paper.loader());
    EXPECT_EQ(listing(tried, { "/R" }, view), "R\n  Only\n    a.wav\n    x.wav\n");
}

TEST(HiddenRowsTest, HideModeShowsEveryRowMarkedAndTheAuditOnlyHiddenOnes)
{
    PaperLibrary paper;
    paper.folder("/Lib", { "Pack", "Wrap", "Junk", "Plain" }, { "a.wav" });
    paper.folder("/Lib/Pack", { "Inner" });
    paper.folder("/Lib/Pack/Inner", { "Sub" });
    paper.folder("/Lib/Wrap", {}, { "w.wav" });
    paper.folder("/Lib/Junk", {}, { "j.wav" });
    paper.folder("/Lib/Plain", {}, { "h.wav" });
    BrowserTree tree(paper.loader());
    HiddenView view
        = viewOf((HiddenPathSet { "/Lib/Junk", "/Lib/Plain/h.wav" }), HiddenPathSet { "/Lib/Wrap" });
    view.skipNestedSubfolders = true;
    view.hideMode = true;
    EXPECT_EQ(listing(tree, { "/Lib" }, view),
        "Lib\n  Junk\thidden\n    j.wav\n  Pack\n    Inner\tauto-skipped\n      Sub\n  Plain\n    "
        "h.wav\thidden\n"
        "  Wrap\tskipped\n    w.wav\n  a.wav\n");
    // The audit: a folder that is not hidden is dropped with what lies in it, a missing one stays.
    view.showOnlyHidden = true;
    view.isMissing = [](const std::string& p) { return p == "/Lib/Wrap"; };
    EXPECT_EQ(listing(tree, { "/Lib" }, view), "");
    view.sets = std::make_shared<const HiddenSets>(
        HiddenPathSet { "/Lib" }, HiddenPathSet { "/Lib/Wrap" }, HiddenPathSet {});
    EXPECT_EQ(listing(tree, { "/Lib" }, view), "Lib\thidden\n  Wrap\tskipped\n");
}

// The help sentences are the toggle's own; which one a row gets is checked by its marks' precedence.
TEST(HiddenRowsTest, TheToggleSaysTheMostTellingMarkAndClicksChangeTheRightSet)
{
    RowMarks skipped, autoSkipped, hidden, exempt;
    skipped.skipped = autoSkipped.autoSkipped = hidden.hidden = exempt.exempt = true;
    RowMarks hiddenAndSkipped = autoSkipped;
    hiddenAndSkipped.hidden = true;
    const std::set<std::string> helps { hideToggleHelp({}), hideToggleHelp(skipped),
        hideToggleHelp(autoSkipped), hideToggleHelp(hidden) };
    EXPECT_EQ(helps.size(), 4u);
    EXPECT_EQ(hideToggleHelp(hiddenAndSkipped), hideToggleHelp(hidden));
    EXPECT_EQ(hideToggleAction(skipped, true, HideToggleClick::option), HideToggleAction::toggleSkipped);
    EXPECT_EQ(hideToggleAction(autoSkipped, true, HideToggleClick::option), HideToggleAction::toggleExempt);
    EXPECT_EQ(
        hideToggleAction(hiddenAndSkipped, true, HideToggleClick::plain), HideToggleAction::toggleHidden);
    // A repeated option-click takes the exemption back.
    EXPECT_EQ(hideToggleAction(exempt, true, HideToggleClick::option), HideToggleAction::toggleExempt);
    EXPECT_EQ(hideToggleAction({}, true, HideToggleClick::option), HideToggleAction::toggleSkipped);
    EXPECT_EQ(hideToggleAction({}, false, HideToggleClick::option), HideToggleAction::toggleHidden);
}

struct HiddenFileManagerTest : ::testing::Test {
    kivo::test::ScratchDir dir;
    QString file = dir.path() + "/Preferences.plist";
    std::unique_ptr<PreferenceStore> prefs = std::make_unique<PreferenceStore>(file);
    HiddenFileManager manager { *prefs };

    std::unique_ptr<HiddenFileManager> reread()
    {
        prefs->flush();
        m_again = std::make_unique<PreferenceStore>(file);
        return std::make_unique<HiddenFileManager>(*m_again);
    }

private:
    std::unique_ptr<PreferenceStore> m_again;
};

TEST_F(HiddenFileManagerTest, MarksExcludeEachOtherAndAreStoredAtOnce)
{
    QSignalSpy hidden(&manager, &HiddenFileManager::hiddenPathsChanged);
    QSignalSpy skipped(&manager, &HiddenFileManager::skippedPathsChanged);
    manager.setSkipped({ "/L/Wrap", "/L/Other" }, true);
    manager.setHidden({ "/L/Wrap" }, true);
    EXPECT_EQ(manager.hiddenPaths(), HiddenPathSet { "/L/Wrap" });
    EXPECT_EQ(manager.skippedPaths(), HiddenPathSet { "/L/Other" });
    manager.setHidden({ "/L/Wrap" }, false);
    EXPECT_TRUE(manager.hiddenPaths().empty());
    EXPECT_EQ(manager.skippedPaths(), HiddenPathSet { "/L/Other" });
    EXPECT_EQ(hidden.count(), 2);
    EXPECT_EQ(skipped.count(), 2);
    manager.setHidden({ "/L/Nothing" }, false); // no change, no write, no signal
    EXPECT_EQ(hidden.count(), 2);

    manager.setNestedSkipExempt({ "/L/E" }, true);
    manager.setGroupHidden("0f8fad5b-d9cb-469f-a165-70867728950e", true);
    manager.setGroupHidden("not a uuid", true);
    manager.setHidden({ "/L/h.wav" }, true);
    EXPECT_TRUE(manager.isGroupHidden("0F8FAD5B-D9CB-469F-A165-70867728950E"));
    auto again = reread();
    EXPECT_EQ(again->hiddenPaths(), HiddenPathSet { "/L/h.wav" });
    EXPECT_EQ(again->skippedPaths(), HiddenPathSet { "/L/Other" });
    EXPECT_EQ(again->nestedSkipExemptPaths(), HiddenPathSet { "/L/E" });
    EXPECT_EQ(again->hiddenGroupIDs(), std::set<std::string> { "0F8FAD5B-D9CB-469F-A165-70867728950E" });
    EXPECT_FALSE(again->isHideModeActive());
}

TEST_F(HiddenFileManagerTest, StoredValuesOfTheWrongTypeAreDroppedAndReloadReadsTheKeysAgain)
{
    prefs->setValue(kHiddenFilePathsKey, QVariantList { QString("/a"), qint64(4), QString(), QString("/b") });
    prefs->setValue(kSkippedFolderPathsKey, QString("/not/an/array"));
    // Both marks stored for one path: hidden stands.
    prefs->setValue(kNestedSkipExemptPathsKey, QVariantList { QString("/e") });
    prefs->setValue(kHiddenCollectionIDsKey, QVariantList { QString("junk") });
    QSignalSpy changed(&manager, &HiddenFileManager::changed);
    manager.reload();
    EXPECT_EQ(manager.hiddenPaths(), (HiddenPathSet { "/a", "/b" }));
    EXPECT_TRUE(manager.skippedPaths().empty());
    EXPECT_EQ(manager.nestedSkipExemptPaths(), HiddenPathSet { "/e" });
    EXPECT_TRUE(manager.hiddenGroupIDs().empty());
    EXPECT_EQ(changed.count(), 1);
    prefs->setValue(kSkippedFolderPathsKey, QVariantList { QString("/a"), QString("/s") });
    manager.reload();
    EXPECT_EQ(manager.skippedPaths(), HiddenPathSet { "/s" });
}

TEST_F(HiddenFileManagerTest, ModesFollowEachOtherAndLeavingHideModeEmptiesTheDeselectedStack)
{
    manager.toggleShowOnlyHidden();
    EXPECT_TRUE(manager.isShowOnlyHiddenActive());
    EXPECT_TRUE(manager.isHideModeActive());
    manager.pushAutoDeselectedGroup("A");
    manager.pushAutoDeselectedGroup("B");
    manager.toggleShowOnlyHidden(); // hide mode stays
    EXPECT_FALSE(manager.isShowOnlyHiddenActive());
    EXPECT_TRUE(manager.isHideModeActive());
    EXPECT_EQ(manager.popAutoDeselectedGroup(), "B");
    manager.toggleShowOnlyHidden();
    manager.toggleHideMode(); // leaves both
    EXPECT_FALSE(manager.isShowOnlyHiddenActive());
    EXPECT_FALSE(manager.isHideModeActive());
    EXPECT_TRUE(manager.autoDeselectedGroupStack().empty());
    manager.pushAutoDeselectedGroup("C"); // only while hide mode is on
    EXPECT_TRUE(manager.autoDeselectedGroupStack().empty());
    manager.toggleHideMode();
    EXPECT_TRUE(manager.isHideModeActive());
    EXPECT_FALSE(manager.isShowOnlyHiddenActive());
}

TEST_F(HiddenFileManagerTest, RemapMovesWholeComponentsOnly)
{
    manager.setHidden({ "/A", "/A/x.wav", "/AB/y.wav" }, true);
    manager.setSkipped({ "/A/Wrap" }, true);
    manager.setNestedSkipExempt({ "/A/E" }, true);
    manager.remapPaths("/A", "/B");
    EXPECT_EQ(manager.hiddenPaths(), (HiddenPathSet { "/B", "/B/x.wav", "/AB/y.wav" }));
    EXPECT_EQ(manager.skippedPaths(), HiddenPathSet { "/B/Wrap" });
    EXPECT_EQ(manager.nestedSkipExemptPaths(), HiddenPathSet { "/B/E" });
    EXPECT_EQ(reread()->hiddenPaths(), (HiddenPathSet { "/B", "/B/x.wav", "/AB/y.wav" }));
    EXPECT_TRUE(manager.containsHiddenOrSkipped("/B"));
    EXPECT_FALSE(manager.containsHiddenOrSkipped("/A"));
}
