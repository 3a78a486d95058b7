#pragma once

// What the browser shows inside one folder, in listing order, as the index knows it. Folders the
// index has not recorded (a root not scanned yet) are read from disk instead.

#include "index/IndexRecords.h"

#include <string>
#include <vector>

namespace kivo::index {
class CacheIndexStore;
}

namespace kivo::organise {

struct FolderContents {
    std::vector<std::string> subfolders; // absolute paths
    std::vector<index::FileInfo> files;
};

// The folder's record in the index: every sub-folder, compatible content or not, and its compatible
// files. Without a record: the folders and compatible files on disk now. An unlistable folder is empty.
FolderContents indexFolderContents(index::CacheIndexStore& store, const std::string& path);

} // namespace kivo::organise
