#pragma once

// Change detection against disk without a full scan: only folders whose content-modification time
// moved are listed, and folders that vanished from one place and appeared in another are paired by
// their file number. Pure disk inspection; the store applies the delta.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace kivo::index {

// What the index believes about one folder. The path lists behave as sets (no duplicates); they are
// kept as the record's lists because building real sets for every folder would cost more than the
// whole refresh of an unchanged library.
struct DirectorySnapshot {
    std::string path;
    std::vector<std::string> filePaths;
    std::vector<std::string> subdirectoryPaths;
    std::optional<double> contentModified; // seconds since 2001-01-01 UTC
    std::optional<std::uint64_t> inode;
};

struct FolderMove {
    std::string from;
    std::string to;
    bool operator==(const FolderMove&) const = default;
};

// Every list is sorted by path so a delta reads the same whatever order the index kept.
struct QuickRefreshDelta {
    std::vector<std::string> newFiles;
    std::vector<std::string> newFolders;
    std::vector<std::string> removedFiles;
    std::vector<std::string> removedFolders;
    std::vector<FolderMove> movedFolders;
    std::map<std::string, double> freshMTimes;
    std::map<std::string, std::uint64_t> freshInodes;

    bool hasChanges() const
    {
        return !newFiles.empty() || !newFolders.empty() || !removedFiles.empty() || !removedFolders.empty();
    }
};

// The mount points of the volumes mounted now; injectable so tests can unplug a drive.
using MountedVolumes = std::function<std::set<std::string>()>;

// For roots on removable media ("/Volumes/X", "/media/<user>/X", "/run/media/<user>/X", "/mnt/X"): the
// volume's mount point, else none.
std::optional<std::string> removableVolumeOf(const std::string& path);

// `mounted` is only asked when a removable root lists empty.
QuickRefreshDelta computeQuickRefreshDelta(const std::vector<DirectorySnapshot>& snapshots,
    const std::vector<std::string>& roots, const std::set<std::string>& skippedRoots,
    const MountedVolumes& mounted);

std::vector<FolderMove> detectFolderMoves(const std::vector<std::string>& removed,
    const std::vector<std::string>& added, const std::vector<DirectorySnapshot>& snapshots);

} // namespace kivo::index
