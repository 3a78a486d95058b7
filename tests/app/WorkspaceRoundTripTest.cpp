// A workspace exported on one machine and imported on another: every store ends up as it was.

#include "app/WorkspaceStores.h"
#include "hotkeys/HotkeyManager.h"
#include "index/MetadataOverrideStore.h"
#include "library/SyncSettings.h"
#include "library/UserSettings.h"
#include "library/WorkspaceManager.h"
#include "organise/HiddenFileManager.h"
#include "organise/TagStore.h"
#include "platform/Clock.h"
#include "platform/PreferenceStore.h"
#include "platform/VolumeMonitor.h"

#include "library/SettingsStore.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

using namespace kivo;
using test::settle;

namespace {

// One machine: a preference file with every store on it and a workspace manager.
struct Machine {
    platform::ManualClock clock;
    platform::PreferenceStore store;
    library::UserSettings settings { store };
    library::SyncSettings syncSettings { store };
    organise::HiddenFileManager hidden { store };
    index::MetadataOverrideStore overrides { store };
    organise::TagStore tags { store };
    platform::VolumeMonitor volumes { [] { return std::optional(platform::MountTable()); },
        platform::VolumeMonitor::Watch::none };
    std::unique_ptr<hotkeys::HotkeyManager> hotkeys;
    std::unique_ptr<library::WorkspaceManager> workspaces;
    int rebuilds = 0;

    explicit Machine(const QString& folder)
        : store(folder + "/Preferences.plist")
    {
        hotkeys::HotkeyManager::Options keys;
        keys.clock = &clock;
        keys.volumes = &volumes;
        keys.exists = [](const std::string&) { return true; };
        keys.background = [](hotkeys::HotkeyManager::Job job) {
            if (auto then = job())
                then();
        };
        hotkeys = std::make_unique<hotkeys::HotkeyManager>(store, &settings, std::move(keys));
        library::WorkspaceManagerOptions options;
        options.folder = folder + "/Workspaces";
        options.clock = &clock;
        options.background = test::laterTurn;
        options.reloadStores = [this] {
            app::WorkspaceStores { settings, syncSettings, hidden, overrides, tags, *hotkeys }.reload();
        };
        options.rebuildIndex = [this] { ++rebuilds; };
        workspaces = std::make_unique<library::WorkspaceManager>(store, std::move(options));
        settle();
    }
};

} // namespace

TEST(WorkspaceRoundTrip, ExportThenImportOnAFreshPreferenceFileRestoresEveryStore)
{
    test::ScratchDir dir;
    const std::string kick = dir.write("Samples/Drums/kick.wav");
    const std::string snare = dir.write("Samples/Drums/snare.wav");
    const std::string drums = dir.str() + "/Samples/Drums";
    const QString exported = dir.path() + "/Drums.kivo";

    Machine a(QString::fromStdString(dir.mkdir("a")));
    a.settings.addGroup("Drums", "#E5484D");
    ASSERT_TRUE(a.settings.addPath(QString::fromStdString(drums), 1));
    a.settings.setSelectedGroup(1);
    a.settings.setVolume(0.3f);
    a.settings.setSortByBPM(false);
    a.settings.setMidiInstrument(2);
    a.syncSettings.setMaxCacheSize(7);
    a.syncSettings.setNotifyPathUpdates(true);
    a.syncSettings.save();
    a.hidden.setHidden({ snare }, true);
    a.hidden.setSkipped({ drums }, true);
    a.hidden.setGroupHidden(
        a.settings.groupID(0)->toString(QUuid::WithoutBraces).toUpper().toStdString(), true);
    a.overrides.setBPM(128, { kick });
    a.overrides.setKey("Am", { drums });
    a.overrides.clearBPM({ snare });
    const auto dark = a.tags.createTag("Dark");
    ASSERT_TRUE(dark);
    a.tags.setTag(*dark, organise::TagChoice::on, { drums });
    a.tags.setTag(*dark, organise::TagChoice::off, { kick });
    a.hotkeys->assign(QString::fromStdString(kick), 3);
    a.hotkeys->setChordKey(4, true);
    std::optional<bool> written;
    a.workspaces->exportTo(exported, [&](bool ok) { written = ok; });
    settle();
    ASSERT_EQ(written, true);

    Machine b(QString::fromStdString(dir.mkdir("b")));
    std::optional<QByteArray> bytes;
    b.workspaces->readBackupFile(exported, [&](std::optional<QByteArray> read) { bytes = read; });
    settle();
    ASSERT_TRUE(bytes);
    ASSERT_TRUE(b.workspaces->importWorkspace(*bytes, "Drums"));
    b.clock.advance(library::WorkspaceManager::kBodyDelay);
    settle();
    EXPECT_EQ(b.rebuilds, 1);
    EXPECT_EQ(b.workspaces->activeWorkspace()->name, "Drums");

    // Every store read the imported keys again (what each reads from its keys is its own test)...
    EXPECT_EQ(b.settings.bookmarks(), a.settings.bookmarks());
    EXPECT_EQ(b.settings.volume(), a.settings.volume());
    EXPECT_EQ(b.syncSettings.maxCacheSize(), 7);
    EXPECT_EQ(b.hidden.hiddenPaths(), a.hidden.hiddenPaths());
    EXPECT_EQ(*b.overrides.snapshot(), *a.overrides.snapshot());
    EXPECT_EQ(*b.tags.maps(), *a.tags.maps());
    EXPECT_EQ(b.hotkeys->slotPaths(), a.hotkeys->slotPaths());
    // ...and every key a held, b holds alike (reloading stores may add their defaults beside them).
    const QVariantMap held = library::backupValues(a.store);
    for (auto it = held.cbegin(); it != held.cend(); ++it)
        EXPECT_EQ(b.store.value(it.key()), it.value()) << it.key().toStdString();
}
