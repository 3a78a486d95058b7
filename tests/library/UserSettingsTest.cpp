#include "library/UserSettings.h"

#include "SettingsStore.h"
#include "support/BinaryPlistBuilder.h"
#include "support/ReadFile.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>

#include <tuple>

using namespace kivo::library;
using kivo::music::KeySpelling;
using kivo::test::NotificationCount;

namespace {

using UserSettingsFields = kivo::test::SettingsStoreFixture;

// Every preference, to compare a reset against a fresh store.
auto preferences(const UserSettings& s)
{
    return std::tuple(s.selectedTheme(), s.midiCatchNotes(), s.midiOctaveShift(), s.midiInstrument(),
        s.separateMIDIFiles(), s.sortByBPM(), s.sortRomanNumerals(), s.skipNestedSubfolders(),
        s.hideFileExtensions(), s.autoPauseWhenUnfocused(), s.keySpelling());
}

// Every preference away from its default (and the volume and the selected root).
void changeEveryPreference(UserSettings& settings)
{
    settings.setSelectedTheme(4);
    settings.setVolume(0.25f);
    settings.setMidiCatchNotes(false);
    settings.setMidiOctaveShift(-1);
    settings.setMidiInstrument(2);
    settings.setSeparateMIDIFiles(false);
    settings.setSortByBPM(false);
    settings.setSortRomanNumerals(true);
    settings.setSkipNestedSubfolders(true);
    settings.setHideFileExtensions(true);
    settings.setAutoPauseWhenUnfocused(false);
    settings.setKeySpelling(KeySpelling::sharp);
    settings.setSelectedPathIndex(1);
}

// The one collection a fresh store and a factory reset leave: selected, empty, at the middle volume.
void expectOneDefaultCollection(const UserSettings& settings)
{
    ASSERT_EQ(settings.bookmarks().size(), 1);
    EXPECT_EQ(settings.bookmarks()[0].name, "Collection");
    EXPECT_EQ(settings.bookmarks()[0].colorHex, "EF5356");
    EXPECT_TRUE(settings.bookmarks()[0].paths.isEmpty());
    EXPECT_EQ(settings.selectedGroup(), 0);
    EXPECT_EQ(settings.selectedPathIndex(), std::nullopt);
    EXPECT_FLOAT_EQ(settings.volume(), 0.5f);
}

} // namespace

TEST_F(UserSettingsFields, DefaultsOnAnEmptyStoreStoredValuesAndTheirReadingRules)
{
    UserSettings settings(*store);
    expectOneDefaultCollection(settings);
    EXPECT_TRUE(settings.isSynced());
    EXPECT_FALSE(settings.isSyncing());
    EXPECT_EQ(settings.syncedBookmarks(), settings.bookmarks());
    // The list is written back at once; the scalar fields are not.
    EXPECT_EQ(storedGroups(), settings.bookmarks());
    EXPECT_FALSE(store->contains("selectedTheme"));
    EXPECT_FALSE(store->contains("sortByBPM"));

    // A stored false beats a default of true; a value of the wrong type counts as absent.
    store->setValue("midiCatchNotes", false);
    store->setValue("separateMIDIFiles", false);
    store->setValue("sortByBPM", "yes");
    store->setValue("autoPauseWhenUnfocused", qint64(0));
    store->setValue("sortRomanNumerals", true);
    store->setValue("selectedTheme", qint64(3));
    store->setValue("midiOctaveShift", qint64(-2));
    store->setValue("volume", 0.8);
    store->setValue("selectedPathIndex", "2");
    {
        UserSettings settings(*store);
        EXPECT_FALSE(settings.midiCatchNotes());
        EXPECT_FALSE(settings.separateMIDIFiles());
        EXPECT_TRUE(settings.sortByBPM());
        EXPECT_TRUE(settings.autoPauseWhenUnfocused());
        EXPECT_TRUE(settings.sortRomanNumerals());
        EXPECT_EQ(settings.selectedTheme(), 3);
        EXPECT_EQ(settings.midiOctaveShift(), -2);
        EXPECT_FLOAT_EQ(settings.volume(), 0.8f);
        EXPECT_EQ(settings.selectedPathIndex(), std::nullopt);
    }

    store->setValue("volume", qint64(1));
    store->setValue("selectedPathIndex", qint64(2));
    for (const auto& [stored, instrument] : std::vector<std::pair<qint64, int>> {
             { 3, 3 }, { 4, 0 }, { 7, 0 }, { -1, 0 }, { qint64(1) << 33, 0 } }) {
        store->setValue("midiInstrument", stored);
        UserSettings settings(*store);
        EXPECT_EQ(settings.midiInstrument(), instrument) << stored;
        EXPECT_FLOAT_EQ(settings.volume(), 1.0f);
        EXPECT_EQ(settings.selectedPathIndex(), 2);
    }
    for (const auto& [stored, spelling] :
        std::vector<std::pair<qint64, KeySpelling>> { { 1, KeySpelling::flat }, { 2, KeySpelling::sharp },
            { 5, KeySpelling::automatic }, { -1, KeySpelling::automatic } }) {
        store->setValue("keySpelling", stored);
        UserSettings settings(*store);
        EXPECT_EQ(settings.keySpelling(), spelling) << stored;
    }
}

TEST_F(UserSettingsFields, SettersWriteTheirKeysAtOnce)
{
    UserSettings settings(*store);
    QSignalSpy themeSpy(&settings, &UserSettings::selectedThemeChanged);
    settings.setSelectedTheme(4);
    settings.setSelectedTheme(4);
    EXPECT_EQ(themeSpy.count(), 1);
    changeEveryPreference(settings);
    const QVariantMap written { { "selectedTheme", qint64(4) }, { "volume", 0.25 },
        { "midiCatchNotes", false }, { "midiOctaveShift", qint64(-1) }, { "midiInstrument", qint64(2) },
        { "separateMIDIFiles", false }, { "sortByBPM", false }, { "sortRomanNumerals", true },
        { "skipNestedSubfolders", true }, { "hideFileExtensions", true }, { "autoPauseWhenUnfocused", false },
        { "keySpelling", qint64(2) }, { "selectedPathIndex", qint64(1) } };
    for (auto it = written.cbegin(); it != written.cend(); ++it)
        EXPECT_EQ(store->value(it.key()), it.value()) << it.key().toStdString();

    settings.setMidiInstrument(9);
    EXPECT_EQ(settings.midiInstrument(), 0);
    EXPECT_EQ(store->intValue("midiInstrument"), 0);
}

TEST_F(UserSettingsFields, EachSortingSetPostsOneNotification)
{
    NotificationCount sorting(kSortingChangedNotification);
    UserSettings settings(*store);
    EXPECT_EQ(sorting.take(), 0);

    settings.setSortRomanNumerals(true);
    EXPECT_EQ(sorting.take(), 1);
    settings.setSortByBPM(false);
    EXPECT_EQ(sorting.take(), 1);
    settings.setSeparateMIDIFiles(false);
    EXPECT_EQ(sorting.take(), 1);
    settings.setHideFileExtensions(true);
    settings.setSkipNestedSubfolders(true);
    settings.setKeySpelling(KeySpelling::flat);
    EXPECT_EQ(sorting.take(), 0);

    // Each reset posts one per sorting setting, even when nothing was off its default.
    for (const auto& reset : std::vector<std::function<void()>> {
             [&] { settings.restoreDefaultPreferences(); }, [&] { settings.restoreDefaultPreferences(); },
             [&] { settings.reloadFromStore(); }, [&] { settings.factoryReset(); } }) {
        reset();
        EXPECT_EQ(sorting.take(), 3);
    }
}

// Default settings keep the collections, the selection and the volume; a factory reset leaves one
// default collection. Neither touches keys other stores own.
TEST_F(UserSettingsFields, ResetsKeepWhatTheyPromise)
{
    store->setValue("UseCacheFirstLaunch", false);
    store->setValue("MaxCacheSize", qint64(5));
    store->setValue("SampleTags", QByteArray("tags"));
    UserSettings settings(*store);
    const auto defaults = preferences(settings);
    settings.addGroup("Drums", "");
    const BookmarkGroupList groups = settings.bookmarks();
    changeEveryPreference(settings);

    settings.restoreDefaultPreferences();
    EXPECT_EQ(preferences(settings), defaults);
    EXPECT_EQ(store->intValue("keySpelling"), 0);
    EXPECT_EQ(store->boolValue("autoPauseWhenUnfocused"), true);

    EXPECT_EQ(settings.bookmarks(), groups);
    EXPECT_EQ(storedGroups(), groups);
    EXPECT_EQ(settings.selectedGroup(), 1);
    EXPECT_EQ(settings.selectedPathIndex(), 1);
    EXPECT_FLOAT_EQ(settings.volume(), 0.25f);

    settings.addPath(folder("Kicks"), 1);
    settings.markSynced();
    const QUuid oldFirst = settings.bookmarks()[0].id;
    settings.setSortByBPM(false);
    settings.factoryReset();
    expectOneDefaultCollection(settings);
    EXPECT_EQ(preferences(settings), defaults);
    EXPECT_NE(settings.bookmarks()[0].id, oldFirst);
    EXPECT_EQ(storedGroups(), settings.bookmarks());
    EXPECT_EQ(store->intValue("selectedGroup"), 0);
    EXPECT_FALSE(store->contains("selectedPathIndex"));
    EXPECT_FALSE(settings.isSynced());
    EXPECT_EQ(store->boolValue("UseCacheFirstLaunch"), false);
    EXPECT_EQ(store->intValue("MaxCacheSize"), 5);
    EXPECT_EQ(store->dataValue("SampleTags"), QByteArray("tags"));
}

TEST_F(UserSettingsFields, ReloadReadsAnAppliedWorkspace)
{
    UserSettings settings(*store);
    settings.addGroup("Old", "");
    settings.setSortRomanNumerals(true);

    // A workspace replaces the keys in the store behind the object's back.
    const QUuid id = QUuid::createUuid();
    storeBookmarkValue(QVariantList {
        QVariantMap { { "id", id.toString() }, { "name", "One" }, { "paths", QVariantList {} } },
        QVariantMap { { "name", "Two" }, { "paths", QVariantList {} } } });
    store->setValue("groupNames", QVariantList { "Renamed" });
    store->setValue("selectedGroup", qint64(6));
    store->setValue("selectedTheme", qint64(5));
    store->remove("sortRomanNumerals");
    store->setValue("keySpelling", qint64(1));

    QSignalSpy bookmarksSpy(&settings, &UserSettings::bookmarksChanged);
    settings.reloadFromStore();
    EXPECT_GE(bookmarksSpy.count(), 1);
    EXPECT_EQ(settings.selectedTheme(), 5);
    EXPECT_FALSE(settings.sortRomanNumerals());
    EXPECT_EQ(settings.keySpelling(), KeySpelling::flat);
    ASSERT_EQ(settings.bookmarks().size(), 2);
    EXPECT_EQ(settings.bookmarks()[0].id, id);
    // No legacy renaming and no palette colours on this path.
    EXPECT_EQ(settings.bookmarks()[0].name, "One");
    EXPECT_EQ(settings.bookmarks()[1].colorHex, "");
    EXPECT_TRUE(store->contains("groupNames"));
    EXPECT_EQ(settings.selectedGroup(), 1);
    EXPECT_EQ(store->intValue("selectedGroup"), 1);
    EXPECT_EQ(settings.syncedBookmarks(), settings.bookmarks());
    EXPECT_TRUE(settings.isSynced());
    EXPECT_EQ(storedGroups(), settings.bookmarks());

    // An undecodable list is replaced, but its bytes are first kept in a file beside the
    // preferences, from which the collections can be recovered: plain garbage, and a list nested
    // 200,000 deep that would overflow the decoder's stack.
    const QList<QByteArray> damaged { QByteArray("damaged"),
        QByteArray::fromStdString(kivo::test::nestedArraysPlist("paths", 200000)) };
    for (const QByteArray& bytes : damaged) {
        store->setValue("bookmarks", bytes);
        settings.reloadFromStore();
        ASSERT_EQ(settings.bookmarks().size(), 1);
        EXPECT_EQ(settings.bookmarks()[0].name, "Collection");
        EXPECT_EQ(settings.selectedGroup(), 0);
        EXPECT_EQ(storedGroups(), settings.bookmarks());
        const QStringList kept
            = QDir(dir.path())
                  .entryList({ QStringLiteral("Preferences.plist.bookmarks.damaged-*") }, QDir::Files);
        ASSERT_EQ(kept.size(), 1);
        const QString keptPath = dir.path() + "/" + kept.front();
        EXPECT_EQ(kivo::test::readFile(keptPath.toStdString()), bytes.toStdString());
        QFile::remove(keptPath);
    }
    // A readable list is never set aside.
    settings.reloadFromStore();
    EXPECT_TRUE(QDir(dir.path()).entryList({ QStringLiteral("*.damaged-*") }, QDir::Files).isEmpty());
}
