#pragma once

// The browser tree of the selected collection, drawn from the organise layer's BrowserTree: root
// folders in the collection's order, each folder's children loaded the first time it opens and
// kept in the browser's sibling order, and each collection's open folders and selection kept for
// when the user comes back to it. Folders are read in the background: a folder being read shows a
// "Loading…" row, and a reload keeps the rows as they are until the new ones have arrived.

#include "app/BrowserColumns.h"
#include "app/RowMetadata.h"
#include "organise/BrowserTree.h"

#include <QAbstractItemModel>

#include <memory>
#include <unordered_map>
#include <vector>

namespace kivo::platform {
class TaskRunner;
}

namespace kivo::app {

inline constexpr char kLoadingRowText[] = "Loading…";

class LibraryTreeModel : public QAbstractItemModel {
    Q_OBJECT
public:
    // `loader` runs on `tasks` (which outlives the model), so it must be safe off the main thread.
    LibraryTreeModel(platform::TaskRunner& tasks, organise::FolderLoader loader, QObject* parent = nullptr);
    ~LibraryTreeModel() override;

    // Shows a collection with these root folders, in this order, as it was left.
    void showCollection(const QString& collectionId, const std::vector<std::string>& rootPaths);
    // The sorting options or the extension setting changed.
    void setOptions(const organise::PresentationOptions& options);
    // Reads every loaded folder again (the index changed); open folders stay open. Only the newest
    // reload's answer is shown.
    void reload();
    // Folder reads not answered yet (tests).
    int pendingReads() const { return m_pendingReads; }
    // The user's tempo, key or tags changed: rows show the new effective values and folders
    // re-sort by them.
    void setMetadata(RowMetadata metadata);
    // Newer values heard from the audio: rows showing none of their own take them in place,
    // without making the tree again. True when a file's tempo changed while the tree sorts by
    // tempo: its order is then out of date until the tree is made again.
    bool setAnalysed(std::shared_ptr<const organise::AnalysedValues> analysed);
    // The hidden and skipped marks or a mode changed: rows dropped, flattened or marked anew.
    void setHiddenView(organise::HiddenView view);
    bool isHideMode() const { return m_hideMode; }
    // The top rows are the collection's roots, each in its place (none hidden or skipped).
    bool rootsShownInOrder() const;

    // The open folders of the shown collection, for the view to open after a reset.
    QModelIndexList expandedIndexes() const;
    // The view opened or closed a folder row.
    void setExpanded(const QModelIndex& index, bool expanded);
    // The focused row, remembered per collection.
    void setCurrent(const QModelIndex& index);
    QModelIndex currentIndex() const;

    const BrowserRow* row(const QModelIndex& index) const;
    void setMissingCheck(MissingCheck check) { m_isMissing = std::move(check); }
    // How keys are named; the views repaint to show it.
    void setKeySpelling(music::KeySpelling spelling) { m_spelling = spelling; }
    QModelIndex indexForPath(const std::string& path) const;
    organise::BrowserTree& tree() { return m_tree; }

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

signals:
    // The rows were made again once folders read in the background arrived: the view opens the
    // open folders and selects the current row again.
    void rowsSettled();

private:
    MissingCheck m_isMissing;
    music::KeySpelling m_spelling = music::KeySpelling::automatic;
    struct Node {
        organise::NodeId id;
        BrowserRow row;
        Node* parent = nullptr;
        int position = 0;
        bool loaded = false;
        bool waiting = false; // its only child is the "Loading…" row
        bool placeholder = false; // the "Loading…" row itself
        organise::RowMarks marks;
        std::vector<std::unique_ptr<Node>> children;
    };

    Node* nodeOf(const QModelIndex& index) const;
    QModelIndex indexOf(const Node* node) const;
    std::unique_ptr<Node> makeNode(const organise::ShownNode& shown, Node* parent, int position) const;
    void fillChildren(Node* folder, organise::HiddenRowPass& pass) const;
    // Reads folders in the background (one request, one answer) and hands them to the tree; then
    // settles what waited for them.
    void read(std::vector<organise::ChildLoad> loads);
    // Asks for the folders a pass found unloaded that nobody reads yet; true when it found any
    // unloaded, read already or not.
    bool readWanted(const organise::HiddenRowPass& pass);
    void recordDurations(const organise::FolderContents& contents);
    // A waiting folder's rows replace its "Loading…" row, unless rows it shows in its place (a
    // skipped folder's contents) still have to be read.
    void settle(const organise::NodeId& id);
    Node* findNode(const organise::NodeId& id);
    // The mirror again from the tree's current state.
    void rebuild();

    RowMetadata m_metadata;
    bool m_hideMode = false;
    // One resolving pass per rebuild or folder load; its memo serves every row made in it.
    mutable std::optional<organise::MetadataInheritance> m_pass;
    // Lengths of the files the loader has read; the tree's rows do not carry them.
    std::shared_ptr<std::unordered_map<std::string, double>> m_durations;
    organise::BrowserTree m_tree;
    Node m_root;
    platform::TaskRunner& m_tasks;
    organise::FolderLoader m_loader;
    std::vector<organise::NodeId> m_waiting; // folders showing "Loading…"
    bool m_rebuildWanted = false; // the last rebuild lacked folders being read
    quint64 m_reloads = 0;
    int m_pendingReads = 0;
};

// A folder's last path component, as the browser names folder rows.
std::string folderDisplayName(const std::string& path);

} // namespace kivo::app
