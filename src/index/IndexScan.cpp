#include "index/IndexScan.h"

#include <algorithm>

namespace kivo::index {

namespace {

bool underAny(const std::string& path, const std::vector<std::string>& roots)
{
    return std::any_of(
        roots.begin(), roots.end(), [&](const std::string& r) { return isUnderRoot(path, r); });
}

void countRoots(const std::vector<std::string>& roots, FolderScanner& scanner, const FolderAccess& access)
{
    for (const auto& root : roots) {
        if (scanner.cancelled())
            return;
        if (access.begin(root)) {
            scanner.countFiles(root);
            access.end(root);
        }
    }
}

void indexRoot(const std::string& root, const GroupID& group, IndexBuilder& builder, FolderScanner& scanner,
    const FolderAccess& access)
{
    if (access.begin(root)) {
        scanner.indexDirectory(root, group, root, builder);
        access.end(root);
    }
}

void finalReport(FolderScanner& scanner)
{
    auto& c = scanner.counters();
    c.indexed = c.total;
    if (scanner.hasObserver())
        scanner.report({ 1.0, c.total, c.total, c.folders, false });
}

// Removes from every set of `tokens` the paths `drop` selects, and the tokens left empty.
template <typename Drop> void prune(TokenIndex& tokens, Drop drop)
{
    for (auto it = tokens.begin(); it != tokens.end();) {
        auto& paths = it->second;
        for (auto p = paths.begin(); p != paths.end();)
            p = drop(*p) ? paths.erase(p) : std::next(p);
        it = paths.empty() ? tokens.erase(it) : std::next(it);
    }
}

void removeRecordsUnder(IndexMaps& maps, const std::vector<std::string>& removed)
{
    std::vector<std::string> remaining;
    for (const auto& [group, roots] : maps.groupRoots)
        remaining.insert(remaining.end(), roots.begin(), roots.end());
    auto gone
        = [&](const std::string& path) { return underAny(path, removed) && !underAny(path, remaining); };
    std::erase_if(maps.fileIndex, [&](const auto& entry) { return gone(entry.first); });
    std::erase_if(maps.directoryIndex, [&](const auto& entry) { return gone(entry.first); });
}

} // namespace

bool hasUnresolvedRoots(const std::vector<ScanGroup>& groups)
{
    return std::any_of(
        groups.begin(), groups.end(), [](const ScanGroup& g) { return !g.unresolvedPaths.empty(); });
}

ScanOutcome walkForBuild(const std::vector<ScanGroup>& groups, FolderScanner& scanner,
    const FolderAccess& access, IndexBuilder::Form form)
{
    ScanOutcome outcome { IndexBuilder(form), {} };
    scanner.resetCounters();
    if (scanner.hasObserver())
        scanner.report({ 0.0, 0, 0, 0, true });
    for (const auto& group : groups) {
        if (scanner.cancelled())
            break;
        countRoots(group.urls, scanner, access);
    }
    scanner.startIndexingPhase();
    outcome.builder.reserve(std::size_t(scanner.counters().total));
    for (const auto& group : groups) {
        if (scanner.cancelled())
            break;
        std::vector<std::string> roots;
        for (const auto& url : group.urls) {
            roots.push_back(url);
            indexRoot(url, group.groupID, outcome.builder, scanner, access);
        }
        roots.insert(roots.end(), group.unresolvedPaths.begin(), group.unresolvedPaths.end());
        outcome.roots[group.groupID] = std::move(roots);
    }
    outcome.cancelled = scanner.cancelled();
    return outcome;
}

GroupRoots commitBuild(IndexMaps& maps, ScanOutcome&& outcome, FolderScanner& scanner)
{
    if (outcome.cancelled || scanner.cancelled())
        return maps.groupRoots;
    outcome.builder.replace(maps);
    maps.groupRoots = std::move(outcome.roots);
    finalReport(scanner);
    return maps.groupRoots;
}

CompactIndex compactBuild(ScanOutcome&& outcome)
{
    return outcome.builder.compact(outcome.roots);
}

void finishBuild(FolderScanner& scanner)
{
    finalReport(scanner);
}

GroupRoots commitBuildKeepingUnresolved(
    IndexMaps& maps, ScanOutcome&& outcome, const std::vector<ScanGroup>& groups, FolderScanner& scanner)
{
    if (outcome.cancelled || scanner.cancelled())
        return maps.groupRoots;
    std::vector<std::string> kept;
    for (const auto& group : groups)
        kept.insert(kept.end(), group.unresolvedPaths.begin(), group.unresolvedPaths.end());
    // A root that cannot be reached now (an unplugged drive, a folder moved away) keeps what the index
    // knew of it: a rebuild never empties it, and its files stay listed and searchable until it is
    // relocated or removed.
    auto dropped = [&](const std::string& path) { return !underAny(path, kept); };
    std::erase_if(maps.fileIndex, [&](const auto& entry) { return dropped(entry.first); });
    std::erase_if(maps.directoryIndex, [&](const auto& entry) { return dropped(entry.first); });
    for (auto* index : { &maps.searchIndex, &maps.keywordIndex }) {
        for (auto it = index->begin(); it != index->end();) {
            const bool planned = std::any_of(
                groups.begin(), groups.end(), [&](const ScanGroup& g) { return g.groupID == it->first; });
            if (!planned) {
                it = index->erase(it);
                continue;
            }
            prune(it->second, dropped);
            ++it;
        }
    }
    outcome.builder.mergeInto(maps);
    maps.groupRoots = std::move(outcome.roots);
    finalReport(scanner);
    return maps.groupRoots;
}

GroupRoots buildWithNoGroups(IndexMaps& maps, FolderScanner& scanner)
{
    scanner.resetCounters();
    if (scanner.hasObserver())
        scanner.report({ 1.0, 0, 0, 0, false });
    maps = IndexMaps();
    return {};
}

SyncRemovals syncRemovals(const GroupRoots& roots, const std::vector<ScanGroup>& groups)
{
    SyncRemovals out;
    for (const auto& [group, list] : roots) {
        const auto planned = std::find_if(
            groups.begin(), groups.end(), [&, &id = group](const ScanGroup& g) { return g.groupID == id; });
        if (planned == groups.end()) {
            out.groups.insert(group);
            continue;
        }
        for (const auto& root : list)
            if (std::find(planned->urls.begin(), planned->urls.end(), root) == planned->urls.end()
                && std::find(planned->unresolvedPaths.begin(), planned->unresolvedPaths.end(), root)
                    == planned->unresolvedPaths.end())
                out.roots[group].push_back(root);
    }
    return out;
}

GroupRoots prepareSync(IndexMaps& maps, const std::vector<ScanGroup>& groups)
{
    const SyncRemovals removals = syncRemovals(maps.groupRoots, groups);
    if (!removals.groups.empty())
        removeGroups(maps, removals.groups);
    for (const auto& [group, stale] : removals.roots)
        removeRoots(maps, stale, group);

    GroupRoots newRoots;
    for (const auto& group : groups) {
        auto& known = maps.groupRoots[group.groupID]; // a new collection starts with no roots
        for (const auto& path : group.unresolvedPaths)
            if (std::find(known.begin(), known.end(), path) == known.end())
                known.push_back(path);
        auto& fresh = newRoots[group.groupID];
        for (const auto& url : group.urls)
            if (std::find(known.begin(), known.end(), url) == known.end()
                && std::find(fresh.begin(), fresh.end(), url) == fresh.end())
                fresh.push_back(url);
    }
    return newRoots;
}

ScanOutcome walkForSync(const GroupRoots& newRoots, const std::vector<ScanGroup>& groups,
    FolderScanner& scanner, const FolderAccess& access)
{
    ScanOutcome outcome;
    outcome.roots = newRoots;
    scanner.resetCounters();
    for (const auto& group : groups) {
        if (scanner.cancelled())
            break;
        countRoots(newRoots.at(group.groupID), scanner, access);
    }
    scanner.startIndexingPhase();
    for (const auto& group : groups) {
        for (const auto& root : newRoots.at(group.groupID)) {
            if (scanner.cancelled())
                break;
            indexRoot(root, group.groupID, outcome.builder, scanner, access);
        }
    }
    outcome.cancelled = scanner.cancelled();
    return outcome;
}

void commitSync(
    IndexMaps& maps, ScanOutcome&& outcome, const std::vector<ScanGroup>& groups, FolderScanner& scanner)
{
    if (outcome.cancelled || scanner.cancelled())
        return;
    outcome.builder.mergeInto(maps);
    for (const auto& group : groups) {
        auto& roots = maps.groupRoots[group.groupID];
        for (const auto& root : outcome.roots[group.groupID])
            roots.push_back(root);
    }
    finalReport(scanner);
}

GroupRoots buildIndex(
    IndexMaps& maps, const std::vector<ScanGroup>& groups, FolderScanner& scanner, const FolderAccess& access)
{
    if (groups.empty())
        return buildWithNoGroups(maps, scanner);
    if (hasUnresolvedRoots(groups))
        return commitBuildKeepingUnresolved(maps, walkForBuild(groups, scanner, access), groups, scanner);
    return commitBuild(maps, walkForBuild(groups, scanner, access), scanner);
}

void syncIndex(
    IndexMaps& maps, const std::vector<ScanGroup>& groups, FolderScanner& scanner, const FolderAccess& access)
{
    const GroupRoots newRoots = prepareSync(maps, groups);
    commitSync(maps, walkForSync(newRoots, groups, scanner, access), groups, scanner);
}

void removeGroups(IndexMaps& maps, const std::set<GroupID>& groupIDs)
{
    std::vector<std::string> removed;
    for (const auto& id : groupIDs) {
        if (const auto it = maps.groupRoots.find(id); it != maps.groupRoots.end()) {
            removed.insert(removed.end(), it->second.begin(), it->second.end());
            maps.groupRoots.erase(it);
        }
        maps.searchIndex.erase(id);
        maps.keywordIndex.erase(id);
    }
    if (!removed.empty())
        removeRecordsUnder(maps, removed);
}

void removeRoots(IndexMaps& maps, const std::vector<std::string>& roots, const GroupID& groupID)
{
    if (const auto it = maps.groupRoots.find(groupID); it != maps.groupRoots.end())
        std::erase_if(it->second,
            [&](const std::string& r) { return std::find(roots.begin(), roots.end(), r) != roots.end(); });
    auto under = [&](const std::string& path) { return underAny(path, roots); };
    if (const auto it = maps.searchIndex.find(groupID); it != maps.searchIndex.end())
        prune(it->second, under);
    if (const auto it = maps.keywordIndex.find(groupID); it != maps.keywordIndex.end())
        prune(it->second, under);
    removeRecordsUnder(maps, roots);
}

} // namespace kivo::index
