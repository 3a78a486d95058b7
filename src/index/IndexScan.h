#pragma once

// Full builds, syncs and removals over the store's maps. A build or sync is split in three so the
// store can run the parts that touch its maps on its own executor and the walk outside it: a search
// issued during the walk is answered from the previous complete index at once.

#include "index/FolderScanner.h"
#include "index/IndexBuilder.h"

#include <map>
#include <set>
#include <string>
#include <vector>

namespace kivo::index {

struct ScanGroup {
    GroupID groupID;
    std::vector<std::string> urls; // resolved root folders, in the collection's order
    std::vector<std::string> unresolvedPaths;
    // Those of unresolvedPaths whose folder did not answer in time (a share that hangs): kept like
    // the others, but not known to be missing.
    std::vector<std::string> stalledPaths {};
};

// What a walk produced; committed or merged by the store unless `cancelled`.
struct ScanOutcome {
    IndexBuilder builder;
    GroupRoots roots; // full build: the new root map; sync: the new roots per collection
    bool cancelled = false;
};

// Full build. `walkForBuild` reads nothing of the store; `commitBuild` returns the store's roots.
// `form` says what the outcome goes on to: the maps (commitBuild, commitBuildKeepingUnresolved) or
// the compact form alone (compactBuild).
ScanOutcome walkForBuild(const std::vector<ScanGroup>& groups, FolderScanner& scanner,
    const FolderAccess& access, IndexBuilder::Form form = IndexBuilder::Form::maps);
GroupRoots commitBuild(IndexMaps& maps, ScanOutcome&& outcome, FolderScanner& scanner);
// The same outcome made straight into the compact form, for a store that swaps it in whole; the
// scanner's final report follows once the caller has done so (finishBuild).
CompactIndex compactBuild(ScanOutcome&& outcome);
void finishBuild(FolderScanner& scanner);
// A build whose plan holds roots that cannot be reached keeps their records: `maps` is the whole
// current index, of which only what lies under those roots stays beside the walk's results.
bool hasUnresolvedRoots(const std::vector<ScanGroup>& groups);
GroupRoots commitBuildKeepingUnresolved(
    IndexMaps& maps, ScanOutcome&& outcome, const std::vector<ScanGroup>& groups, FolderScanner& scanner);
// The empty-group-list case, decided before anything is walked: clears every map.
GroupRoots buildWithNoGroups(IndexMaps& maps, FolderScanner& scanner);

// What a sync to `groups` removes before it walks: the collections it no longer has, and the roots a
// collection it keeps no longer lists (nor holds as unresolved).
struct SyncRemovals {
    std::set<GroupID> groups;
    std::map<GroupID, std::vector<std::string>> roots;
    bool empty() const { return groups.empty() && roots.empty(); }
};
SyncRemovals syncRemovals(const GroupRoots& roots, const std::vector<ScanGroup>& groups);

// Sync. `prepareSync` does the removals and remembers unresolved roots (on the store) and returns the
// roots still to scan per collection.
GroupRoots prepareSync(IndexMaps& maps, const std::vector<ScanGroup>& groups);
ScanOutcome walkForSync(const GroupRoots& newRoots, const std::vector<ScanGroup>& groups,
    FolderScanner& scanner, const FolderAccess& access);
void commitSync(
    IndexMaps& maps, ScanOutcome&& outcome, const std::vector<ScanGroup>& groups, FolderScanner& scanner);

// The three steps in one go, for callers that own the maps outright (tools, tests).
GroupRoots buildIndex(IndexMaps& maps, const std::vector<ScanGroup>& groups, FolderScanner& scanner,
    const FolderAccess& access);
void syncIndex(IndexMaps& maps, const std::vector<ScanGroup>& groups, FolderScanner& scanner,
    const FolderAccess& access);

void removeGroups(IndexMaps& maps, const std::set<GroupID>& groupIDs);
void removeRoots(IndexMaps& maps, const std::vector<std::string>& roots, const GroupID& groupID);

} // namespace kivo::index
