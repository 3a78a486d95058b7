#include "organise/GroupCacheData.h"

#include <algorithm>

namespace kivo::organise {

namespace {

template <class State> auto placed(State& state, const NodeId& id) -> decltype(&state.rootNodes.front())
{
    using List = GroupCacheData::Place::List;
    const auto place = state.places.find(id);
    if (place == state.places.end())
        return nullptr;
    decltype(&state.rootNodes) list = &state.rootNodes;
    if (place->second.list == List::results) {
        list = &state.searchResults;
    } else if (place->second.list == List::children) {
        const auto found = state.nodeChildren.find(place->second.parent);
        if (found == state.nodeChildren.end())
            return nullptr;
        list = &found->second;
    }
    const std::size_t at = place->second.position;
    return at < list->size() && (*list)[at].id == id ? &(*list)[at] : nullptr;
}

void reindex(const GroupCacheData& state)
{
    using Place = GroupCacheData::Place;
    auto& places = state.places;
    places.clear();
    // Later lists overwrite earlier ones: roots are preferred to children, children to results.
    for (std::size_t i = 0; i < state.searchResults.size(); ++i)
        places.insert_or_assign(state.searchResults[i].id, Place { Place::List::results, {}, i });
    for (const auto& [parent, children] : state.nodeChildren)
        for (std::size_t i = 0; i < children.size(); ++i)
            places.insert_or_assign(children[i].id, Place { Place::List::children, parent, i });
    for (std::size_t i = 0; i < state.rootNodes.size(); ++i)
        places.insert_or_assign(state.rootNodes[i].id, Place { Place::List::roots, {}, i });
}

template <class State> auto findNodeIn(State& state, const NodeId& id) -> decltype(&state.rootNodes.front())
{
    if (auto* node = placed(state, id))
        return node;
    reindex(state);
    return placed(state, id);
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
