#include "app/FilterPanel.h"
#include "app/MainWindow.h"
#include "app/PianoKeyGrid.h"
#include "app/SearchResultsModel.h"
#include "organise/FilterControls.h"
#include "organise/MetadataInheritance.h"
#include "platform/TaskRunner.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include "Printers.h"

#include <gtest/gtest.h>

using namespace kivo::app;
using namespace kivo::organise;

namespace {

const TagId kDrums = *kivo::index::Uuid::parse("11111111-1111-4111-8111-111111111111");
const TagId kDark = *kivo::index::Uuid::parse("22222222-2222-4222-8222-222222222222");

double opacity(QWidget* w)
{
    return static_cast<QGraphicsOpacityEffect*>(w->graphicsEffect())->opacity();
}

} // namespace

TEST(FilterPanel, EveryControlEditsTheSharedFiltersByItsRules)
{
    SharedSearchState state;
    FilterPanel panel(state);
    std::uint64_t nextSeed = 40;
    panel.setSeedSource([&] { return ++nextSeed; });
    panel.setTags({ { kDrums, "Drums" }, { kDark, "Dark" } });

    // BPM fields keep three digits and nothing else.
    QTest::keyClicks(panel.minField(), "12a3");
    EXPECT_EQ(panel.minField()->text(), "123");
    EXPECT_EQ(state.filters().minBPM, 123);
    QTest::keyClicks(panel.maxField(), "1234");
    EXPECT_EQ(panel.maxField()->text(), "123");
    EXPECT_EQ(state.filters().maxBPM, 123);
    panel.minField()->clear();
    panel.maxField()->clear();
    EXPECT_EQ(state.filters().minBPM, std::nullopt);
    EXPECT_FALSE(state.filters().hasFilter());

    // The key grid from the keyboard, then the quality and relative buttons.
    EXPECT_FALSE(panel.qualityButton(true)->isEnabled());
    EXPECT_FALSE(panel.relativeButton()->isEnabled());
    for (int i = 0; i < 9; ++i)
        QTest::keyClick(panel.keyGrid(), Qt::Key_Right);
    QTest::keyClick(panel.keyGrid(), Qt::Key_Space);
    ASSERT_TRUE(state.filters().key);
    EXPECT_EQ(state.filters().key->pitchClass, 9);
    panel.qualityButton(true)->click();
    panel.relativeButton()->click();
    EXPECT_EQ(state.filters().key, (KeyFilter { 9, true, true }));
    EXPECT_EQ(panel.relativeButton()->toolTip(), QString::fromStdString(relativeHelp(state.filters())));
    EXPECT_EQ(panel.summaryLabel()->text(), "Amin \U0001F517 Cmaj");
    panel.setKeySpelling(kivo::music::KeySpelling::sharp);
    panel.qualityButton(false)->click(); // the other quality keeps the relative flag
    EXPECT_EQ(panel.summaryLabel()->text(), "Amaj \U0001F517 F#min");
    QTest::mouseClick(panel.keyGrid(), Qt::LeftButton, {}, panel.keyGrid()->keyRect(9).center());
    EXPECT_FALSE(state.filters().key); // the chosen root again removes the key filter
    EXPECT_TRUE(panel.summaryLabel()->text().isEmpty());

    // Tags: all of the chosen ones; Clear drops them; a deleted tag leaves the filters.
    ASSERT_EQ(panel.tagButtons().size(), 2u);
    panel.tagButtons()[0]->click();
    panel.tagButtons()[1]->click();
    EXPECT_EQ(state.filters().tags, (TagIdSet { kDrums, kDark }));
    EXPECT_TRUE(panel.tagButtons()[1]->isChecked());
    panel.setTags({ { kDrums, "Drums" } });
    EXPECT_EQ(state.filters().tags, (TagIdSet { kDrums }));
    panel.clearTagsButton()->click();
    EXPECT_TRUE(state.filters().tags.empty());

    // Shuffle: dimmed and inert with neither a query nor a filter.
    EXPECT_EQ(opacity(panel.shuffleButton()), kUnusableOpacity);
    EXPECT_EQ(panel.shuffleButton()->toolTip(), kShuffleUnusableHelp);
    panel.shuffleButton()->click();
    EXPECT_FALSE(state.filters().shuffleSeed);
    panel.setQuery("kick");
    EXPECT_EQ(opacity(panel.shuffleButton()), 1.0);
    panel.shuffleButton()->click();
    EXPECT_EQ(state.filters().shuffleSeed, 41u);
    panel.reshuffle();
    EXPECT_EQ(state.filters().shuffleSeed, 42u);
    panel.shuffleButton()->click();
    EXPECT_FALSE(state.filters().shuffleSeed);

    panel.modeButton(FilterMode::folder)->click();
    EXPECT_EQ(state.filters().mode, FilterMode::folder);
}

namespace {

// A library that answers every request with what it was asked, so the test sees what the window sent.
WindowServices recordingLibrary(std::vector<SearchRequest>* requests)
{
    WindowServices s;
    s.loadFolder = [](const std::string&) { return FolderContents {}; };
    s.makeSearch = [requests](SearchRequest request) -> SearchJob {
        requests->push_back(request);
        return [request](const kivo::index::CancelHandle&) {
            FilterResults out;
            out.mode = request.filters.mode;
            if (request.filters.mode == FilterMode::folder && request.query.empty()
                && !request.filters.hasFilter())
                out.needsQueryForFolders = true;
            else if (request.filters.mode == FilterMode::folder)
                out.folders = { { "/lib/Pads Am", "Pads Am" } };
            else if (request.filters.minBPM == 120)
                out.files = { { {}, "/lib/a 120.wav", "a 120.wav", 120, {}, {} },
                    { {}, "/lib/b 120.wav", "b 120.wav", 120, {}, {} } };
            return std::optional(out);
        };
    };
    return s;
}

} // namespace

TEST(FilterPanel, FiltersAloneListResultsInTheWindowAndFolderModeAsksForAQuery)
{
    std::vector<SearchRequest> requests;
    SharedSearchState state;
    WindowServices services = recordingLibrary(&requests);
    services.searchState = &state;
    kivo::platform::TaskRunner tasks;
    MainWindow w(tasks, std::move(services));
    w.setCollections({ { "A", "Drums", "EF5356", { "/lib" } }, { "B", "Keys", "76A5F0", { "/keys" } } }, 0);
    w.show();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    QSignalSpy published(w.searchRunner(), &SearchRunner::resultsReady);

    // Ctrl+Shift+F shows the panel with the focus in it; typing a tempo lists what passes.
    EXPECT_FALSE(w.filterPanel()->isVisible());
    QTest::keyClick(&w, Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
    ASSERT_TRUE(w.filterPanel()->isVisible());
    EXPECT_TRUE(w.filterPanel()->isAncestorOf(QApplication::focusWidget()));
    QTest::keyClicks(w.filterPanel()->minField(), "120");
    ASSERT_TRUE(published.wait(10000));
    while (published.wait(200)) { }
    EXPECT_EQ(w.page(), MainWindow::Page::results);
    EXPECT_EQ(w.resultsModel()->size(), 2);
    EXPECT_EQ(w.filterPanel()->countLabel()->text(), "2 results");
    EXPECT_EQ(requests.back().query, "");
    EXPECT_EQ(requests.back().groups, (std::vector<std::string> { "A" }));

    // Every collection: the selected one first.
    w.filterPanel()->allCollectionsBox()->setChecked(true);
    ASSERT_TRUE(published.wait(10000));
    EXPECT_EQ(requests.back().groups, (std::vector<std::string> { "A", "B" }));

    // Folder mode with neither a query nor a filter runs no folder search.
    w.filterPanel()->minField()->clear();
    w.filterPanel()->modeButton(FilterMode::folder)->click();
    ASSERT_TRUE(published.wait(10000));
    EXPECT_EQ(w.page(), MainWindow::Page::results);
    bool prompt = false;
    for (auto* label : w.findChildren<QLabel*>())
        prompt = prompt || (label->isVisible() && label->text() == kFolderSearchPrompt);
    EXPECT_TRUE(prompt);
    EXPECT_TRUE(w.filterPanel()->countLabel()->text().isEmpty());
    QTest::keyClicks(w.searchField(), "pad");
    ASSERT_TRUE(published.wait(10000));
    ASSERT_EQ(w.resultsModel()->size(), 1);
    EXPECT_TRUE(w.resultsModel()->row(w.resultsModel()->index(0, 0))->isDirectory);

    // Back to files with no query and no filter: the tree, and the filters outlive the window.
    w.searchField()->clear();
    w.filterPanel()->modeButton(FilterMode::files)->click();
    EXPECT_EQ(w.page(), MainWindow::Page::tree);
    EXPECT_EQ(state.filters().mode, FilterMode::files);
}

TEST(SearchResultsModel, CountedHitsShowTheirFirstRecordsAndMoreAsTheListScrollsToItsEnd)
{
    using namespace kivo::index;
    CacheIndexStore store({ "/nonexistent/cache.json", [](const std::string&) {}, {} });
    const GroupID group = "00000000-0000-4000-8000-000000000001";
    store.modify([&](IndexMaps& maps) {
        maps.groupRoots[group] = { "/S" };
        maps.directoryIndex["/S"].path = "/S";
        for (int i = 0; i < 450; ++i) {
            const std::string name = "Kick " + std::to_string(i) + ".wav";
            const FileInfo f { stableFileID("/S/" + name), "/S/" + name, name, std::nullopt, {}, {} };
            maps.directoryIndex["/S"].files.push_back(f);
            maps.fileIndex[f.path] = f;
            for (const auto& token : tokenize(name, 1))
                maps.searchIndex[group][token].insert(f.path);
        }
    });
    SearchRequest request;
    request.groups = { group };
    request.query = "kick";
    request.order = effectiveFileOrder({}, nullptr);
    request.namedOrder = namedBrowserOrder({});
    MetadataInheritance pass;
    const auto hits = buildResults(store, request, pass);
    ASSERT_TRUE(hits && hits->hits);
    EXPECT_EQ(hits->files.size(), kFirstResultRecords);

    // Paged in as the list scrolls, each row once and in order (the hits' order is the search's test).
    SearchResultsModel model;
    model.setResults(*hits);
    EXPECT_EQ(model.rowCount(), int(kFirstResultRecords));
    while (model.canFetchMore({}))
        model.fetchMore({});
    ASSERT_EQ(model.rowCount(), 450);
    for (int i = 0; i < 450; ++i)
        ASSERT_EQ(model.row(model.index(i, 0))->name, "Kick " + std::to_string(i) + ".wav") << i;
}
