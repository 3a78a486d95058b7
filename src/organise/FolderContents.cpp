#include "organise/FolderContents.h"

#include "index/CacheIndexStore.h"
#include "index/FolderListing.h"

namespace kivo::organise {

std::optional<FolderContents> indexedFolderContents(const index::IndexMaps& maps, const std::string& path)
{
    const auto found = maps.directoryIndex.find(path);
    if (found == maps.directoryIndex.end())
        return std::nullopt;
    return FolderContents { found->second.subdirectories, found->second.files };
}

FolderContents indexFolderContents(index::CacheIndexStore& store, const std::string& path)
{
    if (auto record = store.folderRecord(path))
        return FolderContents { std::move(record->subdirectories), std::move(record->files) };
    FolderContents contents;
    std::vector<index::FolderEntry> entries;
    if (!index::listFolder(path, entries))
        return contents;
    const std::string prefix = path == "/" ? path : path + "/";
    for (const auto& entry : entries)
        if (entry.kind == index::EntryKind::folder)
            contents.subfolders.push_back(prefix + entry.name);
    // The store builds records for files it has not indexed the same way a search does.
    contents.files = store.filesInFolder(path);
    return contents;
}

} // namespace kivo::organise
