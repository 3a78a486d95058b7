#pragma once

// The browser state of one collection: its root rows, the children of every folder loaded so far,
// which folders are open, the selection and the last result list. The window keeps one per
// collection, so switching away and back shows the tree as it was. A plain value.

#include "organise/LightweightNode.h"

#include <cstdint>
#include <unordered_map>
#include <unordered_set>

namespace kivo::organise {

using NodeIdSet = std::unordered_set<NodeId, NodeIdHash>;

struct GroupCacheData {
    std::vector<LightweightNode> rootNodes; // in the collection's stored order
    // A folder's children, already ordered; an entry exists once the folder has been loaded.
    std::unordered_map<NodeId, std::vector<LightweightNode>, NodeIdHash> nodeChildren;
    NodeIdSet expandedFolders;
    std::optional<NodeId> selectedNodeId;
    NodeIdSet selectedNodeIds;
    std::vector<LightweightNode> searchResults;

    // A root, a loaded child or a result row with this id (in that order of preference); nullptr
    // when there is none. Found through an index of where each node sits, so a lookup stays cheap
    // in a tree of many loaded folders.
    const LightweightNode* findNode(const NodeId& id) const;
    LightweightNode* findNode(const NodeId& id);
    bool isLoaded(const NodeId& id) const { return nodeChildren.contains(id); }
    bool isExpanded(const NodeId& id) const { return expandedFolders.contains(id); }
    // Drops everything below a node that is going away: loaded children (all the way down), open
    // state and selection, its own included.
    void forgetSubtree(const NodeId& id);

    // Where each node sat when last looked for. The lists above are changed in place by their
    // users, so a place is checked before it is trusted and the index rebuilt when one is wrong.
    struct Place {
        enum class List : std::uint8_t { roots, children, results } list;
        NodeId parent; // for children
        std::size_t position;
    };
    mutable std::unordered_map<NodeId, Place, NodeIdHash> places;
};

} // namespace kivo::organise
