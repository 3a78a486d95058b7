#pragma once

// What the browser shows inside one folder, in listing order, as the index knows it. Folders the
// index has not recorded (a root not scanned yet) are read from disk instead.

#include "index/IndexRecords.h"

#include <optional>
#include <string>
#include <vector>

namespace kivo::index {
class CacheIndexStore;
struct IndexMaps;
} // namespace kivo::index

namespace kivo::organise {

struct FolderContents {
    std::vector<std::string> subfolders; // absolute paths
    std::vector<index::FileInfo> files;
};

// The folder's record in the index: every sub-folder, compatible content or not, and its compatible
// files. Without a record: the folders and compatible files on disk now. An unlistable folder is empty.
// Waits for the store's worker and may read the disk: the window calls it off the main thread and
// hands the answer to BrowserTree::childrenLoaded().
FolderContents indexFolderContents(index::CacheIndexStore& store, const std::string& path);

// The record part alone, for reads that run on the store's worker themselves: none when the index
// has no record of the folder.
std::optional<FolderContents> indexedFolderContents(const index::IndexMaps& maps, const std::string& path);

} // namespace kivo::organise
