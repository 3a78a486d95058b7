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
                    key.emplace(ix.text.view().substr(file.keyAt, file.keySize));
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

std::optional<CountedHits> CountedHits::find(index::CacheIndexStore& store, const SearchRequest& request,
    const std::string& query, MetadataInheritance& overrides, const index::CancelHandle& cancel)
{
    CountedHits out;
    // One state for every collection, so that a path has one id throughout.
    const index::SnapshotPtr state = store.current();
    const SearchFilters& filters = request.filters;
    index::FileBitmap seen;
    std::optional<std::string> key;
    for (const auto& g : request.groups) {
        auto hits = store.searchHits(
            index::lowerCase(query), g, request.includeFolderNames, request.namedOrder, cancel, state);
        if (cancel.isCancelled())
            return std::nullopt;
        if (hits.empty())
            continue;
        const index::CompactIndex& ix = *hits.index();
        seen.resize((ix.strings.size() + 63) / 64);
        const auto passes = [&](std::uint32_t id) {
            if ((seen[id >> 6] >> (id & 63)) & 1)
                return false; // an earlier collection's hit
            if (!filters.hasFilter())
                return true;
            const index::IndexedFile* file = ix.fileByID(id);
            if (!file)
                return passesFile(hits.record(id), filters, overrides);
            if (file->keyAt == index::kNoID)
                key.reset();
            else
                key.emplace(ix.text.view().substr(file->keyAt, file->keySize));
            return passesFile(ix.path(file->path), file->hasBpm ? std::optional(file->bpm) : std::nullopt,
                key, filters, overrides);
        };
        if (filters.hasFilter() || !out.m_parts.empty())
            hits.retain(passes);
        if (cancel.isCancelled())
            return std::nullopt;
        hits.forEach([&](std::uint32_t id) { seen[id >> 6] |= std::uint64_t(1) << (id & 63); });
        out.m_parts.push_back(std::move(hits));
    }
    if (filters.shuffleSeed) {
        // The shuffle depends only on the number of hits and the seed: the same permutation of the
        // ids as of the records.
        for (const auto& part : out.m_parts) {
            const auto ids = part.ids(0, part.size());
            out.m_shuffled.insert(out.m_shuffled.end(), ids.begin(), ids.end());
            if (cancel.isCancelled())
                return std::nullopt;
        }
        shuffleInPlace(out.m_shuffled, *filters.shuffleSeed);
        out.m_isShuffled = true;
    }
    return out;
}

std::size_t CountedHits::size() const
{
    std::size_t total = 0;
    for (const auto& part : m_parts)
        total += part.size();
    return total;
}

std::vector<index::FileInfo> CountedHits::records(std::size_t first, std::size_t count) const
{
    std::vector<index::FileInfo> out;
    if (m_isShuffled) {
        for (std::size_t i = first; i < m_shuffled.size() && i < first + count; ++i)
            out.push_back(m_parts.front().record(m_shuffled[i]));
        return out;
    }
    for (const auto& part : m_parts) {
        if (out.size() == count)
            break;
        if (first >= part.size()) {
            first -= part.size();
            continue;
        }
        auto more = part.records(first, count - out.size());
        first = 0;
        out.insert(out.end(), std::make_move_iterator(more.begin()), std::make_move_iterator(more.end()));
    }
    return out;
}

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
            } else if (!request.namedOrder.name.empty()) {
                auto hits = CountedHits::find(store, request, query, overrides, cancel);
                if (!hits || cancel.isCancelled())
                    return std::nullopt;
                results.files = hits->records(0, kFirstResultRecords);
                results.hits = std::make_shared<CountedHits>(std::move(*hits));
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
