#include "library/WorkspaceManager.h"

#include "library/UserSettings.h"
#include "platform/Clock.h"
#include "platform/PreferenceStore.h"

#include "library/SettingsStore.h"
#include "support/ReadFile.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace kivo;
using test::settle;
using namespace kivo::library;

namespace {

std::optional<QVariantMap> fileValues(const QString& path)
{
    return parseBackup(QByteArray::fromStdString(test::readFile(path.toStdString())));
}

struct WorkspaceFixture : test::SettingsStoreFixture {
    platform::ManualClock clock;
    QStringList calls;
    std::unique_ptr<WorkspaceManager> manager;
    test::NotificationCount stopAudio { kStopAudioNotification };
    test::NotificationCount didLoad { kWorkspaceDidLoadNotification };

    QString folder() const { return dir.path() + "/Workspaces"; }
    void open()
    {
        WorkspaceManagerOptions options;
        options.folder = folder();
        options.clock = &clock;
        // Disk work runs at once; its result comes back at a later turn, as from a worker.
        options.background = test::laterTurn;
        options.reloadStores = [this] { calls << "reload"; };
        options.resetMissingTracker = [this] { calls << "tracker"; };
        options.rebuildIndex = [this] { calls << "rebuild"; };
        manager = std::make_unique<WorkspaceManager>(*store, std::move(options));
        settle();
    }
    // The 0.25 s pause, the disk work and the reload.
    void runBody()
    {
        clock.advance(WorkspaceManager::kBodyDelay);
        settle();
    }
    void syncCompletes() { platform::NotificationCenter::shared().post(kPathsSyncedNotification); }
    // A whole switch: the body, then the first sync that ends the loading.
    void switched()
    {
        runBody();
        syncCompletes();
    }
    QUuid idOf(const QString& name) const
    {
        for (const Workspace& w : manager->workspaces())
            if (w.name == name)
                return w.id;
        return {};
    }
    QStringList names() const
    {
        QStringList out;
        for (const Workspace& w : manager->workspaces())
            out << w.name;
        return out;
    }
};

} // namespace

TEST_F(WorkspaceFixture, FirstRunKeepsTheCurrentStateAsWorkspace1AndLaterRunsReadTheRegistry)
{
    store->setValue("sortByBPM", false);
    store->setValue("HiddenFilePaths", QVariantList { "/s/a.wav" });
    const QVariantMap live = backupValues(*store);
    open();
    ASSERT_EQ(names(), QStringList { "Workspace 1" });
    const QUuid first = manager->activeID();
    EXPECT_EQ(fileValues(manager->filePath(first)), live);
    EXPECT_EQ(backupValues(*store), live);
    EXPECT_EQ(store->stringValue("ActiveWorkspaceID"), canonicalUuid(first));
    EXPECT_TRUE(calls.isEmpty());
    EXPECT_EQ(manager->filePath(first), folder() + "/" + canonicalUuid(first) + ".kivo");

    manager->renameWorkspace(first, "  Main \n");
    manager->renameWorkspace(first, " \n\t ");
    EXPECT_EQ(names(), QStringList { "Main" });
    open();
    EXPECT_EQ(names(), QStringList { "Main" });
    EXPECT_EQ(manager->activeID(), first);

    // An active id that names nothing falls back to the first workspace; a registry that cannot be
    // read starts over from the live state.
    store->setValue("ActiveWorkspaceID", QUuid::createUuid().toString());
    open();
    EXPECT_EQ(manager->activeID(), first);
    store->setValue("WorkspaceRegistry", QByteArray("{not json"));
    open();
    EXPECT_EQ(names(), QStringList { "Workspace 1" });
    EXPECT_NE(manager->activeID(), first);
}

TEST_F(WorkspaceFixture, ASwitchStoresTheLiveKeysAppliesTheTargetsReloadsAndWaitsForTheSync)
{
    store->setValue("sortByBPM", false);
    store->setValue("WorkspaceRegistry", QByteArray());
    open();
    const QUuid first = manager->activeID();

    // Refused while a sync runs: nothing at all happens.
    manager->setIndexBusy(true);
    EXPECT_FALSE(manager->newWorkspace("Drums"));
    clock.advance(1);
    settle();
    EXPECT_EQ(names().size(), 1);
    EXPECT_EQ(stopAudio.take(), 0);
    manager->setIndexBusy(false);

    ASSERT_TRUE(manager->newWorkspace("Drums"));
    EXPECT_TRUE(manager->isLoading());
    EXPECT_EQ(stopAudio.take(), 1);
    settle();
    EXPECT_EQ(store->boolValue("sortByBPM"), false); // not before the pause
    runBody();
    EXPECT_EQ(calls, (QStringList { "reload", "tracker", "rebuild" }));
    EXPECT_EQ(names(), (QStringList { "Workspace 1", "Drums" }));
    EXPECT_EQ(manager->activeID(), idOf("Drums"));
    EXPECT_TRUE(backupValues(*store).isEmpty()); // a new workspace starts from defaults
    EXPECT_EQ(fileValues(manager->filePath(first))->value("sortByBPM"), false);
    // Still loading until the first sync ends; no other change meanwhile.
    EXPECT_TRUE(manager->isLoading());
    EXPECT_FALSE(manager->switchTo(first));
    EXPECT_EQ(didLoad.take(), 0);
    syncCompletes();
    EXPECT_FALSE(manager->isLoading());
    EXPECT_EQ(didLoad.take(), 1);
    syncCompletes();
    EXPECT_EQ(didLoad.take(), 0);

    store->setValue("SampleTags", QVariantList { "t" });
    ASSERT_TRUE(manager->switchTo(first));
    switched();
    EXPECT_EQ(backupValues(*store), QVariantMap({ { "sortByBPM", false } }));
    EXPECT_EQ(*fileValues(manager->filePath(idOf("Drums"))),
        QVariantMap({ { "SampleTags", QVariantList { "t" } } }));
    // Choosing the active workspace does nothing.
    calls.clear();
    EXPECT_TRUE(manager->switchTo(first));
    EXPECT_FALSE(manager->isLoading());

    for (const char* expected : { "Drums 2", "Drums 3" }) {
        ASSERT_TRUE(manager->newWorkspace("Drums"));
        switched();
        EXPECT_EQ(names().last(), expected);
    }
    EXPECT_EQ(manager->uniqueName("Bass"), "Bass");
}

TEST_F(WorkspaceFixture, LoadingEndsAfterTwelveSecondsWithoutASyncAndOldTimeoutsAreIgnored)
{
    open();
    const QUuid first = manager->activeID();
    ASSERT_TRUE(manager->newWorkspace("B"));
    runBody(); // the timeout of this load falls due at 12.25 s
    clock.advance(1);
    syncCompletes();
    ASSERT_FALSE(manager->isLoading());
    EXPECT_EQ(didLoad.take(), 1);
    clock.advance(4);
    ASSERT_TRUE(manager->switchTo(first)); // at 5.25 s; times out at 17.5 s
    runBody();
    clock.advance(7); // 12.5 s: the first load's timeout has passed and done nothing
    EXPECT_TRUE(manager->isLoading());
    EXPECT_EQ(didLoad.take(), 0);
    clock.advance(4.9);
    EXPECT_TRUE(manager->isLoading());
    clock.advance(0.2);
    EXPECT_FALSE(manager->isLoading());
    EXPECT_EQ(didLoad.take(), 1);
}

TEST_F(WorkspaceFixture, AMissingOrDamagedWorkspaceFileGivesDefaults)
{
    open();
    const QUuid first = manager->activeID();
    ASSERT_TRUE(manager->newWorkspace("B"));
    switched();
    for (const QByteArray& damage : { QByteArray(), QByteArray("bplist00 garbage") }) {
        QFile::remove(manager->filePath(first));
        if (!damage.isEmpty()) {
            ASSERT_TRUE(writeFileAtomically(manager->filePath(first), damage));
        }
        store->setValue("volume", 0.1);
        ASSERT_TRUE(manager->switchTo(first));
        switched();
        EXPECT_TRUE(backupValues(*store).isEmpty());
        ASSERT_TRUE(manager->switchTo(idOf("B")));
        switched();
    }
}

TEST_F(WorkspaceFixture, DuplicateRenameAndDelete)
{
    store->setValue("hotkeyMode", QString("chords"));
    open();
    const QUuid first = manager->activeID();
    // Deleting the only workspace is ignored.
    EXPECT_TRUE(manager->deleteWorkspace(first));
    EXPECT_EQ(names().size(), 1);

    store->setValue("hotkeyChordPitch", qint64(4)); // live, not yet in the file
    std::optional<bool> copied;
    manager->duplicateWorkspace(first, "Workspace 1 copy", [&](bool ok) { copied = ok; });
    settle();
    ASSERT_EQ(copied, true);
    EXPECT_EQ(manager->activeID(), first);
    const QUuid copy = idOf("Workspace 1 copy");
    EXPECT_EQ(fileValues(manager->filePath(copy)), backupValues(*store));

    QFile::remove(manager->filePath(copy));
    copied.reset();
    manager->duplicateWorkspace(copy, "Lost", [&](bool ok) { copied = ok; });
    settle();
    EXPECT_EQ(copied, false);
    EXPECT_EQ(names().size(), 2);

    // An inactive one goes with its file; the active one hands over to a neighbour, whose keys apply.
    manager->duplicateWorkspace(first, "Third");
    settle();
    const QUuid third = idOf("Third");
    ASSERT_TRUE(manager->deleteWorkspace(copy));
    EXPECT_EQ(names(), (QStringList { "Workspace 1", "Third" }));
    settle();
    EXPECT_FALSE(QFile::exists(manager->filePath(copy)));

    ASSERT_TRUE(manager->switchTo(third));
    switched();
    store->setValue("hotkeyMode", QString("bank"));
    manager->setIndexBusy(true);
    EXPECT_FALSE(manager->deleteWorkspace(third));
    manager->setIndexBusy(false);
    ASSERT_TRUE(manager->deleteWorkspace(third));
    switched();
    EXPECT_EQ(names(), QStringList { "Workspace 1" });
    EXPECT_EQ(manager->activeID(), first);
    EXPECT_EQ(store->stringValue("hotkeyMode"), "chords");
    EXPECT_FALSE(QFile::exists(manager->filePath(third)));
    EXPECT_EQ(calls.count("reload"), 2);
}

TEST_F(WorkspaceFixture, ExportAndImport)
{
    store->setValue("selectedTheme", qint64(2));
    open();
    const QString exported = dir.path() + "/out/Mine.kivo";
    std::optional<bool> written;
    manager->exportTo(exported, [&](bool ok) { written = ok; });
    settle();
    ASSERT_EQ(written, true);
    EXPECT_EQ(fileValues(exported), QVariantMap({ { "selectedTheme", qint64(2) } }));
    manager->exportTo("/proc/no/such/place.kivo", [&](bool ok) { written = ok; });
    settle();
    EXPECT_EQ(written, false);

    std::optional<std::optional<QByteArray>> read;
    const auto readFile = [&](const QString& path) {
        read.reset();
        manager->readBackupFile(path, [&](std::optional<QByteArray> bytes) { read = bytes; });
        settle();
        return *read;
    };
    EXPECT_FALSE(readFile(QString::fromStdString(dir.write("junk.kivo", "<plist><array/></plist>"))));
    EXPECT_FALSE(readFile(dir.path() + "/none.kivo"));
    const auto data = readFile(exported);
    ASSERT_TRUE(data);

    EXPECT_FALSE(manager->importWorkspace("not a backup", "X"));
    EXPECT_FALSE(manager->isLoading());
    store->setValue("selectedTheme", qint64(5));
    for (const char* expected : { "Mine", "Mine 2" }) {
        ASSERT_TRUE(manager->importWorkspace(*data, "Mine"));
        switched();
        EXPECT_EQ(names().last(), expected);
        EXPECT_EQ(manager->activeID(), idOf(expected));
        EXPECT_EQ(store->intValue("selectedTheme"), 2);
        EXPECT_EQ(fileValues(manager->filePath(idOf(expected))), fileValues(exported));
    }
    EXPECT_EQ(fileValues(manager->filePath(idOf("Workspace 1")))->value("selectedTheme"), qint64(5));
}
