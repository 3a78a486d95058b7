#pragma once

// The private maps one scan fills. Nothing reads them while the scan runs; at the end they are moved
// into the store (full build) or merged into it (sync, new folders of a quick refresh).

#include "index/IndexMaps.h"
#include "index/IndexRecords.h"

#include <string>
#include <vector>

namespace kivo::index {

class IndexBuilder {
public:
    DirectoryIndex directoryIndex;
    GroupTokenIndex searchIndex;
    GroupTokenIndex keywordIndex;
    FileIndex fileIndex;

    void add(const FileInfo& file, const GroupID& groupID, const std::string& root);
    // The same with the file's folder keywords already worked out: every file of a folder shares them.
    void add(const FileInfo& file, const GroupID& groupID, const std::vector<std::string>& folderKeywords);

    // Moves everything into the maps: records by path (the builder's, being fresher, replace the
    // store's), path sets united per collection and token.
    void mergeInto(IndexMaps& maps);
    // Replaces the maps' records and token indexes with the builder's (the roots are the caller's).
    void replace(IndexMaps& maps);

    bool empty() const { return directoryIndex.empty() && fileIndex.empty(); }
};

} // namespace kivo::index
