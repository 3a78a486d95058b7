#pragma once

// What a search keeps with one published state of the index beyond its token postings: per collection
// and browser order, every file of the collection as ids in that order, worked out on first use. A
// state that changes only folder times keeps the ids of the one before it, and so keeps this too.

#include "index/CompactIndex.h"

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

// Safe to use from several threads at once.
class SearchCache {
public:
    const GroupSearchData& forGroup(const GroupID& group) const;

private:
    mutable std::mutex m_mutex;
    mutable std::map<GroupID, std::unique_ptr<GroupSearchData>> m_groups;
};

// The files of collection `group` whose names (and, with `includeKeywords`, folder keywords) match
// every query token, as a bitmap over path ids; empty when nothing matches or the collection has no
// name tokens.
FileBitmap matchBits(const CompactIndex& index, const GroupID& group,
    const std::vector<std::string>& queryTokens, bool includeKeywords);

// Every file id of the collection's token indexes, ascending.
std::vector<std::uint32_t> filesOfGroup(const CompactIndex& index, const GroupID& group);

} // namespace kivo::index
