#pragma once

// How the window searches the library index.

#include "app/SearchRunner.h"
#include "organise/BrowserFileOrder.h"

#include <QString>

namespace kivo::index {
class CacheIndexStore;
}

namespace kivo::app {

// A search of `query` over names and folder keywords of one collection: a file named exactly as the
// query first, then the tree's file order with the user's sorting options.
SearchJob indexSearchJob(index::CacheIndexStore& store, const QString& query, const QString& collectionId,
    const organise::SortingOptions& sorting);

} // namespace kivo::app
