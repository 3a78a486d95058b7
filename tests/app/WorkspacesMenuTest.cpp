#include "app/WorkspacesMenu.h"
#include "library/SettingsStore.h"
#include "library/WorkspaceManager.h"
#include "platform/Clock.h"
#include "platform/NotificationCenter.h"
#include "platform/PreferenceStore.h"
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

struct MenuFixture : ::testing::Test {
    test::ScratchDir dir;
    platform::PreferenceStore store { dir.path() + "/Preferences.plist" };
    platform::ManualClock clock;
    std::unique_ptr<library::WorkspaceManager> manager;
    QMainWindow window;
    WorkspacesMenu* menu = nullptr;

    MenuFixture()
    {
        library::WorkspaceManagerOptions options;
        options.folder = dir.path() + "/Workspaces";
        options.clock = &clock;
        options.background = test::laterTurn;
        manager = std::make_unique<library::WorkspaceManager>(store, std::move(options));
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
        clock.advance(library::WorkspaceManager::kBodyDelay);
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
