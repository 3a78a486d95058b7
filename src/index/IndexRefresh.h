#pragma once

// The store operations that apply a quick-refresh delta (and relocate or re-read single folders),
// over the store's maps.

#include "index/CompactIndex.h"
#include "index/FolderScanner.h"
#include "index/IndexBuilder.h"
#include "index/QuickRefresh.h"

#include <map>
#include <string>
#include <vector>

namespace kivo::index {

enum class SnapshotContent { full, timesOnly };
std::vector<DirectorySnapshot> directorySnapshots(
    const IndexMaps& maps, SnapshotContent content = SnapshotContent::full);
// Full snapshots of the given folders that have a record.
std::vector<DirectorySnapshot> directorySnapshots(
    const IndexMaps& maps, const std::vector<std::string>& folders);
// The same over a published state.
std::vector<DirectorySnapshot> directorySnapshots(
    const CompactIndex& index, SnapshotContent content = SnapshotContent::full);
std::vector<DirectorySnapshot> directorySnapshots(
    const CompactIndex& index, const std::vector<std::string>& folders);
// Every collection with a root the path lies under, and that collection's first such root.
std::vector<std::pair<GroupID, std::string>> containingRoots(const IndexMaps& maps, const std::string& path);

void removeFile(IndexMaps& maps, const std::string& path);
void removeFiles(IndexMaps& maps, const std::vector<std::string>& paths);
// Returns the removed file paths.
std::vector<std::string> removeFolder(IndexMaps& maps, const std::string& path);
// New folders and files read from disk (listings and header reads) ahead of the change that adds them,
// so that the change itself is short.
struct PreparedItems {
    std::vector<std::pair<std::string, IndexBuilder>> folders; // each new folder walked per collection
    IndexBuilder files; // the new files' tokens and keywords
    std::vector<FileInfo> fileRecords; // for their folders' lists, one per collection containing them
};
PreparedItems prepareNewItems(const IndexMaps& maps, const std::vector<std::string>& newFolders,
    const std::vector<std::string>& newFiles, FolderScanner& scanner);
void addPreparedItems(IndexMaps& maps, PreparedItems&& prepared);
void addNewItems(IndexMaps& maps, const std::vector<std::string>& newFolders,
    const std::vector<std::string>& newFiles, FolderScanner& scanner);
void applyFreshTimes(IndexMaps& maps, const std::map<std::string, double>& freshMTimes,
    const std::map<std::string, std::uint64_t>& freshInodes);

// The whole delta in the order that keeps the maps consistent: removals, additions, then the times.
void applyQuickRefreshDelta(IndexMaps& maps, const QuickRefreshDelta& delta, FolderScanner& scanner);
// The same with the additions prepared beforehand (prepareNewItems).
void applyQuickRefreshDelta(IndexMaps& maps, const QuickRefreshDelta& delta, PreparedItems&& prepared);

} // namespace kivo::index
