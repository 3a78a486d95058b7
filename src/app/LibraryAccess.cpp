#include "app/LibraryAccess.h"

#include "index/CacheIndexStore.h"
#include "organise/BrowserFileOrder.h"
#include "organise/MetadataInheritance.h"

namespace kivo::app {

SearchJob indexSearchJob(index::CacheIndexStore& store, const QString& query, const QString& collectionId,
    const organise::SortingOptions& sorting, std::shared_ptr<const index::MetadataOverrides> overrides)
{
    return [&store, q = query.toStdString(), g = collectionId.toStdString(), sorting, overrides] {
        return store.search(q, g, true, [&](std::vector<index::FileInfo>& files) {
            if (!overrides || (overrides->bpmOverrides.empty() && overrides->clearedBPMPaths.empty())) {
                organise::sortInBrowserOrder(files, sorting);
                return;
            }
            organise::MetadataInheritance pass(overrides, nullptr);
            std::vector<std::optional<std::int64_t>> bpms;
            bpms.reserve(files.size());
            for (const auto& f : files)
                bpms.push_back(pass.effectiveBPM(f.path, f.bpm));
            organise::sortInBrowserOrder(files, bpms, sorting);
        });
    };
}

} // namespace kivo::app
