#pragma once

// The browser's tree of collections: one GroupCacheData per collection visited, children loaded
// from the index the first time a folder opens, siblings kept in the browser order with the user's
// current options, and root rows in the collection's own order. Pure C++ on the main thread: the
// window hands in the settings' values (and again when "UserSettingsSortingChanged" arrives) and the
// loader that reads a folder's contents.

#include "organise/FolderContents.h"
#include "organise/GroupCacheData.h"
#include "organise/HiddenRows.h"
#include "organise/RootOrder.h"
#include "organise/SiblingOrder.h"

#include <functional>
#include <map>
#include <unordered_map>

namespace kivo::organise {

// The settings the browser's presentation reads.
struct PresentationOptions {
    SortingOptions sorting;
    bool hideFileExtensions = false;
    bool operator==(const PresentationOptions&) const = default;
};

// Reads one folder's contents, for example indexFolderContents over the library's store.
using FolderLoader = std::function<FolderContents(const std::string& folderPath)>;

// One folder read that expandLater() or onLoadChildren() asks for.
struct ChildLoad {
    index::GroupID group;
    NodeId folder;
    std::string path;
};

class BrowserTree {
public:
    explicit BrowserTree(FolderLoader loader, PresentationOptions options = {});

    const PresentationOptions& options() const { return m_options; }
    // Re-orders every loaded child list when the sorting options differ from the current ones.
    void setOptions(const PresentationOptions& options);
    // The BPM overrides sorting consults; takes effect at the next load or resort().
    void setBPMOverrides(BPMOverrides overrides) { m_overrides = std::move(overrides); }
    // Works out the effective BPMs again and re-orders every loaded child list of every collection.
    // Root rows keep the collection's order. Result lists keep theirs: the search that builds them
    // orders them itself (exact names first, or shuffled) and runs again when the options change.
    void resort();
    // The hidden, skipped and exempt marks and the modes the rows are decided with.
    void setHiddenView(HiddenView view) { m_hidden = std::move(view); }
    const HiddenView& hiddenView() const { return m_hidden; }

    // Makes a collection the current one (its state is created on the first visit) and lines its
    // root rows up with the collection's roots, in that order. Roots still there keep their rows,
    // so open folders and the selection stay; rows of roots that are gone are forgotten.
    GroupCacheData& showCollection(const index::GroupID& group, const std::vector<std::string>& rootPaths);
    const std::optional<index::GroupID>& currentGroup() const { return m_current; }
    // Null before the first showCollection().
    GroupCacheData* current();
    const GroupCacheData* current() const;
    const GroupCacheData* state(const index::GroupID& group) const;
    // Drops a collection's state (the collection was deleted, or a workspace replaced them all).
    void forgetCollection(const index::GroupID& group);

    // Opens a folder row of the current collection, loading its children the first time through
    // the loader. False when there is no such folder.
    bool expand(const NodeId& id);
    // The same without waiting for the disk: opens the folder and, when its children are not loaded
    // or being loaded yet, returns the read to make. Its answer goes to childrenLoaded() on the
    // main thread. None when nothing needs reading (or there is no such folder).
    std::optional<ChildLoad> expandLater(const NodeId& id);
    // Stores a read's answer. False (and nothing changed) when the folder has gone meanwhile or its
    // children were loaded another way.
    bool childrenLoaded(const ChildLoad& load, const FolderContents& contents);
    bool isLoading(const NodeId& id) const;
    // Loading without opening, for rows that show a folder's contents in its place: the read to make
    // (none when loaded or being loaded already, or no such folder), or the load done at once.
    std::optional<ChildLoad> onLoadChildren(const NodeId& id);
    bool loadChildren(const NodeId& id);
    // Closes a folder row; its loaded children are kept for the next time.
    void collapse(const NodeId& id);
    // A folder's loaded children in sibling order; null until loaded.
    const std::vector<LightweightNode>* children(const NodeId& id) const;
    // What the rows show: hidden rows dropped and skipped folders replaced by their contents
    // outside hide mode, every row marked. One pass over a whole rebuild expands each folder once;
    // the forms without a pass make one of their own.
    HiddenRowPass rowPass() const;
    std::vector<ShownNode> visibleRoots(HiddenRowPass& pass) const;
    std::vector<ShownNode> visibleChildren(const NodeId& id, HiddenRowPass& pass) const;
    // The nodes alone, each call a pass of its own.
    std::vector<LightweightNode> visibleRoots() const;
    std::vector<LightweightNode> visibleChildren(const NodeId& id) const;
    std::string displayName(const LightweightNode& node) const
    {
        return organise::displayName(node, m_options.hideFileExtensions);
    }

    // Reads every loaded folder of the current collection again (after the index changed). Nodes
    // whose path is still there keep their identity, and with it their open state and selection.
    void reloadLoadedFolders();
    // The same in two steps, for reads made off the main thread: the folders to read, then their
    // contents. A folder missing from `contents` keeps its rows.
    std::vector<std::string> loadedFolderPaths() const;
    void reloadLoadedFolders(const std::unordered_map<std::string, FolderContents>& contents);
    void setSearchResults(std::vector<LightweightNode> results);
    // Fills in a node's key once it is known; false when the current collection has no such node.
    bool setKey(const NodeId& id, std::optional<std::string> key);

    // Moves a root row of the current collection (from rootDragMove); the window stores the same
    // move in the collection. False when it moves nothing.
    bool moveRoot(const RootMove& move);

private:
    std::vector<LightweightNode> load(const std::string& folderPath) const;
    std::vector<LightweightNode> nodesOf(const FolderContents& contents) const;
    void sortChildren(std::vector<LightweightNode>& nodes) const;
    // `fresh` takes the identities of `old` nodes with the same path and kind; the rest of `old` is
    // forgotten in `state`.
    static void keepIdentities(
        GroupCacheData& state, const std::vector<LightweightNode>& old, std::vector<LightweightNode>& fresh);
    void reloadBelow(GroupCacheData& state, const NodeId& id, const std::string& path,
        const std::unordered_map<std::string, FolderContents>& contents);

    FolderLoader m_loader;
    PresentationOptions m_options;
    BPMOverrides m_overrides;
    HiddenView m_hidden;
    std::map<index::GroupID, GroupCacheData> m_groups;
    std::optional<index::GroupID> m_current;
    std::map<index::GroupID, NodeIdSet> m_loading;
};

} // namespace kivo::organise
