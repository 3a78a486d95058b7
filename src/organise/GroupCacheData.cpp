#include "organise/GroupCacheData.h"

#include <algorithm>

namespace kivo::organise {

namespace {

template <class Nodes> auto findIn(Nodes& nodes, const NodeId& id) -> decltype(&nodes.front())
{
    const auto found = std::find_if(nodes.begin(), nodes.end(), [&](const auto& n) { return n.id == id; });
    return found == nodes.end() ? nullptr : &*found;
}

template <class State> auto findNodeIn(State& state, const NodeId& id) -> decltype(&state.rootNodes.front())
{
    if (auto* node = findIn(state.rootNodes, id))
        return node;
    for (auto& [parent, children] : state.nodeChildren)
        if (auto* node = findIn(children, id))
            return node;
    return findIn(state.searchResults, id);
}

} // namespace

const LightweightNode* GroupCacheData::findNode(const NodeId& id) const
{
    return findNodeIn(*this, id);
}

LightweightNode* GroupCacheData::findNode(const NodeId& id)
{
    return findNodeIn(*this, id);
}

void GroupCacheData::forgetSubtree(const NodeId& id)
{
    std::vector<NodeId> pending { id };
    while (!pending.empty()) {
        const NodeId current = pending.back();
        pending.pop_back();
        expandedFolders.erase(current);
        selectedNodeIds.erase(current);
        if (selectedNodeId == current)
            selectedNodeId.reset();
        const auto loaded = nodeChildren.find(current);
        if (loaded == nodeChildren.end())
            continue;
        for (const auto& child : loaded->second)
            pending.push_back(child.id);
        nodeChildren.erase(loaded);
    }
}

} // namespace kivo::organise
