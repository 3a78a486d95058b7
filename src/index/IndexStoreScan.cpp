#include "index/IndexStoreScan.h"
#include "index/CompactPatch.h"

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
    const bool keepsUnresolved = hasUnresolvedRoots(groups);
    ScanOutcome outcome = walkForBuild(groups, scanner, options.access,
        keepsUnresolved ? IndexBuilder::Form::maps : IndexBuilder::Form::compact);
    if (outcome.cancelled || scanner.cancelled())
        return store.roots();
    if (keepsUnresolved)
        return store.modify([&](IndexMaps& maps) {
            return commitBuildKeepingUnresolved(maps, std::move(outcome), groups, scanner);
        });
    // Made into the compact form here, on the scan's thread; the worker only swaps it in.
    store.replaceIndex(compactBuild(std::move(outcome)));
    finishBuild(scanner);
    return store.roots();
}

namespace {

// The next state made from the current one by `op`, published. Under the writer's turn.
void patchStore(CacheIndexStore& store, const std::function<void(CompactPatch&)>& op)
{
    CompactPatch patch(store.current()->index);
    op(patch);
    store.replaceIndex(patch.finish());
}

} // namespace

void syncIndex(CacheIndexStore& store, const std::vector<ScanGroup>& groups, ProgressObserver progress,
    CancelHandle cancel, const ScanOptions& options)
{
    FolderScanner scanner(cancel, onMainThread(std::move(progress)), options.reader, options.clock);
    const auto turn = store.writerTurn();
    // Before its walk a sync patches the compact form with its removals and its root lists; after it,
    // with the walk's records and tokens.
    const SyncRemovals removals = syncRemovals(store.roots(), groups);
    IndexMaps roots;
    roots.groupRoots = store.roots();
    // Named, not a structured binding: the fuzzing build's clang cannot capture those.
    for (const auto& entry : removals.roots) {
        const auto& stale = entry.second;
        std::erase_if(roots.groupRoots[entry.first],
            [&](const std::string& r) { return std::find(stale.begin(), stale.end(), r) != stale.end(); });
    }
    for (const auto& group : removals.groups)
        roots.groupRoots.erase(group);
    const GroupRoots newRoots = prepareSync(roots, groups);
    if (!removals.empty() || roots.groupRoots != store.roots())
        patchStore(store, [&](CompactPatch& patch) {
            patch.removeGroups(removals.groups);
            for (const auto& [group, stale] : removals.roots)
                patch.removeRoots(stale, group);
            patch.roots() = roots.groupRoots;
        });
    ScanOutcome outcome = walkForSync(newRoots, groups, scanner, options.access);
    if (outcome.cancelled || scanner.cancelled())
        return;
    patchStore(store, [&](CompactPatch& patch) {
        patch.addWalk(std::move(outcome.builder), {}, CompactPatch::Listing::asWalked);
        for (const auto& group : groups) {
            auto& roots = patch.roots()[group.groupID];
            for (const auto& root : outcome.roots[group.groupID])
                roots.push_back(root);
        }
    });
    finishBuild(scanner);
}

void removeGroups(CacheIndexStore& store, const std::set<GroupID>& groupIDs)
{
    const auto turn = store.writerTurn();
    patchStore(store, [&](CompactPatch& patch) { patch.removeGroups(groupIDs); });
}

void removeRoots(CacheIndexStore& store, const std::vector<std::string>& roots, const GroupID& groupID)
{
    const auto turn = store.writerTurn();
    patchStore(store, [&](CompactPatch& patch) { patch.removeRoots(roots, groupID); });
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
    patchStore(store, [&](CompactPatch& patch) {
        patch.removeFolder(oldPath);
        patch.removeFolder(newPath);
        for (const GroupID& group : groups)
            std::replace(patch.roots()[group].begin(), patch.roots()[group].end(), oldPath, newPath);
        for (auto& [group, builder] : walked)
            patch.addWalk(std::move(builder), {}, CompactPatch::Listing::asWalked);
    });
    return store.roots();
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
    // Applied to the compact form in the order that keeps it consistent: removals, additions, times.
    patchStore(store, [&](CompactPatch& patch) {
        patch.removeFiles(delta.removedFiles);
        for (const auto& folder : delta.removedFolders)
            patch.removeFolder(folder);
        for (auto& [folder, walk] : prepared.folders)
            patch.addWalk(std::move(walk), folder, CompactPatch::Listing::inParent);
        patch.addFiles(std::move(prepared.fileRecords), std::move(prepared.files));
        patch.applyFreshTimes(delta.freshMTimes, delta.freshInodes);
    });
}

} // namespace kivo::index
