#pragma once

// The five maps of the library index. The store owns one set and runs every operation over it on its
// own worker; a scan fills a private set of its own and hands it over at the end.

#include "index/IndexRecords.h"

namespace kivo::index {

struct IndexMaps {
    DirectoryIndex directoryIndex;
    GroupTokenIndex searchIndex;
    GroupTokenIndex keywordIndex; // derived from fileIndex and groupRoots, never persisted
    FileIndex fileIndex;
    GroupRoots groupRoots;

    bool operator==(const IndexMaps&) const = default;
};

// Collections whose roots contain the path, in collection order.
std::vector<GroupID> groupsContaining(const IndexMaps& maps, std::string_view path);
// keywordIndex again from fileIndex and groupRoots; each file takes the first root that holds it.
void rebuildKeywordIndex(IndexMaps& maps);
// fileIndex again from the folder records (a later folder wins for a path listed twice).
void rebuildFileIndex(IndexMaps& maps);

} // namespace kivo::index
