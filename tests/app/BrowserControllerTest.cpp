#include "app/BrowserController.h"
#include "app/MainWindow.h"
#include "library/UserSettings.h"
#include "platform/PreferenceStore.h"
#include "support/TestEnvironment.h"

#include "Printers.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDir>
#include <QMessageBox>

#include <gtest/gtest.h>

using namespace kivo;
using namespace kivo::app;

namespace {
QMessageBox* sheet(QWidget* window, const char* name)
{
    return window->findChild<QMessageBox*>(QString::fromLatin1(name));
}
} // namespace

TEST(BrowserController, AddsEligibleFoldersToTheSelectedCollectionAndReportsTheRefusedOnes)
{
    test::ScratchDir dir;
    const std::string drums = dir.mkdir("Samples/Drums");
    dir.write("Samples/Drums/Kick.wav", "RIFF");
    platform::PreferenceStore store(dir.path() + "/prefs.plist");
    library::UserSettings settings(store);
    BrowserController controller(settings);
    MainWindow* w = controller.window();
    EXPECT_EQ(w->page(), MainWindow::Page::emptyState);

    controller.addFolders({ QString::fromStdString(drums), QDir::homePath() });
    ASSERT_EQ(settings.bookmarks().size(), 1);
    ASSERT_EQ(settings.bookmarks()[0].paths.size(), 1);
    const auto entries = collectionEntries(settings);
    EXPECT_EQ(entries[0].rootPaths, QStringList { QString::fromStdString(drums) });
    EXPECT_EQ(w->page(), MainWindow::Page::tree);
    EXPECT_EQ(w->treeModel()->index(0, 0).data().toString(), "Drums");

    QMessageBox* alert = sheet(w, "alert");
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->windowTitle(), "Ineligible folder");
    EXPECT_TRUE(alert->text().contains("is a home folder and can’t be synced for protective reasons."));
    alert->close();

    // The same folder again, through a "." on the way, changes nothing and asks nothing.
    controller.addFolders({ QString::fromStdString(drums) + "/../Drums/." });
    EXPECT_EQ(settings.bookmarks()[0].paths.size(), 1);
}

TEST(BrowserController, DeletingACollectionAsksFirstAndTheLastOneStays)
{
    test::ScratchDir dir;
    platform::PreferenceStore store(dir.path() + "/prefs.plist");
    library::UserSettings settings(store);
    BrowserController controller(settings);
    MainWindow* w = controller.window();
    controller.addCollection();
    ASSERT_EQ(settings.bookmarks().size(), 2);
    EXPECT_EQ(settings.selectedGroup(), 1);
    EXPECT_EQ(w->collectionBar()->collections().size(), 2u);

    w->askDelete(1);
    QMessageBox* ask = sheet(w, "deleteConfirmation");
    ASSERT_NE(ask, nullptr);
    EXPECT_EQ(ask->windowTitle(), "Delete \"Collection 2\"?");
    EXPECT_EQ(ask->text(),
        "This will remove the entire collection including 0 folder paths and user made adjustments.");
    QAbstractButton* cancel = nullptr;
    QAbstractButton* del = nullptr;
    for (QAbstractButton* b : ask->buttons())
        (b->text() == "Delete" ? del : cancel) = b;
    ASSERT_TRUE(cancel && del);
    cancel->click();
    EXPECT_EQ(settings.bookmarks().size(), 2);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(sheet(w, "deleteConfirmation"), nullptr);

    w->askDelete(1);
    ask = sheet(w, "deleteConfirmation");
    ASSERT_NE(ask, nullptr);
    for (QAbstractButton* b : ask->buttons())
        if (b->text() == "Delete")
            b->click();
    EXPECT_EQ(settings.bookmarks().size(), 1);
    EXPECT_EQ(w->collectionBar()->collections().size(), 1u);

    controller.deleteCollection(0);
    EXPECT_EQ(settings.bookmarks().size(), 1);
}
