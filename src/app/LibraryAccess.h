#pragma once

// How the window searches the library index.

#include "app/SearchRunner.h"

#include <QString>

namespace kivo::index {
class CacheIndexStore;
}

namespace kivo::app {

// A search of `query` over names and folder keywords of one collection.
SearchJob indexSearchJob(index::CacheIndexStore& store, const QString& query, const QString& collectionId);

} // namespace kivo::app
