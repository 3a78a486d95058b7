#include "app/BrowserController.h"

#include "app/LibraryAccess.h"
#include "app/MainWindow.h"
#include "index/CacheIndexStore.h"
#include "index/IndexStoreScan.h"

#include <QApplication>
#include <QDir>
#include <QMetaObject>
#include <QUuid>

namespace kivo::app {

namespace {
const char* const kPalette[]
    = { "F07676", "76A5F0", "F0E176", "76F0A1", "F0A876", "B876F0", "76E8F0", "F0A1D4" };

QString newCollectionId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}
} // namespace

BrowserController::BrowserController(QObject* parent)
    : QObject(parent)
{
    index::CacheIndexStoreOptions options;
    options.postToMainThread = [](std::function<void()> fn) {
        QMetaObject::invokeMethod(qApp, std::move(fn), Qt::QueuedConnection);
    };
    m_store = std::make_unique<index::CacheIndexStore>(std::move(options));
    loadCollections();
}

BrowserController::~BrowserController()
{
    if (m_indexer.joinable())
        m_indexer.join();
    m_window.reset();
}

void BrowserController::loadCollections()
{
    const index::DiskSnapshot snapshot = m_store->loadCache();
    int n = 0;
    for (const auto& [group, roots] : snapshot.roots) {
        CollectionEntry c;
        c.id = QString::fromStdString(group);
        c.name = n == 0 ? QStringLiteral("Collection") : QStringLiteral("Collection %1").arg(n + 1);
        c.colorHex = n == 0 ? QStringLiteral("EF5356") : QString::fromLatin1(kPalette[n % 8]);
        for (const auto& r : roots)
            c.rootPaths << QString::fromStdString(r);
        m_collections.push_back(std::move(c));
        ++n;
    }
    if (m_collections.empty())
        m_collections.push_back(
            { newCollectionId(), QStringLiteral("Collection"), QStringLiteral("EF5356"), {} });
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

    connect(w, &MainWindow::collectionSelected, this, [this](int i) {
        m_selected = i;
        publish();
    });
    connect(w, &MainWindow::addCollectionRequested, this, [this] {
        const int count = int(m_collections.size());
        m_collections.push_back({ newCollectionId(), QStringLiteral("Collection %1").arg(count + 1),
            QString::fromLatin1(kPalette[count % 8]), {} });
        m_selected = count;
        publish();
    });
    connect(w, &MainWindow::renameCollectionRequested, this, [this](int i, const QString& name) {
        if (i >= 0 && i < int(m_collections.size()) && !name.isEmpty()) {
            m_collections[std::size_t(i)].name = name;
            publish();
        }
    });
    connect(w, &MainWindow::deleteCollectionConfirmed, this, [this](int i) {
        if (i < 0 || i >= int(m_collections.size()) || m_collections.size() < 2)
            return;
        m_collections.erase(m_collections.begin() + i);
        if (m_selected >= int(m_collections.size()))
            m_selected = int(m_collections.size()) - 1;
        publish();
        startIndexing();
    });
    connect(w, &MainWindow::addFoldersRequested, this, &BrowserController::addFolders);
    publish();
    return w;
}

void BrowserController::publish()
{
    if (m_window)
        m_window->setCollections(m_collections, m_selected);
}

void BrowserController::addFolders(const QStringList& paths)
{
    if (m_selected < 0 || m_selected >= int(m_collections.size()))
        return;
    auto& roots = m_collections[std::size_t(m_selected)].rootPaths;
    bool added = false;
    for (const QString& p : paths) {
        const QString clean = QDir::cleanPath(p);
        if (!QDir(clean).exists() || roots.contains(clean))
            continue;
        roots << clean;
        added = true;
    }
    if (!added)
        return;
    publish();
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
    for (const auto& c : m_collections) {
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
