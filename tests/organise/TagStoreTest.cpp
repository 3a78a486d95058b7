#include "organise/TagStore.h"

#include "platform/PreferenceStore.h"
#include "support/TestEnvironment.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace kivo::organise;
using kivo::platform::PreferenceStore;

namespace {

struct TagStoreTest : ::testing::Test {
    kivo::test::ScratchDir dir;
    QString file = dir.path() + "/Preferences.plist";
    std::unique_ptr<PreferenceStore> prefs = std::make_unique<PreferenceStore>(file);
    TagStore store { *prefs };

    std::vector<std::string> names() const
    {
        std::vector<std::string> out;
        for (const auto& t : store.tags())
            out.push_back(t.name);
        return out;
    }
    // The store as the next program run reads it.
    std::unique_ptr<TagStore> reread()
    {
        prefs->flush();
        m_again = std::make_unique<PreferenceStore>(file);
        return std::make_unique<TagStore>(*m_again);
    }

private:
    std::unique_ptr<PreferenceStore> m_again;
};

} // namespace

TEST_F(TagStoreTest, TagsAndUsesPersistAndLoadSkipsDamagedEntries)
{
    const TagId drums = *store.createTag("  Drums ");
    const TagId dark = *store.createTag("Dark");
    EXPECT_EQ(store.createTag(" \n"), std::nullopt);
    const TagId second = *store.createTag("drums");
    EXPECT_EQ(second, store.tags().back().id);
    EXPECT_EQ(names(), (std::vector<std::string> { "Drums", "Dark", "drums 2" }));
    store.setTag(drums, TagChoice::on, { "/A" });
    store.setTag(drums, TagChoice::off, { "/A/B" });
    store.setTag(dark, TagChoice::on, { "/A/B/y.wav" });

    auto again = reread();
    EXPECT_EQ(again->tags(), store.tags());
    EXPECT_EQ(*again->maps(), *store.maps());
    EXPECT_EQ(again->effectiveTags("/A/B/y.wav"), (TagIdSet { dark }));
    EXPECT_EQ(again->names(again->effectiveTags("/A/x.wav")), (std::vector<std::string> { "Drums" }));

    const QString id = QString::fromStdString(drums.text());
    prefs->setValue(kSampleTagsKey,
        QVariantList { QVariantMap { { "id", id }, { "name", "Drums" } },
            QVariantMap { { "id", "nope" }, { "name", "X" } },
            QVariantMap { { "id", QString::fromStdString(dark.text()) }, { "name", "" } },
            QVariantMap { { "name", "No id" } }, QVariantMap { { "id", id }, { "name", "Twice" } }, "junk" });
    prefs->setValue(kFileTagAssignmentsKey,
        QVariantMap {
            { "/A", QVariantList { id, "bad" } }, { "/B", QVariantList { "bad" } }, { "/C", qint64(1) } });
    prefs->setValue(kFileTagExclusionsKey, "junk");
    QSignalSpy changed(&store, &TagStore::changed);
    store.reload();
    EXPECT_GE(changed.count(), 1);
    EXPECT_EQ(names(), (std::vector<std::string> { "Drums" }));
    EXPECT_EQ(store.assignments(), (TagMap { { "/A", { drums } } }));
    EXPECT_TRUE(store.exclusions().empty());
}

TEST_F(TagStoreTest, RenameMoveDeleteAndTheButtonStates)
{
    const TagId drums = *store.createTag("Drums");
    const TagId dark = *store.createTag("Dark");
    const TagId pads = *store.createTag("Pads");
    store.renameTag(dark, " drums ");
    store.renameTag(pads, "   ");
    EXPECT_EQ(names(), (std::vector<std::string> { "Drums", "drums 2", "Pads" }));
    store.moveTag(pads, 0);
    store.moveTag(drums, 99);
    EXPECT_EQ(names(), (std::vector<std::string> { "Pads", "drums 2", "Drums" }));

    store.setTag(drums, TagChoice::on, { "/A", "/B/b.wav" });
    store.setTag(dark, TagChoice::on, { "/A/a.wav" });
    EXPECT_EQ(store.buttonState(drums, { "/A/a.wav" }), TagButtonState::inherited);
    EXPECT_EQ(store.buttonState(drums, { "/A/a.wav", "/B/b.wav" }), TagButtonState::on);
    EXPECT_EQ(store.buttonState(drums, { "/A/a.wav", "/C/c.wav" }), TagButtonState::mixed);
    EXPECT_EQ(store.buttonState(pads, { "/A/a.wav" }), TagButtonState::off);
    // The sentences are the button's own: each state has one, naming the tag.
    EXPECT_NE(
        tagButtonHelp("Drums", TagButtonState::inherited), tagButtonHelp("Drums", TagButtonState::mixed));
    EXPECT_EQ(tagButtonHelp("Drums", TagButtonState::mixed).rfind("Drums", 0), 0u);

    // Deleting takes the tag out of the maps too (how is the maps' own test).
    store.deleteTag(drums);
    EXPECT_EQ(names(), (std::vector<std::string> { "Pads", "drums 2" }));
    EXPECT_EQ(store.assignments(), (TagMap { { "/A/a.wav", { dark } } }));
    EXPECT_EQ(reread()->assignments(), store.assignments());

    store.clearTags({ "/A/a.wav" });
    store.remapPaths("/A", "/Z");
    EXPECT_TRUE(store.assignments().empty());
}
