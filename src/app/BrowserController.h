#pragma once

// Connects the window to the library: the collections and their roots, adding folders, indexing
// them, and reading the index for the tree and the search.

#include "app/CollectionBar.h"

#include <QObject>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace kivo::index {
class CacheIndexStore;
}

namespace kivo::app {

class MainWindow;

class BrowserController : public QObject {
    Q_OBJECT
public:
    explicit BrowserController(QObject* parent = nullptr);
    ~BrowserController() override;

    index::CacheIndexStore& store() { return *m_store; }
    // Builds the window (once) and shows it.
    MainWindow* window();
    const std::vector<CollectionEntry>& collections() const { return m_collections; }

private:
    void loadCollections();
    void publish();
    void addFolders(const QStringList& paths);
    void startIndexing();
    void indexingFinished();

    std::unique_ptr<index::CacheIndexStore> m_store;
    std::unique_ptr<MainWindow> m_window;
    std::vector<CollectionEntry> m_collections;
    int m_selected = 0;
    std::thread m_indexer;
    std::atomic<bool> m_indexing { false };
    bool m_indexAgain = false;
};

} // namespace kivo::app
