#include "app/LibraryAccess.h"

#include "index/CacheIndexStore.h"

namespace kivo::app {

SearchJob indexSearchJob(index::CacheIndexStore& store, const QString& query, const QString& collectionId)
{
    return [&store, q = query.toStdString(), g = collectionId.toStdString()] {
        return store.search(q, g, true);
    };
}

} // namespace kivo::app
