#include "app/LibraryAccess.h"

#include "index/CacheIndexStore.h"
#include "organise/BrowserFileOrder.h"

namespace kivo::app {

SearchJob indexSearchJob(index::CacheIndexStore& store, const QString& query, const QString& collectionId,
    const organise::SortingOptions& sorting)
{
    return [&store, q = query.toStdString(), g = collectionId.toStdString(), sorting] {
        return store.search(q, g, true, [&sorting](std::vector<index::FileInfo>& files) {
            organise::sortInBrowserOrder(files, sorting);
        });
    };
}

} // namespace kivo::app
