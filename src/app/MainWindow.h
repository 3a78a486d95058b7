#pragma once

// The browser window: the collection bar on top, the search field and the filter panel over the
// tree (or the result list while a query or a filter is set), the preview strip at the bottom, and an
// invitation to add a folder while the selected collection has none. The window shows what it is given and
// reports what the user does; BrowserController connects it to the library.

#include "app/BrowserView.h"
#include "app/CollectionBar.h"
#include "app/LibraryTreeModel.h"
#include "app/MetadataEditor.h"
#include "app/SearchRunner.h"
#include "music/KeySpelling.h"
#include "organise/HiddenFileManager.h"
#include "organise/SharedSearchState.h"

#include <QMainWindow>

#include <functional>
#include <map>
#include <optional>

class QLabel;
class QLineEdit;
class QStackedWidget;
class QTreeView;
class QAbstractItemView;
class QAbstractButton;
class QMenu;
class QTimer;

namespace kivo::index {
class MetadataOverrideStore;
}
namespace kivo::organise {
class TagStore;
}

namespace kivo::platform {
class TaskRunner;
}

namespace kivo::app {

class AnalysisService;
class HideModeBar;
class FilterPanel;
class KeyCapture;
class TagEditor;
class PreviewStrip;
class SearchResultsModel;
class SyncStatusBar;

// Names the application for the desktop (name, desktop entry). No display name is set: the
// platform would append it to every window title, and window managers then cut a dialog's own
// title down to a few letters.
void setApplicationIdentity();

// The tree as the user left it, by path, per collection id: the open folders and the focused row.
struct TreeMemory {
    std::map<QString, QStringList> openFolders;
    std::map<QString, QString> focusedRow;
    bool operator==(const TreeMemory&) const = default;
};

struct WindowServices {
    organise::FolderLoader loadFolder;
    // The search of a query with the filter set over the collections in scope, run on the search
    // thread.
    std::function<SearchJob(organise::SearchRequest request)> makeSearch;
    // The filter set the program keeps while windows and panes come and go; the window's own when null.
    organise::SharedSearchState* searchState = nullptr;
    // The nine entries of the "Assign to hotkey" row menu; without it the menu is not offered.
    std::function<QStringList()> hotkeyLabels;
};

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    // Searches run on `tasks`, which outlives the window.
    MainWindow(platform::TaskRunner& tasks, WindowServices services, QWidget* parent = nullptr);
    ~MainWindow() override;

    void setCollections(const std::vector<CollectionEntry>& collections, int selected);
    const std::vector<CollectionEntry>& collections() const { return m_collections; }
    int selectedCollection() const { return m_selected; }
    // Reads every shown folder again and repeats the current search (the index changed).
    void libraryChanged();
    // The sorting options or the extension setting changed.
    void setPresentationOptions(const organise::PresentationOptions& options);
    // The tree as it was left in an earlier run: each collection's folders reopen and its row is
    // focused again as their rows appear.
    void restoreTreeMemory(TreeMemory memory);
    const TreeMemory& treeMemory() const { return m_memory; }
    // Keys in the rows are named in this spelling, at once.
    void setKeySpelling(music::KeySpelling spelling);
    // The user's tempo, key and tag stores: rows show their effective values, and the row menu and
    // the keys E and Alt+T edit them. Without them neither is offered.
    void setOrganiseStores(index::MetadataOverrideStore* overrides, organise::TagStore* tags);
    // Values heard from files' audio fill the rows that show none of their own; the rows in view
    // are heard first, and the status bar shows the analysis's progress with a pause button.
    void setAnalysis(AnalysisService* analysis);
    AnalysisService* analysis() const { return m_analysis; }
    // The tempo and key pop-up, or the tag pop-up, for the selected rows (or the focused one); null
    // when nothing is selected or the stores are missing.
    MetadataEditor* editTempoAndKey(MetadataEditor::Field focus = MetadataEditor::Field::bpm);
    TagEditor* editTags();
    // The hidden and skipped marks and the modes: the tree drops, flattens or marks its rows, the
    // result list drops hidden files, and the hidden-items list replaces both while it is on.
    void setHiddenView(const organise::HiddenView& view);
    const organise::HiddenView& hiddenView() const { return m_hiddenView; }
    HideModeBar* hideModeBar() const { return m_hideBar; }
    FilterPanel* filterPanel() const { return m_filterPanel; }
    // Shows the filter panel and puts the focus in it, or hides it and returns to the list.
    void toggleFilters();
    // Rows of missing files and folders are greyed out; missingChanged() redraws them.
    void setMissingCheck(const MissingCheck& check);
    void missingChanged();

    // Which page the centre shows.
    enum class Page { emptyState, tree, results };
    Page page() const;
    QString emptyStateText() const;

    // The path of the selected file row, if a file is selected.
    std::optional<QString> selectedFile() const;
    // Moves the selection one row up or down in the shown list; true when it moved.
    bool moveSelection(int step);
    // The browser's own keys; true when the key meant something here.
    bool handleBrowserKey(const QKeyEvent& event);
    // Keys the window does not use itself (number keys for hotkeys, letters for modes) go to
    // these, in the order they were added, until one takes the key.
    using KeyHandler = std::function<bool(const QKeyEvent&)>;
    void addKeyHandler(KeyHandler handler) { m_keyHandlers.push_back(std::move(handler)); }
    void focusSearch();
    // Alt+S: leaves a search for the tree, or goes to the search field.
    void toggleSearch();

    // Window-modal sheets: neither waits for the user.
    void showAlert(const QString& title, const QString& text);
    // Asks before deleting a collection; deleteCollectionConfirmed follows a "Delete".
    void askDelete(int index);
    // A sync or an import was cancelled; with offersResync the sheet can start it again.
    void showSyncCancelled(const QString& title, const QString& text, bool offersResync);
    // The sync's progress strip; hidden while no sync runs.
    void showSyncStatus(const QString& text, double fraction, bool canCancel);
    void hideSyncStatus();
    // Asks for one or more folders to add (open panel); empty when the user cancels.
    QStringList chooseFolders();
    // Puts the hotkey bar between the browser and the preview strip; the window owns it.
    void setHotkeyBar(QWidget* bar);
    QWidget* hotkeyBar() const { return m_hotkeyBar; }
    // Shows a file of the collection in the tree: leaves a search, opens its folders, selects
    // it. False when the collection's tree does not hold it.
    bool revealFile(const QString& path);

    PreviewStrip* previewStrip() const { return m_preview; }
    SyncStatusBar* syncStatus() const { return m_sync; }
    QLineEdit* searchField() const { return m_search; }
    QTreeView* treeView() const { return m_tree; }
    QTreeView* resultsView() const { return m_results; }
    CollectionBar* collectionBar() const { return m_bar; }
    LibraryTreeModel* treeModel() const { return m_treeModel; }
    SearchResultsModel* resultsModel() const { return m_resultsModel; }
    SearchRunner* searchRunner() const { return m_runner; }
    KeyCapture* keyCapture() const { return m_keys; }

signals:
    void collectionSelected(int index);
    // The user named a new collection.
    void addCollectionRequested(const QString& name);
    void renameCollectionRequested(int index, const QString& name);
    // A collection was dragged into the gap before `destination`.
    void moveCollectionRequested(const QString& id, int destination);
    // The user confirmed the delete.
    void deleteCollectionConfirmed(int index);
    // Folders chosen in the open panel or dropped on the window.
    void addFoldersRequested(const QStringList& paths);
    // A single file row became the selection (loads it without sound), or none did (empty path).
    void fileSelected(const QString& path);
    // The file row after the selection, in the direction the selection last moved: the next one
    // the arrow keys would play.
    void fileAhead(const QString& path);
    void playRequested(const QString& path);
    void togglePlayPauseRequested();
    void skipRequested(double seconds);
    void seekRequested(double fraction);
    void volumeEdited(double position);
    void cancelSyncRequested();
    // A root folder row was dragged so the root at `source` lands before the one at `destination`.
    void moveRootRequested(int source, int destination);
    // "Assign to hotkey": these files from slot `slot` on.
    void assignToHotkeyRequested(const QStringList& paths, int slot);
    // "Remove from collection" on a root folder row.
    void removeRootRequested(const QString& rootPath);
    void resyncRequested();
    // Edit → Settings….
    void settingsRequested();
    // The window appeared for the first time.
    void firstShown();
    // A folder was opened or closed or another row focused (treeMemory() has it).
    void treeMemoryChanged();
    // H, the menu or the strip's Done: hide mode on or off.
    void hideModeRequested();
    // Alt+H, the menu or the strip: the hidden-items list on or off.
    void auditHiddenRequested();
    // A row's hide toggle or its menu.
    void hideToggleRequested(const QString& path, organise::HideToggleAction action);
    // A collection's menu: hide it or show it again.
    void collectionHiddenRequested(int index, bool hidden);

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // Pages of the centre and of the list area.
    enum CentrePage { kEmptyPage, kBrowserPage };
    enum ViewPage { kTreePage, kResultsPage, kNoResultsPage };

    void buildMenus();
    void placeSyncStatus();
    bool handleOwnKey(const QKeyEvent& event);
    bool handleSearchFieldKey(const QKeyEvent& event);
    QWidget* buildEmptyState();
    QWidget* buildBrowser();
    void configureView(QTreeView* view);
    void showCurrentCollection();
    // After the model was reset: opens the folders that were open and refocuses the row.
    void restoreTreeState();
    // Reopens what the remembered tree still waits for, as far as its rows exist now.
    void reopenRemembered();
    void rememberTreeChange(const QModelIndex& index, bool opened);
    void rememberFocus(const QModelIndex& current);
    QString currentCollectionId() const;
    QWidget* buildSearchStrip(QWidget* page);
    // A query, a filter, or folder mode: the list area shows results instead of the tree.
    bool searchActive() const;
    void searchTextChanged(const QString& text);
    void runSearch();
    // The same search again for newer values, the results keeping their selection and place.
    void rerunSearch();
    // The hidden items under the selected collection's roots, in place of the lists.
    void showHiddenItems();
    // The tag list or a tag's items changed: the panel's tags and a tag filter's results follow.
    void tagsChanged();
    void showTagChips();
    void showResults(const QString& query, const organise::FilterResults& results);
    void selectionChanged();
    QAbstractItemView* currentView() const;
    std::optional<QString> filePathAt(const QModelIndex& index) const;
    void askRename(int index);
    void askNewCollection();
    void requestAddFolders();
    void showRowMenu(QTreeView* view, const QPoint& pos);
    // A window listing the file's exact and near-identical duplicates, filled in the background.
    void showDuplicates(const QString& path);
    void addMetadataSection(QMenu& menu, const std::vector<BrowserRow>& items);
    // The files with a tempo among `items`, folders standing for the files listed below them.
    std::vector<BrowserRow> tempoTargets(const std::vector<BrowserRow>& items) const;
    // Each file's tempo times `factor`, stored as the user's own.
    void scaleTempo(const std::vector<BrowserRow>& rows, double factor);
    // The rows the metadata commands act on: the selection, or the focused row alone.
    std::vector<BrowserRow> selectedRows() const;
    MetadataEditor* editTempoAndKey(const std::vector<BrowserRow>& items, MetadataEditor::Field focus);
    TagEditor* editTags(const std::vector<BrowserRow>& items);
    // The stores changed: rows, order and results show the new values.
    void metadataChanged();
    void analysisProgressChanged();
    // Soon after the list scrolls or changes, its rows in view go to the front of the analysis.
    void watchVisibleRows(QTreeView* view);
    void prioritiseVisibleRows();
    // Newer heard values, a moment after they stop arriving: the tree's tempo order and an open
    // search's filters and order take them in, around the user's selection and place.
    void applyHeardValues();

    WindowServices m_services;
    std::vector<CollectionEntry> m_collections;
    int m_selected = -1;
    QString m_lastSelectedFile;
    int m_selectionStep = 1; // the way the arrow keys last moved the selection
    TreeMemory m_memory;
    TreeMemory m_toReopen;
    std::vector<KeyHandler> m_keyHandlers;
    index::MetadataOverrideStore* m_overrides = nullptr;
    organise::TagStore* m_tags = nullptr;
    AnalysisService* m_analysis = nullptr;
    QLabel* m_analysisText = nullptr;
    QAbstractButton* m_analysisPause = nullptr;
    QTimer* m_visibleRowsTimer = nullptr;
    QTimer* m_heardValuesTimer = nullptr;
    bool m_treeOrderStale = false; // a heard tempo moved a row the tree sorts by tempo
    bool m_resultsKeepPlace = false; // the search running answers the results shown again
    music::KeySpelling m_spelling = music::KeySpelling::automatic;
    // While the tree is made again around the selection, which ends where it began.
    bool m_holdSelection = false;

    bool m_shown = false;
    CollectionBar* m_bar = nullptr;
    SyncStatusBar* m_sync = nullptr;
    QStackedWidget* m_centre = nullptr;
    QLabel* m_emptyTitle = nullptr;
    QLabel* m_emptyText = nullptr;
    QLineEdit* m_search = nullptr;
    organise::SharedSearchState* m_searchState = nullptr;
    FilterPanel* m_filterPanel = nullptr;
    QWidget* m_tagChips = nullptr;
    QAbstractButton* m_filterToggle = nullptr;
    QStackedWidget* m_views = nullptr;
    BrowserView* m_tree = nullptr;
    QTreeView* m_results = nullptr;
    QLabel* m_noResults = nullptr;
    HideModeBar* m_hideBar = nullptr;
    organise::HiddenView m_hiddenView;
    QAction* m_hideModeAction = nullptr;
    QAction* m_auditAction = nullptr;
    PreviewStrip* m_preview = nullptr;
    QWidget* m_hotkeyBar = nullptr;
    LibraryTreeModel* m_treeModel = nullptr;
    SearchResultsModel* m_resultsModel = nullptr;
    SearchRunner* m_runner = nullptr;
    KeyCapture* m_keys = nullptr;
};

} // namespace kivo::app
