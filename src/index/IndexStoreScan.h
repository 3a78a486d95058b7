#pragma once

// Scans and quick refreshes as operations of the index store. The walk and the disk inspection run
// on the calling thread (a background task), outside the store's worker; only the short steps that
// read or change the maps go through the worker. A search issued during a scan is therefore answered
// at once from the previous complete index, and a cancelled scan commits nothing.

#include "index/CacheIndexStore.h"
#include "index/IndexRefresh.h"
#include "index/IndexScan.h"

namespace kivo::index {

struct ScanOptions {
    HeaderReader reader = readHeaderMetadata; // empty: names and folders alone decide
    FolderAccess access = platformFolderAccess();
    ReferenceClock clock; // empty: the system clock
};

// `progress` is delivered on the main thread. Returns the store's root map afterwards (unchanged when
// cancelled).
GroupRoots buildIndex(CacheIndexStore& store, const std::vector<ScanGroup>& groups, ProgressObserver progress,
    CancelHandle cancel = {}, const ScanOptions& options = {});
void syncIndex(CacheIndexStore& store, const std::vector<ScanGroup>& groups, ProgressObserver progress,
    CancelHandle cancel = {}, const ScanOptions& options = {});
void removeGroups(CacheIndexStore& store, const std::set<GroupID>& groupIDs);
void removeRoots(CacheIndexStore& store, const std::vector<std::string>& roots, const GroupID& groupID);

// A root found again under a new path: its records go, the root is renamed in place in every
// collection that holds it, and the folder at the new path is walked into those collections.
// Returns the store's root map afterwards.
GroupRoots relocateRoot(CacheIndexStore& store, const std::string& oldPath, const std::string& newPath,
    CancelHandle cancel = {}, const ScanOptions& options = {});

// Every root of every collection, each once, in collection order.
std::vector<std::string> allRoots(CacheIndexStore& store);
QuickRefreshDelta computeQuickRefreshDelta(CacheIndexStore& store, const std::vector<std::string>& roots,
    const std::set<std::string>& skippedRoots, const MountedVolumes& mounted);
void applyQuickRefreshDelta(CacheIndexStore& store, const QuickRefreshDelta& delta, CancelHandle cancel = {},
    const ScanOptions& options = {});

} // namespace kivo::index
