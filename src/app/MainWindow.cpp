#include "app/MainWindow.h"

#include "app/BrowserView.h"
#include "app/FilterPanel.h"
#include "app/HideModeBar.h"
#include "app/HideToggleButton.h"
#include "app/KeyCapture.h"
#include "app/PreviewStrip.h"
#include "app/ResultRowDelegate.h"
#include "app/SearchResultsModel.h"
#include "app/SettingsWindow.h"
#include "app/ShortcutHelp.h"
#include "app/SyncStatusBar.h"
#include "app/TagChips.h"

#include <QAction>
#include <QApplication>
#include <QFrame>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>

namespace kivo::app {

void setApplicationIdentity()
{
    QApplication::setApplicationName(QStringLiteral("KIVO Browser"));
    QApplication::setDesktopFileName(QStringLiteral("kivo-browser"));
}

MainWindow::MainWindow(platform::TaskRunner& tasks, WindowServices services, QWidget* parent)
    : QMainWindow(parent)
    , m_services(std::move(services))
{
    setWindowTitle(QStringLiteral("KIVO Browser"));
    setWindowIcon(QIcon::fromTheme(QStringLiteral("kivo-browser")));
    resize(1040, 720);
    setMinimumSize(560, 420);
    setAcceptDrops(true);

    m_treeModel = new LibraryTreeModel(tasks, m_services.loadFolder, this);
    m_resultsModel = new SearchResultsModel(this);
    m_runner = new SearchRunner(tasks, this);
    connect(m_runner, &SearchRunner::resultsReady, this, &MainWindow::showResults);
    m_searchState = m_services.searchState ? m_services.searchState : new organise::SharedSearchState(this);

    auto* central = new QWidget(this);
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    m_bar = new CollectionBar(central);
    column->addWidget(m_bar);
    auto* line = new QFrame(central);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    column->addWidget(line);
    m_centre = new QStackedWidget(central);
    m_centre->addWidget(buildEmptyState());
    m_centre->addWidget(buildBrowser());
    column->addWidget(m_centre, 1);
    // The sync strip lies over the foot of the centre rather than in the column: nothing moves
    // when it comes and goes.
    m_sync = new SyncStatusBar(central);
    m_sync->hide();
    connect(m_sync, &SyncStatusBar::cancelRequested, this, &MainWindow::cancelSyncRequested);
    m_centre->installEventFilter(this);

    auto* line2 = new QFrame(central);
    line2->setObjectName(QStringLiteral("previewLine"));
    line2->setFrameShape(QFrame::HLine);
    line2->setFrameShadow(QFrame::Sunken);
    column->addWidget(line2);
    m_preview = new PreviewStrip(central);
    column->addWidget(m_preview);
    setCentralWidget(central);

    connect(m_bar, &CollectionBar::collectionSelected, this, &MainWindow::collectionSelected);
    connect(m_bar, &CollectionBar::addCollectionRequested, this, &MainWindow::askNewCollection);
    connect(m_bar, &CollectionBar::deleteRequested, this, &MainWindow::askDelete);
    connect(m_bar, &CollectionBar::renameRequested, this, &MainWindow::askRename);
    connect(m_bar, &CollectionBar::moveRequested, this, &MainWindow::moveCollectionRequested);
    connect(m_bar, &CollectionBar::addFolderRequested, this, &MainWindow::requestAddFolders);
    connect(m_preview, &PreviewStrip::seekRequested, this, &MainWindow::seekRequested);
    connect(m_preview, &PreviewStrip::volumeEdited, this, &MainWindow::volumeEdited);

    buildMenus();
    m_keys = new KeyCapture(
        this, [this](const QKeyEvent& e) { return handleBrowserKey(e); }, this);
    showCurrentCollection();
}

MainWindow::~MainWindow() = default;

void MainWindow::setHotkeyBar(QWidget* bar)
{
    auto* column = static_cast<QVBoxLayout*>(centralWidget()->layout());
    auto* previewLine = centralWidget()->findChild<QFrame*>(QStringLiteral("previewLine"));
    if (m_hotkeyBar) {
        column->removeWidget(m_hotkeyBar);
        delete m_hotkeyBar;
    }
    m_hotkeyBar = bar;
    if (!bar)
        return;
    bar->setParent(centralWidget());
    column->insertWidget(column->indexOf(previewLine) + 1, bar);
    bar->show();
}

bool MainWindow::revealFile(const QString& path)
{
    if (!m_search->text().isEmpty())
        m_search->clear();
    // The tree, even while filters list results.
    m_runner->cancel();
    m_views->setCurrentIndex(kTreePage);
    const std::string target = path.toStdString();
    // Open each folder on the way down; a closed folder loads its rows when it opens.
    QModelIndex found;
    for (int guard = 0; guard < 256; ++guard) {
        found = m_treeModel->indexForPath(target);
        if (found.isValid())
            break;
        QModelIndex deepest;
        std::string folder = target;
        while (!deepest.isValid()) {
            const auto slash = folder.rfind('/');
            if (slash == std::string::npos || slash == 0)
                return false;
            folder.resize(slash);
            deepest = m_treeModel->indexForPath(folder);
        }
        if (m_tree->isExpanded(deepest))
            return false;
        m_tree->expand(deepest);
    }
    if (!found.isValid())
        return false;
    m_tree->setCurrentIndex(found);
    m_tree->scrollTo(found);
    m_tree->setFocus();
    return true;
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_search && event->type() == QEvent::KeyPress)
        return handleSearchFieldKey(*static_cast<QKeyEvent*>(event));
    if (watched == m_centre && (event->type() == QEvent::Resize || event->type() == QEvent::Move))
        placeSyncStatus();
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::buildMenus()
{
    QMenu* file = menuBar()->addMenu(tr("File"));
    QAction* add = file->addAction(tr("Add folder…"), this, &MainWindow::requestAddFolders);
    add->setShortcut(QKeySequence::Open);
    file->addAction(tr("New collection…"), this, &MainWindow::askNewCollection);
    file->addSeparator();
    QAction* quit = file->addAction(tr("Quit"), qApp, &QApplication::quit);
    // Spelt out: the standard Quit key is empty where the platform theme follows Windows' scheme.
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));

    QMenu* edit = menuBar()->addMenu(tr("Edit"));
    QAction* find = edit->addAction(tr("Find"), this, &MainWindow::focusSearch);
    find->setShortcut(QKeySequence::Find);
    QAction* filters = edit->addAction(tr("Filters"), this, &MainWindow::toggleFilters);
    filters->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F));
    edit->addSeparator();
    SettingsWindow::addMenuAction(edit, this, [this] { emit settingsRequested(); });

    // The keys are the browser's own (H, Alt+H), shown beside the items but not bound to them: a
    // shortcut would also fire while a name is typed in a field.
    QMenu* view = menuBar()->addMenu(tr("View"));
    m_hideModeAction
        = view->addAction(tr("Hide Mode") + QStringLiteral("\tH"), this, &MainWindow::hideModeRequested);
    m_hideModeAction->setCheckable(true);
    m_auditAction = view->addAction(
        tr("Audit Hidden") + QStringLiteral("\tAlt+H"), this, &MainWindow::auditHiddenRequested);
    m_auditAction->setCheckable(true);

    QMenu* help = menuBar()->addMenu(tr("Help"));
    help->addAction(tr("Keyboard Shortcuts"), this, [this] {
        auto* panel = findChild<ShortcutHelp*>();
        if (!panel) {
            panel = new ShortcutHelp(this);
            panel->setAttribute(Qt::WA_DeleteOnClose);
        }
        panel->show();
        panel->raise();
    });
}

QWidget* MainWindow::buildEmptyState()
{
    auto* page = new QWidget(this);
    auto* box = new QVBoxLayout(page);
    box->addStretch(2);
    m_emptyTitle = new QLabel(page);
    QFont big = m_emptyTitle->font();
    big.setPointSizeF(big.pointSizeF() * 1.5);
    big.setBold(true);
    m_emptyTitle->setFont(big);
    m_emptyTitle->setAlignment(Qt::AlignCenter);
    m_emptyText = new QLabel(page);
    m_emptyText->setTextFormat(Qt::PlainText); // it names a collection as typed
    m_emptyText->setAlignment(Qt::AlignCenter);
    m_emptyText->setWordWrap(true);
    m_emptyText->setEnabled(false);
    auto* button = new QPushButton(tr("Add folder…"), page);
    button->setObjectName(QStringLiteral("emptyStateAddFolder"));
    button->setDefault(true);
    connect(button, &QPushButton::clicked, this, &MainWindow::requestAddFolders);
    box->addWidget(m_emptyTitle);
    box->addSpacing(6);
    box->addWidget(m_emptyText);
    box->addSpacing(14);
    box->addWidget(button, 0, Qt::AlignHCenter);
    box->addStretch(3);
    return page;
}

void MainWindow::configureView(QTreeView* view)
{
    view->setUniformRowHeights(true);
    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view->setDragEnabled(true);
    view->setAllColumnsShowFocus(true);
    view->setAlternatingRowColors(true);
    view->header()->setStretchLastSection(false);
    view->header()->setSectionResizeMode(kNameColumn, QHeaderView::Stretch);
    for (int c = kBpmColumn; c < kColumnCount; ++c) {
        view->header()->setSectionResizeMode(c, QHeaderView::Fixed);
        view->header()->resizeSection(c,
            c == kKeyColumn          ? keyColumnWidth(view->fontMetrics())
                : c == kLengthColumn ? 70
                                     : 56);
    }
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(view, &QTreeView::customContextMenuRequested, this,
        [this, view](const QPoint& pos) { showRowMenu(view, pos); });
    connect(view, &QTreeView::doubleClicked, this, [this](const QModelIndex& index) {
        if (auto path = filePathAt(index))
            emit playRequested(*path);
    });
}

QWidget* MainWindow::buildBrowser()
{
    auto* page = new QWidget(this);
    auto* box = new QVBoxLayout(page);
    box->setContentsMargins(8, 8, 8, 0);
    box->setSpacing(6);
    box->addWidget(buildSearchStrip(page));
    m_hideBar = new HideModeBar(page);
    connect(m_hideBar, &HideModeBar::doneRequested, this, &MainWindow::hideModeRequested);
    connect(m_hideBar, &HideModeBar::auditRequested, this, &MainWindow::auditHiddenRequested);
    box->addWidget(m_hideBar);

    m_views = new QStackedWidget(page);
    m_tree = new BrowserView(m_views);
    // Root rows reorder by dragging; everything else drags out of the window.
    m_tree->setAcceptDrops(true);
    m_tree->setDropIndicatorShown(false);
    connect(m_tree, &BrowserView::rootMoveRequested, this, &MainWindow::moveRootRequested);
    m_tree->setModel(m_treeModel);
    auto* treeToggle = new HideToggleButton(new TagChipDelegate(m_tree), m_tree);
    connect(treeToggle, &HideToggleButton::toggleRequested, this, &MainWindow::hideToggleRequested);
    m_tree->setItemDelegateForColumn(kNameColumn, treeToggle);
    configureView(m_tree);
    m_results = new BrowserView(m_views);
    m_results->setModel(m_resultsModel);
    m_results->setRootIsDecorated(false);
    auto* resultToggle = new HideToggleButton(new ResultRowDelegate(m_results), m_results);
    connect(resultToggle, &HideToggleButton::toggleRequested, this, &MainWindow::hideToggleRequested);
    m_results->setItemDelegateForColumn(kNameColumn, resultToggle);
    configureView(m_results);
    m_noResults = new QLabel(m_views);
    m_noResults->setAlignment(Qt::AlignCenter);
    m_noResults->setEnabled(false);
    m_views->addWidget(m_tree);
    m_views->addWidget(m_results);
    m_views->addWidget(m_noResults);
    box->addWidget(m_views, 1);

    connect(m_tree->selectionModel(), &QItemSelectionModel::selectionChanged, this,
        &MainWindow::selectionChanged);
    connect(m_tree->selectionModel(), &QItemSelectionModel::currentChanged, this,
        [this](const QModelIndex& current) {
            m_treeModel->setCurrent(current);
            rememberFocus(current);
        });
    connect(m_tree, &QTreeView::expanded, this, [this](const QModelIndex& i) {
        m_treeModel->setExpanded(i, true);
        rememberTreeChange(i, true);
    });
    connect(m_tree, &QTreeView::collapsed, this, [this](const QModelIndex& i) {
        m_treeModel->setExpanded(i, false);
        rememberTreeChange(i, false);
    });
    connect(m_treeModel, &LibraryTreeModel::rowsSettled, this, &MainWindow::restoreTreeState);
    // Folders read later (the index loading, a folder opening) may hold remembered rows.
    connect(m_treeModel, &QAbstractItemModel::rowsInserted, this,
        [this] { QMetaObject::invokeMethod(this, &MainWindow::reopenRemembered, Qt::QueuedConnection); });
    connect(m_results->selectionModel(), &QItemSelectionModel::selectionChanged, this,
        &MainWindow::selectionChanged);
    return page;
}

void MainWindow::setCollections(const std::vector<CollectionEntry>& collections, int selected)
{
    const bool rootsChanged = selected != m_selected || selected < 0 || selected >= int(collections.size())
        || selected >= int(m_collections.size())
        || collections[std::size_t(selected)].id != m_collections[std::size_t(selected)].id
        || collections[std::size_t(selected)].rootPaths != m_collections[std::size_t(selected)].rootPaths;
    m_collections = collections;
    m_selected = selected;
    m_bar->setCollections(collections, selected);
    if (rootsChanged)
        showCurrentCollection();
}

void MainWindow::showCurrentCollection()
{
    const bool valid = m_selected >= 0 && m_selected < int(m_collections.size());
    std::vector<std::string> roots;
    if (valid)
        for (const auto& r : m_collections[std::size_t(m_selected)].rootPaths)
            roots.push_back(r.toStdString());
    m_treeModel->showCollection(valid ? m_collections[std::size_t(m_selected)].id : QString(), roots);
    restoreTreeState();
    if (roots.empty()) {
        const bool anyFolders = std::any_of(
            m_collections.begin(), m_collections.end(), [](const auto& c) { return !c.rootPaths.isEmpty(); });
        m_emptyTitle->setText(anyFolders ? tr("No folders in this collection") : tr("No folders yet"));
        m_emptyText->setText(anyFolders
                ? tr("Add a folder of samples to “%1” to browse it here.")
                      .arg(valid ? m_collections[std::size_t(m_selected)].name : QString())
                : tr("Add a folder of samples to start browsing. KIVO indexes every audio and MIDI file in "
                     "it."));
        m_centre->setCurrentIndex(kEmptyPage);
    } else {
        m_centre->setCurrentIndex(kBrowserPage);
    }
    // With nothing to browse the keys belong to the invitation's button.
    if (m_keys)
        m_keys->setEnabled(!roots.empty());
    if (m_hiddenView.showOnlyHidden)
        showHiddenItems();
    else if (searchActive())
        runSearch();
}

void MainWindow::restoreTreeState()
{
    for (const QModelIndex& index : m_treeModel->expandedIndexes())
        m_tree->setExpanded(index, true);
    const QModelIndex current = m_treeModel->currentIndex();
    if (current.isValid()) {
        m_tree->setCurrentIndex(current);
        m_tree->scrollTo(current);
    }
    reopenRemembered();
}

QString MainWindow::currentCollectionId() const
{
    return m_selected >= 0 && m_selected < int(m_collections.size())
        ? m_collections[std::size_t(m_selected)].id
        : QString();
}

void MainWindow::restoreTreeMemory(TreeMemory memory)
{
    m_memory = memory;
    m_toReopen = std::move(memory);
    reopenRemembered();
}

void MainWindow::reopenRemembered()
{
    const QString id = currentCollectionId();
    if (id.isEmpty())
        return;
    if (auto open = m_toReopen.openFolders.find(id); open != m_toReopen.openFolders.end()) {
        // Parents first: opening one reads the rows of the next.
        QStringList paths = open->second;
        std::sort(paths.begin(), paths.end(),
            [](const QString& a, const QString& b) { return a.size() < b.size(); });
        QStringList waiting;
        for (const QString& path : paths) {
            const QModelIndex index = m_treeModel->indexForPath(path.toStdString());
            if (index.isValid() && index.data(kIsDirectoryRole).toBool())
                m_tree->setExpanded(index, true);
            else
                waiting << path;
        }
        if (waiting.isEmpty())
            m_toReopen.openFolders.erase(open);
        else
            open->second = waiting;
    }
    if (auto focus = m_toReopen.focusedRow.find(id); focus != m_toReopen.focusedRow.end()) {
        const QModelIndex index = m_treeModel->indexForPath(focus->second.toStdString());
        if (index.isValid()) {
            m_toReopen.focusedRow.erase(focus);
            m_tree->setCurrentIndex(index);
            m_tree->scrollTo(index);
        }
    }
}

void MainWindow::rememberTreeChange(const QModelIndex& index, bool opened)
{
    const QString id = currentCollectionId();
    const QString path = index.data(kPathRole).toString();
    if (id.isEmpty() || path.isEmpty())
        return;
    QStringList& open = m_memory.openFolders[id];
    if (opened == open.contains(path))
        return;
    if (opened)
        open << path;
    else
        open.removeAll(path);
    emit treeMemoryChanged();
}

void MainWindow::rememberFocus(const QModelIndex& current)
{
    const QString id = currentCollectionId();
    const QString path = current.data(kPathRole).toString();
    if (id.isEmpty() || path.isEmpty() || m_memory.focusedRow[id] == path)
        return;
    m_memory.focusedRow[id] = path;
    emit treeMemoryChanged();
}

void MainWindow::setPresentationOptions(const organise::PresentationOptions& options)
{
    m_treeModel->setOptions(options);
    restoreTreeState();
    m_resultsModel->setHideExtensions(options.hideFileExtensions);
    // A result list is ordered and named by the search that made it: make it again.
    if (searchActive())
        runSearch();
}

void MainWindow::setKeySpelling(music::KeySpelling spelling)
{
    m_spelling = spelling;
    m_treeModel->setKeySpelling(spelling);
    m_resultsModel->setKeySpelling(spelling);
    m_filterPanel->setKeySpelling(spelling);
    m_tree->viewport()->update();
    m_results->viewport()->update();
}

void MainWindow::setMissingCheck(const MissingCheck& check)
{
    m_treeModel->setMissingCheck(check);
    m_resultsModel->setMissingCheck(check);
    missingChanged();
}

void MainWindow::missingChanged()
{
    m_tree->viewport()->update();
    m_results->viewport()->update();
}

void MainWindow::libraryChanged()
{
    // The rows are made again when the folders have been read (rowsSettled).
    m_treeModel->reload();
    if (searchActive())
        runSearch();
}

MainWindow::Page MainWindow::page() const
{
    if (m_centre->currentIndex() == kEmptyPage)
        return Page::emptyState;
    return m_views->currentIndex() == kTreePage ? Page::tree : Page::results;
}

QString MainWindow::emptyStateText() const
{
    return m_emptyTitle->text() + QLatin1Char('\n') + m_emptyText->text();
}

QAbstractItemView* MainWindow::currentView() const
{
    return m_views->currentIndex() == kTreePage ? static_cast<QAbstractItemView*>(m_tree) : m_results;
}

std::optional<QString> MainWindow::filePathAt(const QModelIndex& index) const
{
    if (!index.isValid() || index.data(kIsDirectoryRole).toBool())
        return std::nullopt;
    return index.data(kPathRole).toString();
}

std::optional<QString> MainWindow::selectedFile() const
{
    const QAbstractItemView* view = currentView();
    const auto rows = view->selectionModel()->selectedRows();
    if (rows.size() != 1)
        return std::nullopt;
    return filePathAt(rows.front());
}

void MainWindow::selectionChanged()
{
    if (m_holdSelection)
        return;
    const QString path = selectedFile().value_or(QString());
    if (path == m_lastSelectedFile)
        return;
    m_lastSelectedFile = path;
    emit fileSelected(path);
    if (path.isEmpty())
        return;
    const auto* view = static_cast<const QTreeView*>(currentView());
    const QModelIndex current = view->currentIndex();
    if (auto ahead = filePathAt(m_selectionStep > 0 ? view->indexBelow(current) : view->indexAbove(current)))
        emit fileAhead(*ahead);
}

void MainWindow::showSyncStatus(const QString& text, double fraction, bool canCancel)
{
    m_sync->setStatus(text, fraction, canCancel);
    placeSyncStatus();
    m_sync->show();
    m_sync->raise();
}

void MainWindow::placeSyncStatus()
{
    const int height = m_sync->sizeHint().height();
    const QRect centre = m_centre->geometry();
    m_sync->setGeometry(centre.left(), centre.bottom() + 1 - height, centre.width(), height);
}

void MainWindow::hideSyncStatus()
{
    m_sync->hide();
}

void MainWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (m_shown)
        return;
    m_shown = true;
    // After the first paint, so a launch rebuild never delays the window.
    QMetaObject::invokeMethod(this, &MainWindow::firstShown, Qt::QueuedConnection);
}

} // namespace kivo::app
