#pragma once

// Change detection against disk without a full scan: only folders whose content-modification time
// moved are listed, and folders that vanished from one place and appeared in another are paired by
// their file number. Pure disk inspection; the store applies the delta.

#include "platform/MountTable.h"

#include <cstdint>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace kivo::index {

// A list of paths packed into one buffer: taking a snapshot of a 100,000-file index then costs one
// allocation per folder instead of one per file, which is most of an unchanged library's refresh.
class PathList {
public:
    void push_back(std::string_view path)
    {
        m_ends.push_back(std::uint32_t(m_text.size() + path.size()));
        m_text.append(path);
    }
    void reserve(std::size_t paths, std::size_t characters)
    {
        m_ends.reserve(paths);
        m_text.reserve(characters);
    }
    std::size_t size() const { return m_ends.size(); }
    bool empty() const { return m_ends.empty(); }
    std::string_view operator[](std::size_t i) const
    {
        const std::uint32_t begin = i ? m_ends[i - 1] : 0;
        return std::string_view(m_text).substr(begin, m_ends[i] - begin);
    }

    class const_iterator {
    public:
        using value_type = std::string_view;
        using difference_type = std::ptrdiff_t;
        using iterator_category = std::forward_iterator_tag;
        using pointer = void;
        using reference = std::string_view;
        const_iterator() = default;
        const_iterator(const PathList* list, std::size_t i)
            : m_list(list)
            , m_i(i)
        {
        }
        std::string_view operator*() const { return (*m_list)[m_i]; }
        const_iterator& operator++()
        {
            ++m_i;
            return *this;
        }
        const_iterator operator++(int)
        {
            auto old = *this;
            ++m_i;
            return old;
        }
        bool operator==(const const_iterator& o) const { return m_i == o.m_i; }

    private:
        const PathList* m_list = nullptr;
        std::size_t m_i = 0;
    };
    const_iterator begin() const { return { this, 0 }; }
    const_iterator end() const { return { this, size() }; }

private:
    std::string m_text;
    std::vector<std::uint32_t> m_ends;
};

// What the index believes about one folder. The path lists behave as sets (a folder record never
// lists a path twice).
struct DirectorySnapshot {
    std::string path;
    PathList filePaths;
    PathList subdirectoryPaths;
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

// For roots on removable media: the volume's mount point, else none.
using platform::removableVolumeOf;

// Full snapshots of the given folders, read from the index when the change detection needs them.
using SnapshotLists = std::function<std::vector<DirectorySnapshot>(const std::vector<std::string>& folders)>;

// `mounted` is only asked when a removable root lists empty. With `listsOf` the snapshots need carry
// only their paths, times and numbers: the file and folder lists are fetched for the folders whose
// time changed, which spares copying the lists of a whole library on every refresh.
QuickRefreshDelta computeQuickRefreshDelta(const std::vector<DirectorySnapshot>& snapshots,
    const std::vector<std::string>& roots, const std::set<std::string>& skippedRoots,
    const MountedVolumes& mounted, const SnapshotLists& listsOf = {});

std::vector<FolderMove> detectFolderMoves(const std::vector<std::string>& removed,
    const std::vector<std::string>& added, const std::vector<DirectorySnapshot>& snapshots);

} // namespace kivo::index
