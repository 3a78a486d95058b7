#include "app/LibraryAccess.h"

#include "index/CacheIndexStore.h"
#include "organise/MetadataInheritance.h"

namespace kivo::app {

SearchJob indexSearchJob(std::shared_ptr<index::CacheIndexStore> store, organise::SearchRequest request,
    const organise::SortingOptions& sorting, std::shared_ptr<const index::MetadataOverrides> overrides,
    std::shared_ptr<const organise::TagMaps> tags, std::shared_ptr<const organise::AnalysedValues> analysed)
{
    if (!overrides)
        overrides = std::make_shared<index::MetadataOverrides>();
    if (!tags)
        tags = std::make_shared<organise::TagMaps>();
    request.order = organise::effectiveFileOrder(sorting, overrides, analysed);
    // With no tempo overrides or heard tempos every file sorts by its own tempo, and a query's hits
    // are ordered by the index itself, records made only for the rows shown.
    if (overrides->bpmOverrides.empty() && overrides->clearedBPMPaths.empty()
        && (!analysed || analysed->folders.empty()))
        request.namedOrder = organise::namedBrowserOrder(sorting);
    return [store = std::move(store), request = std::move(request), overrides, tags, analysed](
               const index::CancelHandle& cancel) {
        // The memo of inherited values lives for this one pass.
        organise::MetadataInheritance pass(overrides, tags);
        pass.useAnalysed(analysed);
        return organise::buildResults(*store, request, pass, cancel);
    };
}

} // namespace kivo::app
