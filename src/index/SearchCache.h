#pragma once

// What a search keeps with one published state of the index beyond its token postings, worked out on
// first use: per browser order given with its leading key, the ranks that let a search compare files
// as integers; per collection and order given as a sort alone, every file of the collection as ids in
// that order. A state that changes only folder times keeps the ids of the one before it, and so keeps
// this too.

#include "index/CompactIndex.h"

#include <array>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kivo::index {

struct GroupSearchData {
    // The ids in one browser order, by the order's name; built once, on first use.
    const std::vector<std::uint32_t>& inOrder(
        const std::string& name, const std::function<std::vector<std::uint32_t>()>& build) const;
    // The ids in that order when they have been worked out; none otherwise (never waits).
    const std::vector<std::uint32_t>* ready(const std::string& name) const;

private:
    struct Ordering {
        std::once_flag built;
        std::atomic<bool> done { false };
        std::vector<std::uint32_t> ids;
    };
    mutable std::mutex m_orderMutex;
    mutable std::map<std::string, std::unique_ptr<Ordering>> m_orders;
};

// One browser order over every file record of a state (the order of a file does not depend on the
// collection asking). Filled once each, under the flags; read only after them.
struct OrderRanks {
    // Each file's leading key as its place among the distinct leading keys of the state (`keys`,
    // ascending). An order that ignores names has a place per sort class, worked out on the first
    // search at the cost of a few hundred keys; one that reads names has a place per path id, worked
    // out from every file.
    std::once_flag leadBuilt;
    bool byClass = false;
    std::vector<std::uint32_t> classLead; // by sort class
    std::vector<std::uint32_t> lead; // by path id, kNoID for an id without a record
    std::vector<std::array<std::int64_t, 5>> keys;
    // kNoID for an id without a record.
    std::uint32_t leadOf(const CompactIndex& index, std::uint32_t id) const
    {
        if (!byClass)
            return lead[id];
        const std::uint16_t sortClass = index.sortClassOf[id];
        return sortClass == SortClasses::kNone ? kNoID : classLead[sortClass];
    }

    // Per path id: its place in the whole order (leading key, natural name order, id), kNoID without
    // a record; the ids in that order; the ids with a record. Takes seconds at a million files, so it
    // is worked out in the background and used once done.
    std::atomic<bool> wholeQueued { false };
    std::atomic<bool> wholeDone { false };
    std::vector<std::uint32_t> rank;
    std::vector<std::uint32_t> byRank;
    FileBitmap recorded;
    // Until then, the hits the latest search put in order and the first of them in order: typing one
    // more letter narrows the hits, and those of the first that remain are the new first.
    struct Ordered {
        FileBitmap hits;
        std::vector<std::uint32_t> first;
    };
    std::mutex lastMutex;
    std::shared_ptr<const Ordered> last;
};

// Safe to use from several threads at once.
class SearchCache {
public:
    const GroupSearchData& forGroup(const GroupID& group) const;
    OrderRanks& ranks(const std::string& orderName) const;

private:
    mutable std::mutex m_mutex;
    mutable std::map<GroupID, std::unique_ptr<GroupSearchData>> m_groups;
    mutable std::map<std::string, std::unique_ptr<OrderRanks>> m_ranks;
};

// The files of collection `group` whose names (and, with `includeKeywords`, folder keywords) match
// every query token, as a bitmap over path ids; empty when nothing matches or the collection has no
// name tokens.
FileBitmap matchBits(const CompactIndex& index, const GroupID& group,
    const std::vector<std::string>& queryTokens, bool includeKeywords);

// Every file id of the collection's token indexes, ascending.
std::vector<std::uint32_t> filesOfGroup(const CompactIndex& index, const GroupID& group);

} // namespace kivo::index
