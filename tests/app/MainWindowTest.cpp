#include "app/MainWindow.h"
#include "TreeSettled.h"
#include "app/CustomDragManager.h"
#include "app/FilterPanel.h"
#include "app/KeyCapture.h"
#include "app/SearchResultsModel.h"
#include "app/SyncStatusBar.h"
#include "music/MusicalKey.h"
#include "platform/TaskRunner.h"
#include "support/PaperLibrary.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>

#include "Printers.h"

#include <gtest/gtest.h>

#include "MessageBoxes.h"

using namespace kivo::app;
using kivo::index::FileInfo;
using kivo::test::fileInfo;

namespace {

// A library of two roots: /lib/Drums (Kicks/ and two snares) and /lib/Keys (empty). Its searches
// note what they were asked ("A,B:query") and find the snares by name or at 120 BPM, the kick by
// name, and Kicks in folder mode, where neither a query nor a filter asks for a query.
WindowServices fakeLibrary(
    std::vector<std::string>* searchedQueries = nullptr, kivo::organise::SharedSearchState* state = nullptr)
{
    static kivo::test::PaperLibrary paper = [] {
        kivo::test::PaperLibrary p;
        p.folder("/lib/Drums", { "Kicks" }, { "Snare 1.wav", "Snare 2.wav" });
        p.folder("/lib/Drums/Kicks", {}, { "Kick.wav" });
        return p;
    }();
    WindowServices s;
    s.loadFolder = paper.loader();
    s.searchState = state;
    s.makeSearch = [searchedQueries](kivo::organise::SearchRequest request) -> SearchJob {
        std::string asked;
        for (const std::string& group : request.groups)
            asked += (asked.empty() ? "" : ",") + group;
        if (searchedQueries)
            searchedQueries->push_back(asked + ":" + request.query);
        return [request](const kivo::index::CancelHandle&) {
            kivo::organise::FilterResults out;
            out.mode = request.filters.mode;
            const std::string& q = request.query;
            if (out.mode == kivo::organise::FilterMode::folder) {
                out.needsQueryForFolders = q.empty() && !request.filters.hasFilter();
                if (!out.needsQueryForFolders)
                    out.folders = { { "/lib/Drums/Kicks", "Kicks" } };
            } else if (q == "snare" || request.filters.minBPM == 120)
                out.files = { fileInfo("/lib/Drums/Snare 1.wav"), fileInfo("/lib/Drums/Snare 2.wav") };
            else if (q == "kick")
                out.files = { fileInfo("/lib/Drums/Kicks/Kick.wav") };
            return std::optional(out);
        };
    };
    return s;
}

std::vector<CollectionEntry> collections(QStringList firstRoots, QStringList secondRoots = {})
{
    return { { "A", "Drums", "EF5356", firstRoots }, { "B", "Keys", "76A5F0", secondRoots } };
}

// A window on the fake library; `shows` hands it collections and `opens` a folder, each waiting for
// the tree to settle.
struct Window : ::testing::Test {
    kivo::platform::TaskRunner tasks;
    std::vector<std::string> searched;
    kivo::organise::SharedSearchState state;
    MainWindow w { tasks, fakeLibrary(&searched, &state) };
    bool shows(const std::vector<CollectionEntry>& entries, int selected = 0)
    {
        w.setCollections(entries, selected);
        return treeSettled(w.treeModel());
    }
    bool opens(const QModelIndex& folder) { return openedAndSettled(w.treeView(), w.treeModel(), folder); }
    bool active()
    {
        w.show();
        w.activateWindow();
        return QTest::qWaitForWindowActive(&w);
    }
};

} // namespace

TEST_F(Window, InvitesToAddAFolderUntilTheSelectedCollectionHasOneThenLoadsFoldersWhenOpened)
{
    EXPECT_EQ(w.page(), MainWindow::Page::emptyState);
    ASSERT_TRUE(shows(collections({})));
    EXPECT_EQ(w.page(), MainWindow::Page::emptyState);
    EXPECT_FALSE(w.keyCapture()->isEnabled()); // Space and Return press the "Add folder…" button
    // Another collection may have folders; this one still asks for its own.
    ASSERT_TRUE(shows(collections({ "/lib/Drums" }), 1));
    EXPECT_EQ(w.page(), MainWindow::Page::emptyState);

    ASSERT_TRUE(shows(collections({ "/lib/Drums", "/lib/Keys" })));
    EXPECT_EQ(w.page(), MainWindow::Page::tree);
    EXPECT_TRUE(w.keyCapture()->isEnabled());
    ASSERT_EQ(w.treeModel()->rowCount(), 2);
    EXPECT_EQ(w.treeModel()->index(0, 0).data().toString(), "Drums");
    auto* model = w.treeModel();
    const QModelIndex drums = model->index(0, 0);
    const QModelIndex keys = model->index(1, 0);
    EXPECT_TRUE(model->hasChildren(drums));
    EXPECT_EQ(model->rowCount(drums), 0); // nothing read before the folder opens
    model->fetchMore(drums);
    // Read in the background: until the rows arrive, a "Loading…" row nobody can select or act on.
    ASSERT_EQ(model->rowCount(drums), 1);
    EXPECT_FALSE(model->index(0, 0, drums).flags() & Qt::ItemIsSelectable);
    EXPECT_EQ(model->row(model->index(0, 0, drums)), nullptr);
    ASSERT_TRUE(treeSettled(model));
    ASSERT_EQ(model->rowCount(drums), 3);
    EXPECT_EQ(model->index(0, 0, drums).data().toString(), "Kicks");
    EXPECT_TRUE(model->index(0, 0, drums).data(kIsDirectoryRole).toBool());
    EXPECT_EQ(model->index(2, 0, drums).data(kPathRole).toString(), "/lib/Drums/Snare 2.wav");
    model->fetchMore(keys);
    ASSERT_TRUE(treeSettled(model));
    EXPECT_FALSE(model->hasChildren(keys)); // empty once read: no expander

    // Missing files are greyed out and say why, the rest keep the view's own colour.
    w.setMissingCheck([](const std::string& path) {
        return path == "/lib/Drums/Snare 2.wav" ? QStringLiteral("Can't locate Drums") : QString();
    });
    EXPECT_TRUE(model->index(2, 0, drums).data(Qt::ForegroundRole).isValid());
    EXPECT_EQ(model->index(2, 0, drums).data(Qt::ToolTipRole).toString(),
        "/lib/Drums/Snare 2.wav\nCan't locate Drums");
    EXPECT_FALSE(model->index(1, 0, drums).data(Qt::ForegroundRole).isValid());

    QSignalSpy selected(&w, &MainWindow::fileSelected);
    w.treeView()->setCurrentIndex(model->index(1, 0, drums));
    ASSERT_EQ(selected.count(), 1);
    EXPECT_EQ(selected.at(0).at(0).toString(), "/lib/Drums/Snare 1.wav");
    w.treeView()->setCurrentIndex(drums);
    ASSERT_EQ(selected.count(), 2);
    EXPECT_EQ(selected.at(1).at(0).toString(), "");
}

TEST_F(Window, TypingSearchesTheSelectedCollectionClearingReturnsToTheTreeAndKeysLeadToTheResults)
{
    ASSERT_TRUE(shows(collections({ "/lib/Drums" })));
    QSignalSpy published(w.searchRunner(), &SearchRunner::resultsReady);

    w.searchField()->setText("  snare ");
    ASSERT_TRUE(published.wait(10000));
    EXPECT_EQ(w.page(), MainWindow::Page::results);
    EXPECT_EQ(w.resultsModel()->size(), 2);
    EXPECT_EQ(searched, std::vector<std::string> { "A:snare" });

    w.searchField()->setText("zzz");
    ASSERT_TRUE(published.wait(10000));
    EXPECT_EQ(w.page(), MainWindow::Page::results); // the "no samples match" page of the list
    EXPECT_EQ(w.resultsModel()->size(), 0);

    // Clearing the field drops the search still running and shows the tree at once.
    w.searchField()->setText("snare");
    w.searchField()->clear();
    EXPECT_EQ(w.page(), MainWindow::Page::tree);
    // Searches run in order: once a later one is back, the dropped one can no longer arrive.
    const int before = published.count();
    w.searchRunner()->submit("probe", [](const kivo::index::CancelHandle&) {
        kivo::organise::FilterResults r;
        r.files = { fileInfo("/lib/Drums/Snare 1.wav") };
        return std::optional(r);
    });
    ASSERT_TRUE(published.wait(10000));
    EXPECT_EQ(published.count(), before + 1);
    EXPECT_EQ(published.last().at(0).toString(), "probe");
    EXPECT_EQ(w.page(), MainWindow::Page::tree);
    EXPECT_EQ(w.resultsModel()->size(), 0);

    // The keyboard leads from the query to its results and back.
    ASSERT_TRUE(active());
    QSignalSpy plays(&w, &MainWindow::playRequested);
    QLineEdit* field = w.searchField();
    QTreeView* results = w.resultsView();
    auto selectedRow = [&] {
        const auto rows = results->selectionModel()->selectedRows();
        return rows.size() == 1 ? rows[0].row() : -1;
    };

    w.focusSearch();
    QTest::keyClicks(field, "snare");
    ASSERT_TRUE(published.wait(10000));
    ASSERT_EQ(w.page(), MainWindow::Page::results);
    // Down: the first hit, selected and played.
    QTest::keyClick(field, Qt::Key_Down);
    EXPECT_EQ(QApplication::focusWidget(), results);
    EXPECT_EQ(selectedRow(), 0);
    ASSERT_EQ(plays.count(), 1);
    EXPECT_EQ(plays.at(0).at(0).toString(), "/lib/Drums/Snare 1.wav");
    // Up on the first hit: back to the field, the query as it was.
    QTest::keyClick(results, Qt::Key_Up);
    EXPECT_EQ(QApplication::focusWidget(), field);
    EXPECT_EQ(field->text(), "snare");
    EXPECT_EQ(plays.count(), 1);
    // Return does what Down does.
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(QApplication::focusWidget(), results);
    EXPECT_EQ(plays.count(), 2);

    // Escape leaves the field and keeps the query; a second Escape drops it.
    field->setFocus();
    QTest::keyClick(field, Qt::Key_Escape);
    EXPECT_EQ(field->text(), "snare");
    EXPECT_EQ(QApplication::focusWidget(), results);
    QTest::keyClick(results, Qt::Key_Escape);
    EXPECT_EQ(field->text(), "");
    EXPECT_EQ(w.page(), MainWindow::Page::tree);

    // A single hit reached by Tab (focus without a selection): Down selects that hit, not the
    // one after it.
    w.focusSearch();
    QTest::keyClicks(field, "kick");
    ASSERT_TRUE(published.wait(10000));
    ASSERT_EQ(w.resultsModel()->size(), 1);
    results->setFocus(Qt::TabFocusReason);
    QTest::keyClick(results, Qt::Key_Down);
    EXPECT_EQ(selectedRow(), 0);
    ASSERT_EQ(plays.count(), 3);
    EXPECT_EQ(plays.at(2).at(0).toString(), "/lib/Drums/Kicks/Kick.wav");

    // Alt+S toggles out of the field as it toggles into it, typing nothing there.
    QTest::keyClick(field, Qt::Key_S, Qt::AltModifier);
    EXPECT_EQ(field->text(), "");
    EXPECT_EQ(w.page(), MainWindow::Page::tree);
    QTest::keyClick(w.treeView(), Qt::Key_S, Qt::AltModifier);
    EXPECT_EQ(QApplication::focusWidget(), field);
    QTest::keyClick(field, Qt::Key_S, Qt::AltModifier);
    EXPECT_EQ(field->text(), "");
    EXPECT_EQ(QApplication::focusWidget(), w.treeView());
}

TEST_F(Window, FiltersAloneListResultsAndFolderModeAsksForAQuery)
{
    using kivo::organise::FilterMode;
    ASSERT_TRUE(shows(collections({ "/lib/Drums" }, { "/lib/Keys" })));
    ASSERT_TRUE(active());
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
    EXPECT_EQ(searched.back(), "A:");

    // Every collection: the selected one first.
    w.filterPanel()->allCollectionsBox()->setChecked(true);
    ASSERT_TRUE(published.wait(10000));
    EXPECT_EQ(searched.back(), "A,B:");

    // Folder mode with neither a query nor a filter runs no folder search.
    w.filterPanel()->minField()->clear();
    w.filterPanel()->modeButton(FilterMode::folder)->click();
    ASSERT_TRUE(published.wait(10000));
    EXPECT_EQ(w.page(), MainWindow::Page::results);
    bool prompt = false;
    for (auto* label : w.findChildren<QLabel*>())
        prompt = prompt || (label->isVisible() && label->text() == kivo::organise::kFolderSearchPrompt);
    EXPECT_TRUE(prompt);
    EXPECT_TRUE(w.filterPanel()->countLabel()->text().isEmpty());
    QTest::keyClicks(w.searchField(), "kick");
    ASSERT_TRUE(published.wait(10000));
    ASSERT_EQ(w.resultsModel()->size(), 1);
    EXPECT_TRUE(w.resultsModel()->row(w.resultsModel()->index(0, 0))->isDirectory);

    // Back to files with no query and no filter: the tree, and the filters outlive the window.
    w.searchField()->clear();
    w.filterPanel()->modeButton(FilterMode::files)->click();
    EXPECT_EQ(w.page(), MainWindow::Page::tree);
    EXPECT_EQ(state.filters().mode, FilterMode::files);
}

TEST_F(Window, BrowserKeysPlayMoveAndScrubTypingInTheSearchFieldStaysTextAndADragListsFilesInOrder)
{
    ASSERT_TRUE(shows(collections({ "/lib/Drums" })));
    ASSERT_TRUE(active());
    auto* model = w.treeModel();
    const QModelIndex drums = model->index(0, 0);
    ASSERT_TRUE(opens(drums));
    ASSERT_EQ(model->rowCount(drums), 3);

    QSignalSpy plays(&w, &MainWindow::playRequested);
    QSignalSpy toggles(&w, &MainWindow::togglePlayPauseRequested);
    QSignalSpy skips(&w, &MainWindow::skipRequested);
    w.treeView()->setFocus();
    w.treeView()->setCurrentIndex(model->index(1, 0, drums));

    QTest::keyClick(w.treeView(), Qt::Key_Space);
    ASSERT_EQ(plays.count(), 1);
    EXPECT_EQ(plays.at(0).at(0).toString(), "/lib/Drums/Snare 1.wav");
    QTest::keyClick(w.treeView(), Qt::Key_Down);
    ASSERT_EQ(plays.count(), 2);
    EXPECT_EQ(plays.at(1).at(0).toString(), "/lib/Drums/Snare 2.wav");
    // The last row: nothing below to move to, nothing plays.
    QTest::keyClick(w.treeView(), Qt::Key_Down);
    EXPECT_EQ(plays.count(), 2);
    // Up onto a folder selects it without playing.
    QTest::keyClick(w.treeView(), Qt::Key_Up);
    QTest::keyClick(w.treeView(), Qt::Key_Up);
    EXPECT_EQ(plays.count(), 3);
    EXPECT_FALSE(w.selectedFile().has_value());

    // Pause and resume: Shift+Space, since most desktops take Alt+Space; Alt+Space where it arrives.
    QTest::keyClick(w.treeView(), Qt::Key_Space, Qt::ShiftModifier);
    QTest::keyClick(w.treeView(), Qt::Key_Space, Qt::AltModifier);
    EXPECT_EQ(toggles.count(), 2);
    EXPECT_EQ(plays.count(), 3);
    QTest::keyClick(w.treeView(), Qt::Key_Left);
    QTest::keyClick(w.treeView(), Qt::Key_Right);
    ASSERT_EQ(skips.count(), 2);
    EXPECT_DOUBLE_EQ(skips.at(0).at(0).toDouble(), -1.0);
    EXPECT_DOUBLE_EQ(skips.at(1).at(0).toDouble(), 1.0);

    // Command+A is let through to the browser: it selects every row, so no single file is selected.
    QTest::keyClick(w.treeView(), Qt::Key_A, Qt::ControlModifier);
    EXPECT_GT(w.treeView()->selectionModel()->selectedRows().size(), 1);
    EXPECT_FALSE(w.selectedFile().has_value());
    QTest::keyClick(w.treeView(), Qt::Key_Space);
    EXPECT_EQ(plays.count(), 3);

    // Keys the window has no use for go to the handlers added for them, first taker wins; an
    // Alt+letter reaches them before a menu's mnemonic (or any shortcut) takes it.
    QMenu* mnemonic = w.menuBar()->addMenu("&Jump");
    QAction shortcut;
    shortcut.setShortcut(Qt::ALT | Qt::Key_J);
    w.addAction(&shortcut);
    QSignalSpy shortcutTriggered(&shortcut, &QAction::triggered);
    std::vector<std::string> handled;
    w.addKeyHandler([&](const QKeyEvent& e) {
        handled.push_back("first:" + e.text().toStdString());
        return e.key() == Qt::Key_1;
    });
    w.addKeyHandler([&](const QKeyEvent& e) {
        handled.push_back("second:" + e.text().toStdString());
        return true;
    });
    w.treeView()->setFocus();
    QTest::keyClick(w.treeView(), Qt::Key_1);
    QTest::keyClick(w.treeView(), Qt::Key_T);
    QTest::keyClick(w.treeView(), Qt::Key_Space);
    QTest::keyClick(w.treeView(), Qt::Key_J, Qt::AltModifier);
    EXPECT_EQ(
        handled, (std::vector<std::string> { "first:1", "first:t", "second:t", "first:j", "second:j" }));
    EXPECT_EQ(shortcutTriggered.count(), 0);
    EXPECT_FALSE(mnemonic->isVisible());
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);

    // With the capture off (a sheet that edits hotkeys, say) keys reach the widgets again.
    w.keyCapture()->setEnabled(false);
    w.treeView()->setFocus();
    QTest::keyClick(w.treeView(), Qt::Key_Space);
    EXPECT_EQ(plays.count(), 3);

    // Picked bottom first, folder included: a drag still lists top to bottom, files only.
    auto* selection = w.treeView()->selectionModel();
    selection->clearSelection();
    for (int row : { 2, 0, 1 })
        selection->select(
            model->index(row, 0, drums), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    const QList<QUrl> urls = selectedFileURLs(*w.treeView());
    ASSERT_EQ(urls.size(), 2);
    EXPECT_EQ(urls[0].toLocalFile(), "/lib/Drums/Snare 1.wav");
    EXPECT_EQ(urls[1].toLocalFile(), "/lib/Drums/Snare 2.wav");
    CustomDragManager drags;
    QSignalSpy changes(&drags, &CustomDragManager::isDraggingChanged);
    drags.beginDrag({}, &w);
    EXPECT_EQ(changes.count(), 0);
    // Without a window to drag from the drag is given up at once.
    drags.beginDrag(urls, nullptr);
    EXPECT_EQ(changes.count(), 2);
    EXPECT_FALSE(drags.isDragging());
    EXPECT_TRUE(drags.draggedURLs().isEmpty());
}

TEST_F(Window, EachCollectionAndARestartComeBackAsLeftAndNamesFollowTheExtensionSetting)
{
    ASSERT_TRUE(shows(collections({ "/lib/Drums" }, { "/lib/Keys" })));
    QSignalSpy changed(&w, &MainWindow::treeMemoryChanged);
    auto* model = w.treeModel();
    ASSERT_TRUE(opens(model->index(0, 0)));
    const QModelIndex kicks = model->index(0, 0, model->index(0, 0));
    ASSERT_TRUE(opens(kicks));
    ASSERT_EQ(model->rowCount(kicks), 1);
    w.treeView()->setCurrentIndex(model->index(0, 0, kicks));
    w.treeView()->expand(model->index(0, 0)); // again: nothing new
    EXPECT_EQ(changed.count(), 3);
    const TreeMemory left = w.treeMemory();
    EXPECT_EQ(left.openFolders.at("A"), (QStringList { "/lib/Drums", "/lib/Drums/Kicks" }));
    EXPECT_EQ(left.focusedRow.at("A"), "/lib/Drums/Kicks/Kick.wav");

    // After a restart: the folders open again and the row two levels down is selected once they are.
    {
        kivo::platform::TaskRunner moreTasks;
        MainWindow again(moreTasks, fakeLibrary());
        QSignalSpy selected(&again, &MainWindow::fileSelected);
        again.restoreTreeMemory(left);
        ASSERT_TRUE(treeSettled(again.treeModel()));
        again.setCollections(collections({ "/lib/Drums" }), 0);
        ASSERT_TRUE(treeSettled(again.treeModel()));
        const QModelIndex drums = again.treeModel()->index(0, 0);
        EXPECT_TRUE(again.treeView()->isExpanded(drums));
        EXPECT_TRUE(again.treeView()->isExpanded(again.treeModel()->index(0, 0, drums)));
        EXPECT_EQ(again.selectedFile(), "/lib/Drums/Kicks/Kick.wav");
        ASSERT_EQ(selected.count(), 1);
        EXPECT_EQ(again.treeMemory(), left);
    }

    // Switching collections and back.
    w.treeView()->setCurrentIndex(model->index(1, 0, model->index(0, 0)));

    ASSERT_TRUE(shows(collections({ "/lib/Drums" }, { "/lib/Keys" }), 1));
    ASSERT_EQ(model->rowCount(), 1);
    EXPECT_EQ(model->index(0, 0).data().toString(), "Keys");
    EXPECT_FALSE(w.treeView()->isExpanded(model->index(0, 0)));

    ASSERT_TRUE(shows(collections({ "/lib/Drums" }, { "/lib/Keys" })));
    const QModelIndex drums = model->index(0, 0);
    EXPECT_TRUE(w.treeView()->isExpanded(drums));
    EXPECT_TRUE(w.treeView()->isExpanded(model->index(0, 0, drums)));
    EXPECT_EQ(w.treeView()->currentIndex().data(kPathRole).toString(), "/lib/Drums/Snare 1.wav");

    // A closed folder stays closed after the index changes; the open ones reopen.
    w.treeView()->collapse(model->index(0, 0, drums));
    ASSERT_TRUE(treeSettled(w.treeModel()));
    w.libraryChanged();
    ASSERT_TRUE(treeSettled(w.treeModel()));
    EXPECT_TRUE(w.treeView()->isExpanded(model->index(0, 0)));
    EXPECT_FALSE(w.treeView()->isExpanded(model->index(0, 0, model->index(0, 0))));
    EXPECT_EQ(w.treeView()->currentIndex().data(kPathRole).toString(), "/lib/Drums/Snare 1.wav");

    QSignalSpy published(w.searchRunner(), &SearchRunner::resultsReady);
    w.searchField()->setText("snare");
    ASSERT_TRUE(published.wait(10000));
    EXPECT_EQ(w.resultsModel()->index(0, 0).data().toString(), "Snare 1.wav");

    // The option renames the tree's rows at once and the result list through a new search.
    kivo::organise::PresentationOptions options;
    options.hideFileExtensions = true;
    w.setPresentationOptions(options);
    EXPECT_EQ(model->index(1, 0, model->index(0, 0)).data().toString(), "Snare 1");
    EXPECT_EQ(model->index(0, 0, model->index(0, 0)).data().toString(), "Kicks");
    ASSERT_TRUE(published.wait(10000));
    EXPECT_EQ(w.resultsModel()->index(0, 0).data().toString(), "Snare 1");
}

TEST_F(Window, SyncSheetsAndStripOfferWhatTheSyncAllows)
{
    QSignalSpy resync(&w, &MainWindow::resyncRequested);
    QSignalSpy cancel(&w, &MainWindow::cancelSyncRequested);

    w.showSyncCancelled(
        "Sync cancelled", "The sync was cancelled. Your library may not be up to date.", true);
    auto* box = w.findChild<QMessageBox*>("syncCancelled");
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->buttons().size(), 2);
    kivo::test::clickButton(box, "Attempt re-sync");
    EXPECT_EQ(resync.count(), 1);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    w.showSyncCancelled("Import cancelled", "…", false);
    box = w.findChild<QMessageBox*>("syncCancelled");
    ASSERT_NE(box, nullptr);
    ASSERT_EQ(box->buttons().size(), 1);
    box->buttons().front()->click();
    EXPECT_EQ(resync.count(), 1);

    w.showSyncStatus("Scanning 3 folders…", -1, true);
    EXPECT_TRUE(w.syncStatus()->canCancel());
    w.syncStatus()->findChild<QPushButton*>()->click();
    EXPECT_EQ(cancel.count(), 1);
    w.showSyncStatus("Indexing 1 of 2 samples", 0.5, false);
    EXPECT_FALSE(w.syncStatus()->canCancel());
    w.hideSyncStatus();
    EXPECT_TRUE(w.syncStatus()->isHidden());

    // The strip coming and going moves nothing in the window.
    ASSERT_TRUE(shows(collections({ "/lib/Drums" })));
    w.show();
    QCoreApplication::processEvents();
    auto place = [&] { return QRect(w.treeView()->mapTo(&w, QPoint(0, 0)), w.treeView()->size()); };
    const QRect before = place();
    w.showSyncStatus("Sync completed", 1.0, false);
    QCoreApplication::processEvents();
    EXPECT_TRUE(w.syncStatus()->isVisible());
    EXPECT_EQ(place(), before);
    w.hideSyncStatus();
    QCoreApplication::processEvents();
    EXPECT_EQ(place(), before);
}

TEST_F(Window, BrowserViewRootRowCentresCoverWhatEachRootShowsOpen)
{
    ASSERT_TRUE(shows(collections({ "/lib/Drums", "/lib/Keys", "/lib/Other" })));
    w.show();
    auto* view = static_cast<BrowserView*>(w.treeView());
    const auto closed = view->rootRowCentres();
    ASSERT_EQ(closed.size(), 3u);
    const double row = closed[1] - closed[0];
    EXPECT_GT(row, 0);
    EXPECT_NEAR(closed[2] - closed[1], row, 1.0);

    // Drums opens onto three rows: its block is four rows high, its centre 1.5 rows lower.
    ASSERT_TRUE(openedAndSettled(view, w.treeModel(), w.treeModel()->index(0, 0)));
    const auto open = view->rootRowCentres();
    ASSERT_EQ(open.size(), 3u);
    EXPECT_NEAR(open[0] - closed[0], 1.5 * row, 1.0);
    EXPECT_NEAR(open[1] - closed[1], 3 * row, 1.0);
}

TEST(CollectionBar, NamesShowAsTypedWithRoomForAllAfterAReorderColoursChangeAndTheSyncStateShows)
{
    // "&" is no mnemonic: the button reads as typed.
    CollectionBar bar;
    bar.resize(800, 40);
    bar.setCollections({ { "A", "Drums & Loops", "EF5356", {} }, { "B", "R&B", "76A5F0", {} } }, 0);
    for (int i : { 0, 1 }) {
        EXPECT_TRUE(QKeySequence::mnemonic(bar.button(i)->text()).isEmpty());
        EXPECT_EQ(bar.button(i)->text().replace("&&", "&"), bar.collections()[std::size_t(i)].name);
    }
    bar.show();
    QCoreApplication::processEvents();
    const int width = bar.findChild<QScrollArea*>()->maximumWidth();
    EXPECT_GE(width, bar.button(0)->width() + bar.button(1)->width());

    // A reorder makes the buttons again while the bar is on screen.
    bar.setCollections({ { "B", "R&B", "76A5F0", {} }, { "A", "Drums & Loops", "EF5356", {} } }, 1);
    QCoreApplication::processEvents();
    EXPECT_TRUE(bar.button(0)->isVisible());
    EXPECT_EQ(bar.button(0)->text().replace("&&", "&"), "R&B");
    EXPECT_TRUE(bar.button(1)->isChecked());
    EXPECT_EQ(bar.findChild<QScrollArea*>()->maximumWidth(), width);

    // The colour menu: the palette's eight colours, the current one checked, then a custom colour.
    QSignalSpy colours(&bar, &CollectionBar::colorChangeRequested);
    QMenu menu;
    bar.fillMenu(menu, 0);
    QMenu* colourMenu = nullptr;
    for (QAction* a : menu.actions())
        if (a->menu())
            colourMenu = a->menu();
    ASSERT_NE(colourMenu, nullptr);
    QList<QAction*> swatches;
    for (QAction* a : colourMenu->actions())
        if (a->isCheckable())
            swatches << a;
    ASSERT_EQ(swatches.size(), 8);
    EXPECT_TRUE(swatches[1]->isChecked()); // 76A5F0 is the palette's second
    swatches[3]->trigger();
    ASSERT_EQ(colours.count(), 1);
    EXPECT_EQ(colours.at(0).at(0).toInt(), 0);
    EXPECT_EQ(colours.at(0).at(1).toString(), "76F0A1");

    // A mark while the collections are not as the last sync left them; a pulse when one completes.
    EXPECT_FALSE(bar.unsyncedMarkShown());
    bar.setSynced(false);
    EXPECT_TRUE(bar.unsyncedMarkShown());
    bar.setSynced(true);
    EXPECT_FALSE(bar.unsyncedMarkShown());
    bar.pulse(Qt::red);
    EXPECT_TRUE(bar.isPulsing());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !bar.isPulsing(); }, 3000));
}

TEST_F(Window, BrowserColumnsShowKeysParsedInTheUsersSpellingInAColumnWideEnoughForAnyKey)
{
    // (Parsing and naming keys are MusicalKey's own test.)
    using kivo::music::KeySpelling;
    FileInfo tagged = fileInfo("/lib/Pad.wav");
    tagged.key = "Ebminor";
    FileInfo junk = fileInfo("/lib/Junk.wav");
    junk.key = "minor-ish";
    w.resultsModel()->setResults({ tagged, junk });
    const auto key = [&](int row) { return w.resultsModel()->index(row, kKeyColumn).data(); };
    EXPECT_EQ(key(0).toString(), "E♭ Minor");
    EXPECT_FALSE(key(1).isValid()); // no key, not the raw text
    w.setKeySpelling(KeySpelling::sharp);
    EXPECT_EQ(key(0).toString(), "D♯ Minor");

    // No key in any spelling is cut off.
    const int column = w.resultsView()->header()->sectionSize(kKeyColumn);
    for (KeySpelling spelling : kivo::music::kAllKeySpellings)
        for (int pc = 0; pc < 12; ++pc)
            for (bool minor : { false, true }) {
                const QString text = QString::fromStdString(
                    kivo::music::MusicalKey { pc, minor, "C" }.displayName(spelling));
                EXPECT_LE(w.resultsView()->fontMetrics().horizontalAdvance(text) + 8, column)
                    << text.toStdString();
            }
}
