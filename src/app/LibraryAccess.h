#pragma once

// How the window searches the library index.

#include "app/SearchRunner.h"
#include "index/MetadataOverrides.h"
#include "organise/AnalysedValues.h"
#include "organise/BrowserFileOrder.h"
#include "organise/FilterResults.h"
#include "organise/TagSets.h"

#include <memory>

namespace kivo::index {
class CacheIndexStore;
}

namespace kivo::app {

// The result list of `request`: the query's hits (a file named exactly as the query first, then the
// tree's file order with the user's sorting options, files sorting by their effective BPM), or with
// no query everything in scope, narrowed by the filter set with the user's overrides and tags. A
// query's hits in one collection with no filter come counted, with records for the first rows only.
// The job holds the store, so it may outlive the library that made it.
SearchJob indexSearchJob(std::shared_ptr<index::CacheIndexStore> store, organise::SearchRequest request,
    const organise::SortingOptions& sorting,
    std::shared_ptr<const index::MetadataOverrides> overrides = nullptr,
    std::shared_ptr<const organise::TagMaps> tags = nullptr,
    std::shared_ptr<const organise::AnalysedValues> analysed = nullptr);

} // namespace kivo::app
