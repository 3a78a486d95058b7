#pragma once

// Connects the window to the library: the collections of the user settings, adding folders
// (screened by the root rules), indexing them, and reading the index for the tree and the search.

#include "app/CollectionBar.h"

#include <QObject>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace kivo::index {
class CacheIndexStore;
}
namespace kivo::library {
class UserSettings;
}

namespace kivo::app {

class MainWindow;

// The collections as the window shows them: names, colours and resolved root folders.
std::vector<CollectionEntry> collectionEntries(const library::UserSettings& settings);

class BrowserController : public QObject {
    Q_OBJECT
public:
    explicit BrowserController(library::UserSettings& settings, QObject* parent = nullptr);
    ~BrowserController() override;

    index::CacheIndexStore& store() { return *m_store; }
    // Builds the window (once).
    MainWindow* window();

    // What the window's requests do; public so tests can make them without pop-ups.
    void addFolders(const QStringList& paths);
    void addCollection();
    void deleteCollection(int index);

private:
    void publish();
    void startIndexing();
    void indexingFinished();

    library::UserSettings& m_settings;
    std::unique_ptr<index::CacheIndexStore> m_store;
    std::unique_ptr<MainWindow> m_window;
    std::thread m_indexer;
    std::atomic<bool> m_indexing { false };
    bool m_indexAgain = false;
};

} // namespace kivo::app
