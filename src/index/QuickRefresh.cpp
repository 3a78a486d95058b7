#include "index/QuickRefresh.h"

#include "index/FolderListing.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <dirent.h>
#include <unordered_map>
#include <unordered_set>

namespace kivo::index {

namespace {

bool isUnder(const std::string& path, const std::string& root)
{
    if (root == "/")
        return !path.empty() && path[0] == '/';
    return path.size() >= root.size() && path.compare(0, root.size(), root) == 0
        && (path.size() == root.size() || path[root.size()] == '/');
}

std::string childPath(const std::string& folder, const std::string& name)
{
    return folder == "/" ? "/" + name : folder + "/" + name;
}

// None when the folder cannot be opened; otherwise whether it holds any entry. Reachability only
// needs the first entry, not the whole listing.
std::optional<bool> folderHasEntries(const std::string& path)
{
    DIR* dir = ::opendir(path.c_str());
    if (!dir)
        return std::nullopt;
    bool any = false;
    while (const dirent* e = ::readdir(dir)) {
        if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..")) {
            any = true;
            break;
        }
    }
    ::closedir(dir);
    return any;
}

std::vector<std::string> reachableRoots(const std::vector<std::string>& roots,
    const std::set<std::string>& skipped, const MountedVolumes& mounted)
{
    std::vector<std::string> reachable;
    std::optional<std::set<std::string>> mountedNow;
    for (const auto& root : roots) {
        if (skipped.count(root))
            continue;
        const auto hasEntries = folderHasEntries(root);
        if (!hasEntries)
            continue;
        if (!*hasEntries) {
            // An empty folder where a drive is usually mounted is the mount point of an absent drive.
            if (const auto volume = removableVolumeOf(root)) {
                if (!mountedNow)
                    mountedNow = mounted ? mounted() : std::set<std::string>();
                if (!mountedNow->count(*volume))
                    continue;
            }
        }
        reachable.push_back(root);
    }
    return reachable;
}

} // namespace

QuickRefreshDelta computeQuickRefreshDelta(const std::vector<DirectorySnapshot>& snapshots,
    const std::vector<std::string>& roots, const std::set<std::string>& skippedRoots,
    const MountedVolumes& mounted, const SnapshotLists& listsOf)
{
    QuickRefreshDelta delta;
    const auto reachable = reachableRoots(roots, skippedRoots, mounted);
    if (reachable.empty())
        return delta;

    // First the times: one stat per folder, and nothing else for the folders that did not change.
    struct Changed {
        const DirectorySnapshot* snapshot;
        std::optional<FolderStamp> stamp;
    };
    std::vector<Changed> changed;
    for (const auto& s : snapshots) {
        if (!std::any_of(
                reachable.begin(), reachable.end(), [&](const std::string& r) { return isUnder(s.path, r); }))
            continue;
        auto stamp = folderStamp(s.path);
        if (stamp && stamp->contentModified && s.contentModified
            && std::fabs(*stamp->contentModified - *s.contentModified) < 0.001)
            continue;
        changed.push_back({ &s, std::move(stamp) });
    }
    std::vector<DirectorySnapshot> fetched;
    std::unordered_map<std::string_view, const DirectorySnapshot*> withLists;
    if (listsOf && !changed.empty()) {
        std::vector<std::string> paths;
        for (const auto& c : changed)
            paths.push_back(c.snapshot->path);
        fetched = listsOf(paths);
        for (const auto& f : fetched)
            withLists.emplace(f.path, &f);
    }

    std::vector<FolderEntry> entries;
    std::vector<std::string> currentFiles;
    std::vector<std::string> currentFolders;
    std::unordered_set<std::string_view> known;
    std::unordered_set<std::string_view> present;
    for (const auto& [snapshot, stamp] : changed) {
        const DirectorySnapshot* s = snapshot;
        if (listsOf) {
            const auto it = withLists.find(snapshot->path);
            if (it == withLists.end())
                continue; // gone from the index meanwhile
            s = it->second;
        }
        if (!listFolder(s->path, entries))
            continue;
        currentFiles.clear();
        currentFolders.clear();
        for (const auto& e : entries) {
            if (e.kind == EntryKind::folder)
                currentFolders.push_back(childPath(s->path, e.name));
            else if (hasCompatibleExtension(e.name)) // no alias files on this platform
                currentFiles.push_back(childPath(s->path, e.name));
        }
        auto diff = [&](const std::vector<std::string>& now, const PathList& before,
                        std::vector<std::string>& added, std::vector<std::string>& removed) {
            known.clear();
            present.clear();
            known.insert(before.begin(), before.end());
            present.insert(now.begin(), now.end());
            for (const auto& p : now)
                if (!known.count(p))
                    added.push_back(p);
            for (const auto p : before)
                if (!present.count(p))
                    removed.emplace_back(p);
        };
        diff(currentFiles, s->filePaths, delta.newFiles, delta.removedFiles);
        diff(currentFolders, s->subdirectoryPaths, delta.newFolders, delta.removedFolders);
        if (stamp && stamp->contentModified)
            delta.freshMTimes[s->path] = *stamp->contentModified;
        if (stamp && stamp->inode)
            delta.freshInodes[s->path] = *stamp->inode;
    }
    for (auto* list : { &delta.newFiles, &delta.newFolders, &delta.removedFiles, &delta.removedFolders })
        std::sort(list->begin(), list->end());
    delta.movedFolders = detectFolderMoves(delta.removedFolders, delta.newFolders, snapshots);
    return delta;
}

std::vector<FolderMove> detectFolderMoves(const std::vector<std::string>& removed,
    const std::vector<std::string>& added, const std::vector<DirectorySnapshot>& snapshots)
{
    std::vector<FolderMove> moves;
    if (removed.empty() || added.empty())
        return moves;
    const std::unordered_set<std::string_view> removedSet(removed.begin(), removed.end());
    std::unordered_map<std::string_view, std::uint64_t> oldNumbers;
    for (const auto& s : snapshots)
        if (s.inode && removedSet.count(s.path))
            oldNumbers.emplace(s.path, *s.inode);
    if (oldNumbers.empty())
        return moves;
    std::unordered_map<std::uint64_t, const std::string*> newNumbers;
    for (const auto& p : added)
        if (const auto number = fileNumber(p))
            newNumbers.emplace(*number, &p); // the first path wins for a number
    for (const auto& path : removed) {
        const auto old = oldNumbers.find(path);
        if (old == oldNumbers.end())
            continue;
        const auto found = newNumbers.find(old->second);
        if (found != newNumbers.end())
            moves.push_back({ path, *found->second });
    }
    return moves;
}

} // namespace kivo::index
