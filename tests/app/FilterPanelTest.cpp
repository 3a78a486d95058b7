#include "app/FilterPanel.h"
#include "app/PianoKeyGrid.h"
#include "app/SearchResultsModel.h"
#include "organise/FilterControls.h"
#include "organise/MetadataInheritance.h"

#include <QAbstractButton>
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
