#include "app/WorkspacesMenu.h"
#include "app/WorkspaceStores.h"
#include "hotkeys/HotkeyManager.h"
#include "index/MetadataOverrideStore.h"
#include "library/SettingsStore.h"
#include "library/SyncSettings.h"
#include "library/UserSettings.h"
#include "library/WorkspaceManager.h"
#include "organise/HiddenFileManager.h"
#include "organise/TagStore.h"
#include "platform/Clock.h"
#include "platform/NotificationCenter.h"
#include "platform/PreferenceStore.h"
#include "platform/VolumeMonitor.h"
#include "support/TestEnvironment.h"

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>

#include <gtest/gtest.h>

#include "MessageBoxes.h"

using namespace kivo;
using test::settle;
using namespace kivo::app;

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

// A machine's workspaces in its menu.
struct MenuFixture : ::testing::Test {
    test::ScratchDir dir;
    Machine machine { dir.path() };
    library::WorkspaceManager* manager = machine.workspaces.get();
    QMainWindow window;
    WorkspacesMenu* menu = nullptr;

    MenuFixture()
    {
        window.setCentralWidget(new QWidget);
        window.menuBar()->addMenu("File");
        window.menuBar()->addMenu("Help");
        menu = new WorkspacesMenu(*manager, window);
        window.resize(600, 400);
        window.show();
        settle();
    }
    // The items as the user sees them when the menu opens: text, enabled, checked.
    QStringList items()
    {
        emit menu->menu()->aboutToShow();
        QStringList out;
        for (QAction* a : menu->menu()->actions())
            out << (a->isSeparator()
                    ? QString("-")
                    : a->text() + (a->isEnabled() ? "" : " [off]") + (a->isChecked() ? " ✓" : ""));
        return out;
    }
    QAction* item(const QString& text)
    {
        emit menu->menu()->aboutToShow();
        for (QAction* a : menu->menu()->actions())
            if (a->text() == text)
                return a;
        ADD_FAILURE() << "no item " << text.toStdString();
        return nullptr;
    }
    void finishLoad()
    {
        machine.clock.advance(library::WorkspaceManager::kBodyDelay);
        settle();
        platform::NotificationCenter::shared().post("UserSettingsPathsSynced");
    }
};

} // namespace

TEST_F(MenuFixture, ItemsEnablingPromptsTheBusyRefusalAndTheImportAndExportPanels)
{
    QStringList titles;
    for (QAction* a : window.menuBar()->actions())
        titles << a->text();
    EXPECT_EQ(titles, (QStringList { "File", "Workspaces", "Window", "Help" }));
    EXPECT_EQ(items(),
        (QStringList { "Workspace 1 ✓", "-", "New", "Duplicate", "Rename…", "Delete… [off]", "-", "Import…",
            "Export…" }));

    // New: the prompt, then the change.
    item("New")->trigger();
    auto* prompt = window.findChild<QInputDialog*>("newWorkspace");
    ASSERT_TRUE(prompt);
    EXPECT_EQ(prompt->textValue(), "Workspace");
    prompt->setTextValue("  Drums ");
    prompt->accept();
    settle();
    EXPECT_TRUE(manager->isLoading());
    EXPECT_TRUE(window.findChild<QWidget*>("workspaceLoadingOverlay")->isVisible());
    EXPECT_EQ(items(),
        (QStringList { "Workspace 1 [off] ✓", "-", "New [off]", "Duplicate [off]", "Rename…", "Delete… [off]",
            "-", "Import… [off]", "Export…" }));
    finishLoad();
    EXPECT_FALSE(window.findChild<QWidget*>("workspaceLoadingOverlay")->isVisible());
    EXPECT_EQ(items(),
        (QStringList { "Workspace 1", "Drums ✓", "-", "New", "Duplicate", "Rename…", "Delete…", "-",
            "Import…", "Export…" }));

    // A sync running: the change is refused with the pop-up, nothing moves.
    QAction* first = item("Workspace 1");
    manager->setIndexBusy(true);
    first->trigger();
    QMessageBox* busy = test::findSheet(&window, "workspacesBusy");
    ASSERT_TRUE(busy);
    test::clickButton(busy, "OK");
    EXPECT_EQ(manager->activeWorkspace()->name, "Drums");
    manager->setIndexBusy(false);

    item("Rename…")->trigger();
    prompt = window.findChild<QInputDialog*>("renameWorkspace");
    ASSERT_TRUE(prompt);
    EXPECT_EQ(prompt->textValue(), "Drums");
    prompt->setTextValue("Kits");
    prompt->accept();
    settle();

    item("Duplicate")->trigger();
    prompt = window.findChild<QInputDialog*>("duplicateWorkspace");
    ASSERT_TRUE(prompt);
    EXPECT_EQ(prompt->textValue(), "Kits copy");
    prompt->accept();
    settle();
    EXPECT_EQ(items().mid(0, 3), (QStringList { "Workspace 1", "Kits ✓", "Kits copy" }));

    item("Delete…")->trigger();
    QMessageBox* confirm = test::findSheet(&window, "deleteWorkspace");
    ASSERT_TRUE(confirm);
    test::clickButton(confirm, "Delete");
    finishLoad();
    EXPECT_EQ(items().mid(0, 2), (QStringList { "Workspace 1 ✓", "Kits copy" }));

    // Import and export: their panels and pop-ups.
    item("Export…")->trigger();
    auto* save = window.findChild<QFileDialog*>("exportWorkspacePanel");
    ASSERT_TRUE(save);
    EXPECT_EQ(save->acceptMode(), QFileDialog::AcceptSave);
    emit save->fileSelected("/proc/none/x.kivo");
    settle();
    QMessageBox* failed = test::findSheet(&window, "exportFailed");
    ASSERT_TRUE(failed);
    test::clickButton(failed, "OK");

    item("Import…")->trigger();
    auto* open = window.findChild<QFileDialog*>("importWorkspacePanel");
    ASSERT_TRUE(open);
    EXPECT_EQ(open->fileMode(), QFileDialog::ExistingFile);
    EXPECT_EQ(open->nameFilters(), QStringList { "KIVO workspace (*.kivo)" });
    open->reject();

    menu->importFile(QString::fromStdString(dir.write("Bad.kivo", "not a workspace")));
    settle();
    QMessageBox* invalid = test::findSheet(&window, "importInvalid");
    ASSERT_TRUE(invalid);
    test::clickButton(invalid, "OK");
    EXPECT_EQ(manager->workspaces().size(), 2);

    // A file given at start-up waits for the running sync instead of being refused.
    std::optional<bool> written;
    manager->exportTo(dir.path() + "/Live Set.kivo", [&](bool ok) { written = ok; });
    settle();
    ASSERT_EQ(written, true);
    manager->setIndexBusy(true);
    menu->importFile(dir.path() + "/Live Set.kivo", true);
    settle();
    EXPECT_FALSE(test::findSheet(&window, "workspacesBusy"));
    EXPECT_EQ(manager->workspaces().size(), 2);
    manager->setIndexBusy(false);
    settle();
    finishLoad();
    EXPECT_EQ(manager->activeWorkspace()->name, "Live Set");
}

// A workspace exported on one machine and imported on another: every store ends up as it was.
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
