#include "library/UserSettings.h"

#include "platform/FolderBookmark.h"

#include "SettingsStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QSignalSpy>

#include <tuple>

using namespace kivo::library;
using kivo::platform::FolderBookmark;

namespace {

struct Collections : kivo::test::SettingsStoreFixture {
    QVariantMap storedElement(const QString& name, const QVariantList& paths = {})
    {
        return { { "id", QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() }, { "name", name },
            { "paths", paths } };
    }
    QStringList names(const UserSettings& settings) const
    {
        QStringList list;
        for (const BookmarkGroup& group : settings.bookmarks())
            list.append(group.name);
        return list;
    }
    QStringList rootPaths(const QList<QByteArray>& bookmarks) const
    {
        QStringList list;
        for (const QByteArray& bookmark : bookmarks)
            list.append(FolderBookmark::storedPath(bookmark).value_or("?"));
        return list;
    }
};

} // namespace

TEST_F(Collections, LoadingGivesLegacyNamesAndPaletteColoursByPosition)
{
    QVariantList list;
    for (int i = 0; i < 9; ++i)
        list.append(storedElement(QString("Group %1").arg(i)));
    QVariantMap coloured = storedElement("Coloured");
    coloured.insert("colorHex", "123ABC");
    list.append(coloured);
    storeBookmarkValue(list);
    store->setValue("groupNames", QVariantList { "Drums", "Loops" });
    store->setValue("selectedGroup", qint64(4));

    UserSettings settings(*store);
    ASSERT_EQ(settings.bookmarks().size(), 10);
    EXPECT_EQ(names(settings).mid(0, 3), (QStringList { "Drums", "Loops", "Group 2" }));
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(settings.bookmarks()[i].colorHex, groupPaletteColor(i)) << i;
    EXPECT_EQ(settings.bookmarks()[8].colorHex, settings.bookmarks()[0].colorHex); // eight, then round again
    EXPECT_EQ(settings.bookmarks()[9].colorHex, "123ABC");
    EXPECT_EQ(settings.selectedGroup(), 4);
    EXPECT_FALSE(store->contains("groupNames"));
    // The repaired list is what is stored now.
    EXPECT_EQ(storedGroups(), settings.bookmarks());
    EXPECT_TRUE(settings.isSynced());
    EXPECT_EQ(settings.syncedBookmarks(), settings.bookmarks());

    // More legacy names than collections; a list that is not all text is not used.
    storeBookmarkValue(QVariantList { storedElement("A") });
    store->setValue("groupNames", QVariantList { "First", "Second", "Third" });
    EXPECT_EQ(names(UserSettings(*store)), QStringList { "First" });
    EXPECT_FALSE(store->contains("groupNames"));
    store->setValue("groupNames", QVariantList { "Other", qint64(2) });
    EXPECT_EQ(names(UserSettings(*store)), QStringList { "First" });
}

TEST_F(Collections, TheSelectionIsClampedToTheListAndAnEmptyListStaysEmpty)
{
    storeBookmarkValue(QVariantList { storedElement("A"), storedElement("B"), storedElement("C") });
    store->setValue("selectedGroup", qint64(7));
    {
        UserSettings settings(*store);
        EXPECT_EQ(settings.selectedGroup(), 2);
        EXPECT_EQ(store->intValue("selectedGroup"), 2);
    }

    // An empty list stays empty; nothing is selectable.
    storeBookmarkValue(QVariantList {});
    UserSettings settings(*store);
    EXPECT_TRUE(settings.bookmarks().isEmpty());
    EXPECT_EQ(settings.selectedGroup(), 0);
    EXPECT_TRUE(settings.selectedGroupPaths().isEmpty());
    EXPECT_FALSE(settings.hasAnyPaths());
    EXPECT_EQ(settings.groupID(0), std::nullopt);
}

TEST_F(Collections, AddRemoveRenameAndRecolour)
{
    UserSettings settings(*store);
    settings.addGroup("Second", "");
    settings.addGroup("Third", "ABCDEF");
    settings.addGroup("Fourth", "");
    EXPECT_EQ(names(settings), (QStringList { "Collection", "Second", "Third", "Fourth" }));
    // Palette by the number of collections before the append.
    EXPECT_EQ(settings.bookmarks()[1].colorHex, groupPaletteColor(1));
    EXPECT_EQ(settings.bookmarks()[2].colorHex, "ABCDEF");
    EXPECT_EQ(settings.bookmarks()[3].colorHex, groupPaletteColor(3));
    EXPECT_EQ(settings.selectedGroup(), 3);
    EXPECT_EQ(store->intValue("selectedGroup"), 3);
    EXPECT_FALSE(settings.isSynced());
    EXPECT_EQ(storedGroups(), settings.bookmarks());
    EXPECT_EQ(settings.groupID(2), settings.bookmarks()[2].id);

    settings.removeGroup(3);
    EXPECT_EQ(names(settings), (QStringList { "Collection", "Second", "Third" }));
    EXPECT_EQ(settings.selectedGroup(), 2);
    settings.removeGroup(-1);
    settings.removeGroup(3);
    EXPECT_EQ(settings.bookmarks().size(), 3);
    settings.removeGroup(0);
    settings.removeGroup(0);
    EXPECT_EQ(names(settings), QStringList { "Third" });
    EXPECT_EQ(settings.selectedGroup(), 0);
    // The last collection is never removed.
    settings.removeGroup(0);
    EXPECT_EQ(names(settings), QStringList { "Third" });
    EXPECT_EQ(storedGroups(), settings.bookmarks());

    settings.markSynced();
    settings.renameGroup(0, "Renamed");
    settings.renameGroup(0, "");
    settings.renameGroup(1, "Nowhere");
    settings.setGroupColor(0, "76F0A1");
    settings.setGroupColor(4, "000000");
    EXPECT_EQ(settings.bookmarks()[0].name, "Renamed");
    EXPECT_EQ(settings.bookmarks()[0].colorHex, "76F0A1");
    EXPECT_EQ(storedGroups(), settings.bookmarks());
    // Names and colours are not what a sync indexes, so they leave the synced state alone.
    EXPECT_TRUE(settings.isSynced());
}

TEST_F(Collections, MoveGroupKeepsSelectionAndTheSyncedListInStep)
{
    storeBookmarkValue(
        QVariantList { storedElement("A"), storedElement("B"), storedElement("C"), storedElement("D") });
    store->setValue("selectedGroup", qint64(1));
    UserSettings settings(*store);
    const QUuid a = settings.bookmarks()[0].id;
    const QUuid b = settings.bookmarks()[1].id;
    const QUuid d = settings.bookmarks()[3].id;

    QSignalSpy changed(&settings, &UserSettings::bookmarksChanged);
    settings.moveGroup(b, 1);
    settings.moveGroup(b, 2);
    settings.moveGroup(QUuid::createUuid(), 0);
    EXPECT_EQ(changed.count(), 0);

    settings.moveGroup(b, 4);
    EXPECT_EQ(names(settings), (QStringList { "A", "C", "D", "B" }));
    EXPECT_EQ(settings.selectedGroup(), 3);
    EXPECT_EQ(store->intValue("selectedGroup"), 3);
    EXPECT_EQ(storedGroups(), settings.bookmarks());
    EXPECT_TRUE(settings.isSynced());
    EXPECT_EQ(settings.syncedBookmarks(), settings.bookmarks());

    // Past the end clamps to the end; the selection follows the collection, not the position.
    settings.moveGroup(a, 99);
    EXPECT_EQ(names(settings), (QStringList { "C", "D", "B", "A" }));
    EXPECT_EQ(settings.selectedGroup(), 2);
    settings.moveGroup(d, -5);
    EXPECT_EQ(names(settings), (QStringList { "D", "C", "B", "A" }));
    EXPECT_EQ(settings.selectedGroup(), 2);
    EXPECT_TRUE(settings.isSynced());

    // A collection added since the last sync moves in the live list only.
    settings.addGroup("E", "");
    const QUuid e = settings.bookmarks()[4].id;
    settings.moveGroup(e, 0);
    EXPECT_EQ(names(settings), (QStringList { "E", "D", "C", "B", "A" }));
    EXPECT_EQ(settings.selectedGroup(), 0);
    EXPECT_EQ(settings.syncedBookmarks().size(), 4);
    EXPECT_FALSE(settings.isSynced());
    settings.removeGroup(0);
    EXPECT_TRUE(settings.isSynced());
}

TEST_F(Collections, AddPathRefusesARootTheCollectionAlreadyHasPastStaleAndBrokenRoots)
{
    const QString kicks = folder("Library/Kicks");
    const QString loops = folder("Library/Loops");
    UserSettings settings(*store);
    settings.addGroup("Second", "");

    EXPECT_TRUE(settings.addPath(kicks, 0));
    EXPECT_EQ(settings.selectedPathIndex(), 0);
    EXPECT_EQ(store->intValue("selectedPathIndex"), 0);
    EXPECT_FALSE(settings.isSynced());
    settings.markSynced();

    EXPECT_FALSE(settings.addPath(dir.path() + "/Library/./Kicks", 0));
    EXPECT_FALSE(settings.addPath(dir.path() + "/Library/Loops/../Kicks/", 0));
    EXPECT_EQ(settings.bookmarks()[0].paths.size(), 1);
    EXPECT_TRUE(settings.isSynced());

    // The duplicate check is per collection.
    EXPECT_TRUE(settings.addPath(dir.path() + "/Library/./Kicks", 1));
    EXPECT_EQ(rootPaths(settings.bookmarks()[1].paths), QStringList { kicks });
    EXPECT_TRUE(settings.addPath(loops, 0));
    EXPECT_EQ(rootPaths(settings.bookmarks()[0].paths), (QStringList { kicks, loops }));
    EXPECT_EQ(settings.selectedPathIndex(), 1);
    EXPECT_EQ(storedGroups(), settings.bookmarks());
    EXPECT_FALSE(settings.addPath(loops, 2));
    EXPECT_FALSE(settings.addPath(loops, -1));

    testing::internal::CaptureStdout();
    EXPECT_FALSE(settings.addPath(dir.path() + "/Library/Missing", 0));
    EXPECT_TRUE(QString::fromStdString(testing::internal::GetCapturedStdout())
                    .startsWith("Error creating bookmark: "));
    EXPECT_EQ(settings.bookmarks()[0].paths.size(), 2);

    // Compared by stored path: another folder now standing where Kicks was (the old one still exists
    // elsewhere, so the new one cannot reuse its file number) makes its bookmark stale, yet names the
    // same path; so does a root whose folder is gone.
    ASSERT_TRUE(QDir(loops).removeRecursively());
    ASSERT_TRUE(QDir().rename(kicks, dir.path() + "/Library/Kicks moved"));
    ASSERT_TRUE(QDir().mkpath(kicks));
    EXPECT_FALSE(settings.addPath(kicks + "/", 0));
    EXPECT_TRUE(settings.addPath(folder("Fresh"), 0));
    EXPECT_EQ(settings.bookmarks()[0].paths.size(), 3);
}

TEST_F(Collections, MoveAndRemovePaths)
{
    UserSettings settings(*store);
    for (const char* name : { "a", "b", "c", "d" })
        ASSERT_TRUE(settings.addPath(folder(name), 0));
    const QString root = dir.path() + "/";
    settings.markSynced();
    QSignalSpy moved(&settings, &UserSettings::groupPathsMoved);

    const auto order
        = [&] { return rootPaths(settings.bookmarks()[0].paths).replaceInStrings(root, "").join(""); };
    for (const auto& [rows, to, expected] : std::vector<std::tuple<std::vector<int>, int, QString>> {
             { { 2, 0 }, 4, "bdac" }, { { 3 }, 0, "cbda" }, { { 1, 2 }, 1, "cbda" } }) {
        settings.movePaths(0, rows, to);
        EXPECT_EQ(order(), expected);
    }
    EXPECT_FALSE(settings.isSynced());
    EXPECT_EQ(storedGroups(), settings.bookmarks());
    settings.movePaths(0, { 9, -1 }, 0);
    settings.movePaths(3, { 0 }, 1);
    EXPECT_EQ(moved.count(), 0);
    QCoreApplication::processEvents();
    ASSERT_EQ(moved.count(), 3);
    EXPECT_EQ(moved.at(0).at(0).value<QUuid>(), settings.bookmarks()[0].id);

    settings.setSelectedPathIndex(2);
    settings.removePath(7);
    settings.removePath(0);
    EXPECT_EQ(order(), "bda");
    EXPECT_EQ(storedGroups(), settings.bookmarks());
    EXPECT_EQ(settings.selectedPathIndex(), 2);
    settings.removePath(0);
    settings.removePath(0);
    EXPECT_TRUE(settings.hasAnyPaths());
    settings.removePath(0);
    EXPECT_FALSE(settings.hasAnyPaths());
    EXPECT_EQ(settings.selectedPathIndex(), std::nullopt);
    EXPECT_FALSE(store->contains("selectedPathIndex"));

    // Roots are removed from the selected collection only.
    settings.addGroup("Other", "");
    ASSERT_TRUE(settings.addPath(folder("e"), 0));
    settings.removePath(0);
    EXPECT_EQ(settings.bookmarks()[0].paths.size(), 1);
    EXPECT_TRUE(settings.selectedGroupPaths().isEmpty());
    settings.setSelectedGroup(0);
    EXPECT_EQ(settings.selectedGroupPaths(), settings.bookmarks()[0].paths);
}

TEST_F(Collections, AMovedRootIsReplacedInEveryCollection)
{
    const QString kicks = folder("Kicks");
    const QString loops = folder("Loops");
    UserSettings settings(*store);
    settings.addGroup("Second", "");
    ASSERT_TRUE(settings.addPath(kicks, 0));
    ASSERT_TRUE(settings.addPath(loops, 0));
    ASSERT_TRUE(settings.addPath(kicks, 1));
    settings.markSynced();

    // Found by the recorded path, so a root whose folder is gone is replaced as well.
    ASSERT_TRUE(QDir().rename(kicks, dir.path() + "/Kicks 2"));
    const auto moved = FolderBookmark::create(dir.path() + "/Kicks 2");
    ASSERT_TRUE(moved);
    EXPECT_EQ(settings.replaceRootBookmarks(kicks, *moved), 2);
    EXPECT_EQ(rootPaths(settings.bookmarks()[0].paths), (QStringList { dir.path() + "/Kicks 2", loops }));
    EXPECT_EQ(rootPaths(settings.bookmarks()[1].paths), QStringList { dir.path() + "/Kicks 2" });
    EXPECT_EQ(storedGroups(), settings.bookmarks());
    // The index follows a relocated root, so the collections stay synced.
    EXPECT_TRUE(settings.isSynced());
    EXPECT_EQ(settings.replaceRootBookmarks(kicks, *moved), 0);
}
