#pragma once

// The browser tree of the selected collection: its root folders, each folder's sub-folders and
// compatible files loaded the first time the folder opens.

#include "app/BrowserColumns.h"
#include "index/IndexRecords.h"

#include <QAbstractItemModel>

#include <functional>
#include <memory>
#include <vector>

namespace kivo::app {

struct FolderListing {
    std::vector<std::string> subfolders; // absolute paths, in display order
    std::vector<index::FileInfo> files; // in display order
};

using FolderLoader = std::function<FolderListing(const std::string& path)>;

class LibraryTreeModel : public QAbstractItemModel {
    Q_OBJECT
public:
    explicit LibraryTreeModel(FolderLoader loader, QObject* parent = nullptr);
    ~LibraryTreeModel() override;

    // Shows these root folders, in this order; everything loaded before is forgotten.
    void setRoots(const std::vector<std::string>& rootPaths);
    // Loads every opened folder again (the index changed).
    void reload();
    const BrowserRow* row(const QModelIndex& index) const;
    QModelIndex indexForPath(const std::string& path) const;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override { return kColumnCount; }
    bool hasChildren(const QModelIndex& parent = {}) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    struct Node {
        BrowserRow row;
        Node* parent = nullptr;
        int position = 0;
        bool loaded = false;
        std::vector<std::unique_ptr<Node>> children;
    };

    Node* nodeOf(const QModelIndex& index) const;
    std::vector<std::unique_ptr<Node>> load(Node* folder) const;

    FolderLoader m_loader;
    Node m_root; // invisible; its children are the root folders
};

// A folder's last path component, as the browser names folder rows.
std::string folderDisplayName(const std::string& path);

} // namespace kivo::app
