#include "index/LibraryCheck.h"

#include "index/IndexRefresh.h"

#include <algorithm>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace kivo::index {

namespace {

bool isListableFolder(const std::string& path)
{
    struct stat st { };
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && ::access(path.c_str(), R_OK | X_OK) == 0;
}

template <class T> void appendOnce(std::vector<T>& list, const T& value)
{
    if (std::find(list.begin(), list.end(), value) == list.end())
        list.push_back(value);
}

} // namespace

LibraryCheckFindings checkLibrary(const std::vector<DirectorySnapshot>& snapshots,
    const std::vector<std::string>& roots, const std::vector<std::string>& unresolved,
    const LibraryCheckOptions& options, const MountedVolumes& mounted, const SnapshotLists& listsOf)
{
    LibraryCheckFindings found;
    std::optional<std::set<std::string>> mountedNow;
    std::vector<std::string> reachable;
    for (const std::string& root : roots) {
        // A root on removable media whose drive is gone is the drive's issue, never a missing folder:
        // an empty mount point left behind must not read as a folder whose samples were deleted.
        if (const auto volume = removableVolumeOf(root)) {
            if (!mountedNow)
                mountedNow = mounted ? mounted() : std::set<std::string>();
            if (!mountedNow->count(*volume)) {
                if (options.checkDriveState) {
                    appendOnce(found.unreachableDrives, *volume);
                    appendOnce(found.driveRoots, root);
                }
                continue;
            }
        }
        const bool resolved = std::find(unresolved.begin(), unresolved.end(), root) == unresolved.end();
        if (!resolved || !isListableFolder(root)) {
            if (options.detectMissingItems)
                appendOnce(found.missingRoots, root);
            continue;
        }
        appendOnce(reachable, root);
    }
    if (!options.detectMissingItems || reachable.empty())
        return found;

    // What vanished under the reachable roots is what a quick refresh would remove: only folders whose
    // times changed are listed. A folder that was only renamed or moved is not missing.
    const QuickRefreshDelta delta = computeQuickRefreshDelta(snapshots, reachable, {}, mounted, listsOf);
    std::set<std::string> moved;
    for (const FolderMove& move : delta.movedFolders)
        moved.insert(move.from);
    for (const std::string& folder : delta.removedFolders)
        if (!moved.count(folder))
            found.missingFolders.push_back(folder);
    found.missingFiles = delta.removedFiles;
    return found;
}

LibraryCheckFindings checkLibrary(CacheIndexStore& store, const std::vector<ScanGroup>& plan,
    const LibraryCheckOptions& options, const MountedVolumes& mounted)
{
    std::vector<std::string> roots;
    std::vector<std::string> unresolved;
    for (const ScanGroup& group : plan) {
        for (const std::string& root : group.urls)
            appendOnce(roots, root);
        for (const std::string& root : group.unresolvedPaths) {
            // A root that only hangs is neither reachable nor missing: nothing is said of it yet.
            if (std::find(group.stalledPaths.begin(), group.stalledPaths.end(), root)
                != group.stalledPaths.end())
                continue;
            appendOnce(roots, root);
            appendOnce(unresolved, root);
        }
    }
    const SnapshotPtr state = store.current();
    const auto snapshots = directorySnapshots(state->index, SnapshotContent::timesOnly);
    const SnapshotLists listsOf
        = [&](const std::vector<std::string>& folders) { return directorySnapshots(state->index, folders); };
    return checkLibrary(snapshots, roots, unresolved, options, mounted, listsOf);
}

} // namespace kivo::index
