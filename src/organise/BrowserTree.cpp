#include "organise/BrowserTree.h"

#include <unordered_map>

namespace kivo::organise {

BrowserTree::BrowserTree(FolderLoader loader, PresentationOptions options)
    : m_loader(std::move(loader))
    , m_options(options)
{
}

void BrowserTree::setOptions(const PresentationOptions& options)
{
    const bool resorting = options.sorting != m_options.sorting;
    m_options = options;
    if (resorting)
        resort();
}

void BrowserTree::resort()
{
    for (auto& [group, state] : m_groups)
        for (auto& [parent, children] : state.nodeChildren)
            sortChildren(children);
}

void BrowserTree::sortChildren(std::vector<LightweightNode>& nodes) const
{
    const EffectiveBPMs bpms = effectiveBPMs(nodes, m_overrides);
    nodes = orderSiblings(std::move(nodes), bpms, m_options.sorting);
}

std::vector<LightweightNode> BrowserTree::load(const std::string& folderPath) const
{
    return m_loader ? nodesOf(m_loader(folderPath)) : std::vector<LightweightNode> {};
}

std::vector<LightweightNode> BrowserTree::nodesOf(const FolderContents& contents) const
{
    std::vector<LightweightNode> nodes;
    nodes.reserve(contents.subfolders.size() + contents.files.size());
    for (const auto& folder : contents.subfolders)
        nodes.push_back(folderNode(folder));
    for (const auto& file : contents.files)
        nodes.push_back(fileNode(file));
    sortChildren(nodes);
    return nodes;
}

GroupCacheData& BrowserTree::showCollection(
    const index::GroupID& group, const std::vector<std::string>& rootPaths)
{
    GroupCacheData& state = m_groups[group];
    m_current = group;
    std::vector<LightweightNode> roots;
    roots.reserve(rootPaths.size());
    for (const auto& path : rootPaths)
        roots.push_back(folderNode(path));
    keepIdentities(state, state.rootNodes, roots);
    state.rootNodes = std::move(roots);
    return state;
}

GroupCacheData* BrowserTree::current()
{
    return m_current ? &m_groups[*m_current] : nullptr;
}

const GroupCacheData* BrowserTree::current() const
{
    return m_current ? state(*m_current) : nullptr;
}

const GroupCacheData* BrowserTree::state(const index::GroupID& group) const
{
    const auto found = m_groups.find(group);
    return found == m_groups.end() ? nullptr : &found->second;
}

void BrowserTree::forgetCollection(const index::GroupID& group)
{
    m_groups.erase(group);
    m_loading.erase(group);
    if (m_current == group)
        m_current.reset();
}

void BrowserTree::keepIdentities(
    GroupCacheData& state, const std::vector<LightweightNode>& old, std::vector<LightweightNode>& fresh)
{
    // Several old nodes may share a path (a root added twice): each is taken once, in order.
    std::unordered_map<std::string_view, std::vector<std::size_t>> byPath;
    for (std::size_t i = 0; i < old.size(); ++i)
        byPath[old[i].path].push_back(i);
    std::vector<bool> taken(old.size(), false);
    NodeIdSet kept;
    for (auto& node : fresh) {
        const auto candidates = byPath.find(node.path);
        if (candidates == byPath.end())
            continue;
        for (const std::size_t i : candidates->second) {
            if (taken[i] || old[i].isDirectory != node.isDirectory)
                continue;
            taken[i] = true;
            node.id = old[i].id;
            if (!node.key)
                node.key = old[i].key;
            kept.insert(node.id);
            break;
        }
    }
    for (const auto& node : old)
        if (!kept.contains(node.id))
            state.forgetSubtree(node.id);
}

bool BrowserTree::expand(const NodeId& id)
{
    if (!loadChildren(id))
        return false;
    current()->expandedFolders.insert(id);
    return true;
}

std::optional<ChildLoad> BrowserTree::expandLater(const NodeId& id)
{
    auto load = onLoadChildren(id);
    const GroupCacheData* state = current();
    const LightweightNode* node = state ? state->findNode(id) : nullptr;
    if (node && node->isDirectory)
        current()->expandedFolders.insert(id);
    return load;
}

std::optional<ChildLoad> BrowserTree::onLoadChildren(const NodeId& id)
{
    const GroupCacheData* state = current();
    const LightweightNode* node = state ? state->findNode(id) : nullptr;
    if (!node || !node->isDirectory || state->isLoaded(id) || !m_loading[*m_current].insert(id).second)
        return std::nullopt;
    return ChildLoad { *m_current, id, node->path };
}

bool BrowserTree::loadChildren(const NodeId& id)
{
    const GroupCacheData* state = current();
    const LightweightNode* node = state ? state->findNode(id) : nullptr;
    if (!node || !node->isDirectory)
        return false;
    if (const auto load = onLoadChildren(id))
        childrenLoaded(*load, m_loader ? m_loader(load->path) : FolderContents {});
    return true;
}

bool BrowserTree::childrenLoaded(const ChildLoad& load, const FolderContents& contents)
{
    const auto group = m_groups.find(load.group);
    const auto loading = m_loading.find(load.group);
    if (loading != m_loading.end())
        loading->second.erase(load.folder);
    if (group == m_groups.end())
        return false;
    GroupCacheData& state = group->second;
    // The folder may have left with its root, a reload or a new result list while the read ran.
    const LightweightNode* node = state.findNode(load.folder);
    if (!node || node->path != load.path || state.isLoaded(load.folder))
        return false;
    state.nodeChildren.emplace(load.folder, nodesOf(contents));
    return true;
}

bool BrowserTree::isLoading(const NodeId& id) const
{
    const auto loading = m_current ? m_loading.find(*m_current) : m_loading.end();
    return loading != m_loading.end() && loading->second.contains(id);
}

void BrowserTree::collapse(const NodeId& id)
{
    if (GroupCacheData* state = current())
        state->expandedFolders.erase(id);
}

const std::vector<LightweightNode>* BrowserTree::children(const NodeId& id) const
{
    const GroupCacheData* state = current();
    if (!state)
        return nullptr;
    const auto found = state->nodeChildren.find(id);
    return found == state->nodeChildren.end() ? nullptr : &found->second;
}

HiddenRowPass BrowserTree::rowPass() const
{
    const GroupCacheData* state = current();
    return HiddenRowPass(
        m_hidden, [state](const LightweightNode& folder) -> const std::vector<LightweightNode>* {
            if (!state)
                return nullptr;
            const auto found = state->nodeChildren.find(folder.id);
            return found == state->nodeChildren.end() ? nullptr : &found->second;
        });
}

std::vector<ShownNode> BrowserTree::visibleRoots(HiddenRowPass& pass) const
{
    const GroupCacheData* state = current();
    return state ? pass.rows(state->rootNodes, true) : std::vector<ShownNode> {};
}

std::vector<ShownNode> BrowserTree::visibleChildren(const NodeId& id, HiddenRowPass& pass) const
{
    const auto* loaded = children(id);
    return loaded ? pass.rows(*loaded, false) : std::vector<ShownNode> {};
}

namespace {

std::vector<LightweightNode> nodesAlone(std::vector<ShownNode> rows)
{
    std::vector<LightweightNode> nodes;
    nodes.reserve(rows.size());
    for (auto& row : rows)
        nodes.push_back(std::move(row.node));
    return nodes;
}

} // namespace

std::vector<LightweightNode> BrowserTree::visibleRoots() const
{
    HiddenRowPass pass = rowPass();
    return nodesAlone(visibleRoots(pass));
}

std::vector<LightweightNode> BrowserTree::visibleChildren(const NodeId& id) const
{
    HiddenRowPass pass = rowPass();
    return nodesAlone(visibleChildren(id, pass));
}

void BrowserTree::reloadLoadedFolders()
{
    std::unordered_map<std::string, FolderContents> contents;
    for (const auto& path : loadedFolderPaths())
        contents.emplace(path, m_loader ? m_loader(path) : FolderContents {});
    reloadLoadedFolders(contents);
}

std::vector<std::string> BrowserTree::loadedFolderPaths() const
{
    std::vector<std::string> paths;
    const GroupCacheData* state = current();
    if (!state)
        return paths;
    std::vector<const LightweightNode*> pending;
    for (const auto* list : { &state->rootNodes, &state->searchResults })
        for (const auto& node : *list)
            pending.push_back(&node);
    while (!pending.empty()) {
        const LightweightNode* node = pending.back();
        pending.pop_back();
        const auto loaded = state->nodeChildren.find(node->id);
        if (!node->isDirectory || loaded == state->nodeChildren.end())
            continue;
        paths.push_back(node->path);
        for (const auto& child : loaded->second)
            pending.push_back(&child);
    }
    return paths;
}

void BrowserTree::reloadLoadedFolders(const std::unordered_map<std::string, FolderContents>& contents)
{
    GroupCacheData* state = current();
    if (!state)
        return;
    // Folder results can be open too; copy each list first, since reloading rewrites the map.
    std::vector<std::pair<NodeId, std::string>> tops;
    for (const auto& list : { &state->rootNodes, &state->searchResults })
        for (const auto& node : *list)
            if (node.isDirectory)
                tops.emplace_back(node.id, node.path);
    for (const auto& [id, path] : tops)
        reloadBelow(*state, id, path, contents);
}

void BrowserTree::reloadBelow(GroupCacheData& state, const NodeId& id, const std::string& path,
    const std::unordered_map<std::string, FolderContents>& contents)
{
    const auto loaded = state.nodeChildren.find(id);
    if (loaded == state.nodeChildren.end())
        return;
    const auto read = contents.find(path);
    std::vector<LightweightNode> fresh;
    if (read == contents.end()) {
        fresh = loaded->second;
    } else {
        fresh = nodesOf(read->second);
        keepIdentities(state, loaded->second, fresh);
    }
    std::vector<std::pair<NodeId, std::string>> folders;
    for (const auto& node : fresh)
        if (node.isDirectory && state.isLoaded(node.id))
            folders.emplace_back(node.id, node.path);
    state.nodeChildren[id] = std::move(fresh);
    for (const auto& [child, childPath] : folders)
        reloadBelow(state, child, childPath, contents);
}

void BrowserTree::setSearchResults(std::vector<LightweightNode> results)
{
    GroupCacheData* state = current();
    if (!state)
        return;
    // Whatever was opened inside the old folder results goes with them.
    for (const auto& node : state->searchResults)
        if (node.isDirectory)
            state->forgetSubtree(node.id);
    state->searchResults = std::move(results);
}

bool BrowserTree::setKey(const NodeId& id, std::optional<std::string> key)
{
    GroupCacheData* state = current();
    LightweightNode* node = state ? state->findNode(id) : nullptr;
    if (!node)
        return false;
    node->key = std::move(key);
    return true;
}

bool BrowserTree::moveRoot(const RootMove& move)
{
    GroupCacheData* state = current();
    return state && applyMove(state->rootNodes, move);
}

} // namespace kivo::organise
