#pragma once

// How the window searches the library index.

#include "app/SearchRunner.h"
#include "index/MetadataOverrides.h"
#include "organise/BrowserFileOrder.h"

#include <QString>

#include <memory>

namespace kivo::index {
class CacheIndexStore;
}

namespace kivo::app {

// A search of `query` over names and folder keywords of one collection: a file named exactly as the
// query first, then the tree's file order with the user's sorting options, files sorting by their
// effective BPM.
SearchJob indexSearchJob(index::CacheIndexStore& store, const QString& query, const QString& collectionId,
    const organise::SortingOptions& sorting,
    std::shared_ptr<const index::MetadataOverrides> overrides = nullptr);

} // namespace kivo::app
