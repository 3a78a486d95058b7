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

// Whether a sync to `groups` drops a collection or a root the index has.
bool syncRemovesAnything(const GroupRoots& roots, const std::vector<ScanGroup>& groups)
{
    for (const auto& [group, list] : roots) {
        const auto planned = std::find_if(groups.begin(), groups.end(),
            [&, &group = group](const ScanGroup& g) { return g.groupID == group; });
        if (planned == groups.end())
            return true;
        for (const auto& root : list)
            if (std::find(planned->urls.begin(), planned->urls.end(), root) == planned->urls.end()
                && std::find(planned->unresolvedPaths.begin(), planned->unresolvedPaths.end(), root)
                    == planned->unresolvedPaths.end())
                return true;
    }
    return false;
}

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
    // Removals go through the maps; a sync that only adds roots touches nothing but the root lists
    // before its walk, and adds the walk's records and tokens to the compact form after it.
    GroupRoots newRoots;
    if (syncRemovesAnything(store.roots(), groups)) {
        newRoots = store.modify([&](IndexMaps& maps) { return prepareSync(maps, groups); });
    } else {
        IndexMaps roots;
        roots.groupRoots = store.roots();
        newRoots = prepareSync(roots, groups);
        if (roots.groupRoots != store.roots())
            patchStore(store, [&](CompactPatch& patch) { patch.roots() = roots.groupRoots; });
    }
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
