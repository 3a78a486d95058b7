#include "app/LibraryAccess.h"

#include "index/CacheIndexStore.h"
#include "index/NaturalOrder.h"
#include "organise/BrowserFileOrder.h"

#include <algorithm>

namespace kivo::app {

FolderListing indexFolderListing(index::CacheIndexStore& store, const std::string& path)
{
    FolderListing out;
    out.subfolders = store.read([&](const index::IndexMaps& maps) {
        auto it = maps.directoryIndex.find(path);
        return it == maps.directoryIndex.end() ? std::vector<std::string>() : it->second.subdirectories;
    });
    std::stable_sort(
        out.subfolders.begin(), out.subfolders.end(), [](const std::string& a, const std::string& b) {
            return index::naturalCompare(folderDisplayName(a), folderDisplayName(b)) < 0;
        });
    out.files = store.filesInFolder(
        path, [](std::vector<index::FileInfo>& files) { organise::sortInBrowserOrder(files, {}); });
    return out;
}

SearchJob indexSearchJob(index::CacheIndexStore& store, const QString& query, const QString& collectionId)
{
    return [&store, q = query.toStdString(), g = collectionId.toStdString()] {
        return store.search(q, g, true);
    };
}

} // namespace kivo::app
