#pragma once

// How the window reads the library index: a folder's rows for the tree and a search for the result
// list, both in the browser's order.

#include "app/LibraryTreeModel.h"
#include "app/SearchRunner.h"

#include <QString>

namespace kivo::index {
class CacheIndexStore;
}

namespace kivo::app {

// The folder's sub-folders (natural order) and files (browser order) as the index records them.
FolderListing indexFolderListing(index::CacheIndexStore& store, const std::string& path);
// A search of `query` over names and folder keywords of one collection.
SearchJob indexSearchJob(index::CacheIndexStore& store, const QString& query, const QString& collectionId);

} // namespace kivo::app
