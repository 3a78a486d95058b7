#pragma once

// The missing-item check as an operation of the index store: which roots of a sync plan sit on a
// drive that is not connected, which roots cannot be reached, and which files and folders the index
// holds under the reachable roots that are gone from disk. It only reads the published index and the
// disk, so it runs on a background thread beside searches and never waits for the writer.

#include "index/CacheIndexStore.h"
#include "index/IndexScan.h"
#include "index/QuickRefresh.h"

#include <string>
#include <vector>

namespace kivo::index {

struct LibraryCheckOptions {
    bool checkDriveState = true; // report roots whose drive is not connected
    bool detectMissingItems = true; // report unreachable roots and vanished files and folders
};

struct LibraryCheckFindings {
    std::vector<std::string> unreachableDrives; // mount points of absent drives, each once, in plan order
    std::vector<std::string> driveRoots; // the roots on those drives
    std::vector<std::string> missingRoots; // roots that cannot be listed (their drive, if any, is there)
    std::vector<std::string> missingFolders; // indexed sub-folders gone from disk (not moved), topmost only
    std::vector<std::string> missingFiles; // indexed files gone from folders that still exist
    bool operator==(const LibraryCheckFindings&) const = default;
};

// Over `snapshots` (the index's folder records); `roots` are every root of the plan, resolved or not,
// and `unresolved` those whose bookmark did not resolve.
LibraryCheckFindings checkLibrary(const std::vector<DirectorySnapshot>& snapshots,
    const std::vector<std::string>& roots, const std::vector<std::string>& unresolved,
    const LibraryCheckOptions& options, const MountedVolumes& mounted, const SnapshotLists& listsOf = {});

// The same over the store's latest published state.
LibraryCheckFindings checkLibrary(CacheIndexStore& store, const std::vector<ScanGroup>& plan,
    const LibraryCheckOptions& options, const MountedVolumes& mounted);

} // namespace kivo::index
