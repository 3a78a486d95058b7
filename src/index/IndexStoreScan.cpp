#include "index/IndexStoreScan.h"

#include <algorithm>
#include <set>

namespace kivo::index {

GroupRoots buildIndex(CacheIndexStore& store, const std::vector<ScanGroup>& groups, ProgressObserver progress,
    CancelHandle cancel, const ScanOptions& options)
{
    FolderScanner scanner(cancel, onMainThread(std::move(progress)), options.reader, options.clock);
    const auto turn = store.writerTurn();
    if (groups.empty())
        return store.replace([&](IndexMaps& maps) { return buildWithNoGroups(maps, scanner); });
    // The walk fills a private builder; readers meanwhile see the previous complete state.
    ScanOutcome outcome = walkForBuild(groups, scanner, options.access);
    if (outcome.cancelled || scanner.cancelled())
        return store.roots();
    if (hasUnresolvedRoots(groups))
        return store.modify([&](IndexMaps& maps) {
            return commitBuildKeepingUnresolved(maps, std::move(outcome), groups, scanner);
        });
    // Made into the compact form here, on the scan's thread; the worker only swaps it in.
    store.replaceIndex(compactBuild(std::move(outcome)));
    finishBuild(scanner);
    return store.roots();
}

void syncIndex(CacheIndexStore& store, const std::vector<ScanGroup>& groups, ProgressObserver progress,
    CancelHandle cancel, const ScanOptions& options)
{
    FolderScanner scanner(cancel, onMainThread(std::move(progress)), options.reader, options.clock);
    const auto turn = store.writerTurn();
    const GroupRoots newRoots = store.modify([&](IndexMaps& maps) { return prepareSync(maps, groups); });
    ScanOutcome outcome = walkForSync(newRoots, groups, scanner, options.access);
    if (outcome.cancelled)
        return;
    store.modify([&](IndexMaps& maps) { commitSync(maps, std::move(outcome), groups, scanner); });
}

void removeGroups(CacheIndexStore& store, const std::set<GroupID>& groupIDs)
{
    const auto turn = store.writerTurn();
    store.modify([&](IndexMaps& maps) { removeGroups(maps, groupIDs); });
}

void removeRoots(CacheIndexStore& store, const std::vector<std::string>& roots, const GroupID& groupID)
{
    const auto turn = store.writerTurn();
    store.modify([&](IndexMaps& maps) { removeRoots(maps, roots, groupID); });
}

GroupRoots relocateRoot(CacheIndexStore& store, const std::string& oldPath, const std::string& newPath,
    CancelHandle cancel, const ScanOptions& options)
{
    FolderScanner scanner(cancel, {}, options.reader, options.clock);
    const auto turn = store.writerTurn();
    std::vector<GroupID> groups;
    for (const auto& [group, roots] : store.roots())
        if (std::find(roots.begin(), roots.end(), oldPath) != roots.end())
            groups.push_back(group);
    if (groups.empty())
        return store.roots();
    // The walk goes into a builder of its own first, so the change itself is short.
    std::vector<std::pair<GroupID, IndexBuilder>> walked;
    if (options.access.begin(newPath)) {
        for (const GroupID& group : groups) {
            IndexBuilder builder;
            scanner.indexDirectory(newPath, group, newPath, builder);
            walked.emplace_back(group, std::move(builder));
        }
        options.access.end(newPath);
    }
    if (scanner.cancelled())
        return store.roots();
    return store.modify([&](IndexMaps& maps) {
        removeFolder(maps, oldPath);
        removeFolder(maps, newPath);
        replaceRoot(maps, oldPath, newPath, groups);
        for (auto& [group, builder] : walked)
            builder.mergeInto(maps);
        return maps.groupRoots;
    });
}

std::vector<std::string> allRoots(CacheIndexStore& store)
{
    std::vector<std::string> roots;
    std::set<std::string> seen;
    for (const auto& [group, list] : store.roots())
        for (const auto& root : list)
            if (seen.insert(root).second)
                roots.push_back(root);
    return roots;
}

QuickRefreshDelta computeQuickRefreshDelta(CacheIndexStore& store, const std::vector<std::string>& roots,
    const std::set<std::string>& skippedRoots, const MountedVolumes& mounted)
{
    const SnapshotPtr state = store.current();
    const auto snapshots = directorySnapshots(state->index, SnapshotContent::timesOnly);
    const SnapshotLists listsOf
        = [&](const std::vector<std::string>& folders) { return directorySnapshots(state->index, folders); };
    return computeQuickRefreshDelta(snapshots, roots, skippedRoots, mounted, listsOf);
}

void applyQuickRefreshDelta(
    CacheIndexStore& store, const QuickRefreshDelta& delta, CancelHandle cancel, const ScanOptions& options)
{
    if (!delta.hasChanges() && delta.freshMTimes.empty() && delta.freshInodes.empty())
        return;
    FolderScanner scanner(cancel, {}, options.reader, options.clock);
    const auto turn = store.writerTurn();
    if (!delta.hasChanges()) {
        store.updateFolderTimes(delta.freshMTimes, delta.freshInodes);
        return;
    }
    // New folders are walked and new files read here, on the caller's thread, from the current roots;
    // the change itself only moves the results in.
    IndexMaps roots;
    roots.groupRoots = store.roots();
    PreparedItems prepared = prepareNewItems(roots, delta.newFolders, delta.newFiles, scanner);
    if (scanner.cancelled())
        return;
    store.modify([&](IndexMaps& maps) { applyQuickRefreshDelta(maps, delta, std::move(prepared)); });
}

} // namespace kivo::index
