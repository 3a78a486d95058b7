#include "organise/FilterResults.h"

#include "index/CompactIndex.h"
#include "organise/MetadataInheritance.h"
#include "organise/Shuffle.h"

#include <unordered_set>

namespace kivo::organise {

namespace {

bool inScope(std::string_view path, const std::vector<std::string>& roots)
{
    for (const auto& root : roots)
        if (index::isUnderRoot(path, root))
            return true;
    return false;
}

// Every file of one collection that passes, walking the published state: a record is made only for
// the files that pass.
bool passingFiles(index::CacheIndexStore& store, const index::GroupID& g, const SearchRequest& request,
    MetadataInheritance& overrides, const index::CancelHandle& cancel, std::vector<index::FileInfo>& out)
{
    const bool everything = !request.filters.hasFilter();
    const index::SnapshotPtr state = store.current();
    const index::CompactIndex& ix = state->index;
    const auto roots = ix.roots.find(g);
    if (roots == ix.roots.end())
        return true;
    std::optional<std::string> key;
    for (std::size_t i = 0; i < ix.folders.size(); ++i) {
        if (cancel.isCancelled())
            return false;
        const index::IndexedFolder& folder = ix.folders[i];
        if (folder.fileCount == 0 || !ix.isCurrent(i) || !inScope(ix.path(folder.path), roots->second))
            continue;
        for (const index::IndexedFile& file : ix.filesOf(folder)) {
            if (!everything) {
                if (file.keyAt == index::kNoID)
                    key.reset();
                else
                    key.emplace(std::string_view(ix.text).substr(file.keyAt, file.keySize));
                if (!passesFile(ix.path(file.path), file.hasBpm ? std::optional(file.bpm) : std::nullopt, key,
                        request.filters, overrides))
                    continue;
            }
            out.push_back(ix.fileInfo(file));
        }
    }
    return true;
}

} // namespace

std::optional<FilterResults> buildResults(index::CacheIndexStore& store, const SearchRequest& request,
    MetadataInheritance& overrides, const index::CancelHandle& cancel)
{
    FilterResults results;
    const SearchFilters& filters = request.filters;
    results.mode = filters.mode;
    const std::string query = [&] {
        const auto& q = request.query;
        const auto first = q.find_first_not_of(" \t\r\n\f\v");
        if (first == std::string::npos)
            return std::string();
        return q.substr(first, q.find_last_not_of(" \t\r\n\f\v") - first + 1);
    }();
    const bool several = request.groups.size() > 1;
    std::unordered_set<std::string> seen;

    if (filters.mode == FilterMode::files) {
        for (const auto& g : request.groups) {
            if (cancel.isCancelled())
                return std::nullopt;
            std::vector<index::FileInfo> part;
            if (query.empty()) {
                if (!passingFiles(store, g, request, overrides, cancel, part))
                    return std::nullopt;
                // Only what passed is ordered: the order of a filtered listing costs its own size.
                if (request.order)
                    request.order(part);
            } else if (!several && !filters.hasFilter() && !filters.shuffleSeed
                && !request.namedOrder.name.empty()) {
                auto hits = store.searchHits(
                    index::lowerCase(query), g, request.includeFolderNames, request.namedOrder, cancel);
                if (cancel.isCancelled())
                    return std::nullopt;
                results.files = hits.records(0, kFirstResultRecords);
                results.hits = std::make_shared<index::SearchHits>(std::move(hits));
                return results;
            } else {
                part = store.search(index::lowerCase(query), g, request.includeFolderNames, request.order);
                if (cancel.isCancelled())
                    return std::nullopt;
                if (filters.hasFilter())
                    std::erase_if(
                        part, [&](const index::FileInfo& f) { return !passesFile(f, filters, overrides); });
            }
            if (!several) {
                results.files = std::move(part);
                break;
            }
            for (auto& file : part)
                if (seen.insert(file.path).second)
                    results.files.push_back(std::move(file));
        }
    } else {
        if (query.empty() && !filters.hasFilter()) {
            results.needsQueryForFolders = true;
            return results;
        }
        for (const auto& g : request.groups) {
            if (cancel.isCancelled())
                return std::nullopt;
            auto part = query.empty() ? store.allFolders(g) : store.searchFolders(query, g);
            if (cancel.isCancelled())
                return std::nullopt;
            for (auto& hit : part)
                if (passesFolder(hit.path, hit.name, filters, overrides)
                    && (!several || seen.insert(hit.path).second))
                    results.folders.push_back(std::move(hit));
        }
    }
    if (cancel.isCancelled())
        return std::nullopt;
    if (filters.shuffleSeed) {
        if (filters.mode == FilterMode::files)
            shuffleInPlace(results.files, *filters.shuffleSeed);
        else
            shuffleInPlace(results.folders, *filters.shuffleSeed);
    }
    return results;
}

std::vector<LightweightNode> resultNodes(const FilterResults& results, MetadataInheritance& overrides)
{
    std::vector<LightweightNode> nodes;
    nodes.reserve(results.size());
    if (results.mode == FilterMode::files) {
        for (const auto& f : results.files) {
            LightweightNode node = fileNode(f);
            node.bpm = overrides.effectiveBPM(f.path, f.bpm);
            node.key = overrides.effectiveKey(f.path, f.key);
            nodes.push_back(std::move(node));
        }
    } else {
        for (const auto& hit : results.folders) {
            LightweightNode node = folderNode(hit.path);
            node.bpm = overrides.effectiveBPM(hit.path, folderOwnBPM(hit.name));
            node.key = overrides.effectiveKey(hit.path, folderOwnKey(hit.name));
            nodes.push_back(std::move(node));
        }
    }
    return nodes;
}

index::FileOrder effectiveFileOrder(const SortingOptions& sorting,
    std::shared_ptr<const index::MetadataOverrides> overrides, std::shared_ptr<const AnalysedValues> analysed)
{
    if (analysed && analysed->folders.empty())
        analysed.reset();
    return [sorting, overrides, analysed](std::vector<index::FileInfo>& files) {
        if (!analysed
            && (!overrides || (overrides->bpmOverrides.empty() && overrides->clearedBPMPaths.empty()))) {
            sortInBrowserOrder(files, sorting);
            return;
        }
        MetadataInheritance pass(overrides, nullptr);
        pass.useAnalysed(analysed);
        std::vector<std::optional<std::int64_t>> bpms;
        bpms.reserve(files.size());
        for (const auto& f : files)
            bpms.push_back(pass.resolveBPM(f.path, f.bpm).value);
        sortInBrowserOrder(files, bpms, sorting);
    };
}

} // namespace kivo::organise
