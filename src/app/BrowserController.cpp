#include "app/BrowserController.h"

#include "app/LibraryAccess.h"
#include "app/MainWindow.h"
#include "index/CacheIndexStore.h"
#include "index/IndexStoreScan.h"
#include "library/BookmarkGroup.h"
#include "library/RootEligibility.h"
#include "library/UserSettings.h"
#include "platform/FolderBookmark.h"

#include <QApplication>
#include <QMetaObject>

namespace kivo::app {

std::vector<CollectionEntry> collectionEntries(const library::UserSettings& settings)
{
    std::vector<CollectionEntry> out;
    for (const auto& group : settings.bookmarks()) {
        CollectionEntry c { library::canonicalIdText(group.id), group.name, group.colorHex, {} };
        for (const QByteArray& bookmark : group.paths) {
            // Shown as recorded when the folder is gone; the missing-root check speaks about it.
            if (const auto resolved = platform::FolderBookmark::resolve(bookmark))
                c.rootPaths << resolved->path;
            else if (const auto stored = platform::FolderBookmark::storedPath(bookmark))
                c.rootPaths << *stored;
        }
        out.push_back(std::move(c));
    }
    return out;
}

BrowserController::BrowserController(library::UserSettings& settings, QObject* parent)
    : QObject(parent)
    , m_settings(settings)
{
    index::CacheIndexStoreOptions options;
    options.postToMainThread = [](std::function<void()> fn) {
        QMetaObject::invokeMethod(qApp, std::move(fn), Qt::QueuedConnection);
    };
    m_store = std::make_unique<index::CacheIndexStore>(std::move(options));
    m_store->loadCache();
    connect(&m_settings, &library::UserSettings::bookmarksChanged, this, &BrowserController::publish);
    connect(&m_settings, &library::UserSettings::selectedGroupChanged, this, &BrowserController::publish);
}

BrowserController::~BrowserController()
{
    if (m_indexer.joinable())
        m_indexer.join();
    m_window.reset();
}

MainWindow* BrowserController::window()
{
    if (m_window)
        return m_window.get();
    WindowServices services;
    services.loadFolder = [this](const std::string& path) { return indexFolderListing(*m_store, path); };
    services.makeSearch
        = [this](const QString& query, const QString& id) { return indexSearchJob(*m_store, query, id); };
    m_window = std::make_unique<MainWindow>(std::move(services));
    MainWindow* w = m_window.get();

    connect(w, &MainWindow::collectionSelected, this, [this](int i) { m_settings.setSelectedGroup(i); });
    connect(w, &MainWindow::addCollectionRequested, this, &BrowserController::addCollection);
    connect(w, &MainWindow::renameCollectionRequested, this,
        [this](int i, const QString& name) { m_settings.renameGroup(i, name); });
    connect(w, &MainWindow::deleteCollectionConfirmed, this, &BrowserController::deleteCollection);
    connect(w, &MainWindow::addFoldersRequested, this, &BrowserController::addFolders);
    publish();
    if (m_settings.hasAnyPaths())
        startIndexing();
    return w;
}

void BrowserController::publish()
{
    if (m_window)
        m_window->setCollections(collectionEntries(m_settings), m_settings.selectedGroup());
}

void BrowserController::addCollection()
{
    m_settings.addGroup(QStringLiteral("Collection %1").arg(m_settings.bookmarks().size() + 1), QString());
}

void BrowserController::deleteCollection(int index)
{
    const int before = int(m_settings.bookmarks().size());
    m_settings.removeGroup(index);
    if (int(m_settings.bookmarks().size()) != before)
        startIndexing();
}

void BrowserController::addFolders(const QStringList& paths)
{
    const library::RootEligibility eligibility;
    const auto screened = eligibility.screen(paths);
    bool added = false;
    for (const QString& path : screened.eligible)
        added = m_settings.addPath(path, m_settings.selectedGroup()) || added;
    if (const auto alert = library::ineligibleAlert(screened.refused); alert && m_window)
        m_window->showAlert(alert->title, alert->text);
    if (added)
        startIndexing();
}

void BrowserController::startIndexing()
{
    if (m_indexing) {
        m_indexAgain = true;
        return;
    }
    if (m_indexer.joinable())
        m_indexer.join();
    std::vector<index::ScanGroup> groups;
    for (const auto& c : collectionEntries(m_settings)) {
        index::ScanGroup g;
        g.groupID = c.id.toStdString();
        for (const auto& r : c.rootPaths)
            g.urls.push_back(r.toStdString());
        groups.push_back(std::move(g));
    }
    m_indexing = true;
    m_indexer = std::thread([this, groups = std::move(groups)] {
        index::buildIndex(*m_store, groups, {});
        m_store->saveCache(index::nowReferenceDate());
        QMetaObject::invokeMethod(
            this, [this] { indexingFinished(); }, Qt::QueuedConnection);
    });
}

void BrowserController::indexingFinished()
{
    m_indexing = false;
    if (m_window)
        m_window->libraryChanged();
    if (m_indexAgain) {
        m_indexAgain = false;
        startIndexing();
    }
}

} // namespace kivo::app
