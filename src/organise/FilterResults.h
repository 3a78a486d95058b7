#pragma once

// The result list of a search: the index's candidates for the query (or, with no query, every file
// or folder of the collections in scope), kept when they pass the filter set, in candidate order,
// then shuffled when the filter set asks for it. Pure apart from reading the index's published state;
// runs on any thread, and stops early when its request is cancelled.

#include "index/CacheIndexStore.h"
#include "index/MetadataOverrides.h"
#include "organise/AnalysedValues.h"
#include "organise/BrowserFileOrder.h"
#include "organise/LightweightNode.h"
#include "organise/SearchFilters.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kivo::organise {

class MetadataInheritance;

struct SearchRequest {
    std::string query;
    // The collections in scope, in the order their results are joined (a path found twice is kept once).
    std::vector<index::GroupID> groups;
    SearchFilters filters;
    bool includeFolderNames = true;
    // The browser's file order, for the files of a listing with no query (a query's hits come in the
    // search's own order).
    index::FileOrder order;
    // The same order, named, when it sorts files by their own tempos (no tempo overrides): a query's
    // hits then come counted (CountedHits), records made only for what is shown. An empty name: no
    // such order.
    index::NamedFileOrder namedOrder;
};

// How many records a query's hits come with; the rest are made as the list is scrolled to them.
inline constexpr std::size_t kFirstResultRecords = 200;

// A query's hits, every one counted, with records made only for the rows asked for: the hits of each
// collection in scope in turn (a file an earlier collection found left out), those the filters pass,
// shuffled when the filters ask for it. The same files in the same order as the records the search
// and the filters would make. Asked by one thread at a time.
class CountedHits {
public:
    // The hits of `query` (trimmed) for `request`, which gives a named order; none when `cancel` is set
    // before they are all counted.
    static std::optional<CountedHits> find(index::CacheIndexStore& store, const SearchRequest& request,
        const std::string& query, MetadataInheritance& overrides, const index::CancelHandle& cancel);

    std::size_t size() const;
    std::vector<index::FileInfo> records(std::size_t first, std::size_t count) const;

private:
    std::vector<index::SearchHits> m_parts;
    std::vector<std::uint32_t> m_shuffled; // every hit's id in the shuffled order, when shuffled
    bool m_isShuffled = false;
};

struct FilterResults {
    FilterMode mode = FilterMode::files;
    // The records of the files that passed, or the folders, in result order. With `hits`, only the
    // first of them.
    std::vector<index::FileInfo> files;
    std::vector<index::FolderHit> folders;
    // A query's hits, counted: the records after `files` made on demand.
    std::shared_ptr<CountedHits> hits;
    // Folder mode with neither a query nor a filter: no folder search ran.
    bool needsQueryForFolders = false;

    std::size_t size() const
    {
        return mode == FilterMode::files ? (hits ? hits->size() : files.size()) : folders.size();
    }
};

// "Type or add a filter to search folders"
inline constexpr char kFolderSearchPrompt[] = "Type or add a filter to search folders";

// The result list for `request`, the effective values taken from `overrides`; none when `cancel` was
// set before it was done.
std::optional<FilterResults> buildResults(index::CacheIndexStore& store, const SearchRequest& request,
    MetadataInheritance& overrides, const index::CancelHandle& cancel = {});

// The results as rows with their effective tempo and key text, each with a new identifier.
std::vector<LightweightNode> resultNodes(const FilterResults& results, MetadataInheritance& overrides);

// The browser's file order with each file sorting by its effective BPM (the user's overrides applied,
// then the tempos heard where nothing else gives one).
index::FileOrder effectiveFileOrder(const SortingOptions& sorting,
    std::shared_ptr<const index::MetadataOverrides> overrides,
    std::shared_ptr<const AnalysedValues> analysed = nullptr);

} // namespace kivo::organise
