#pragma once

// What makes a search fast, derived from the token indexes of one published state of the index and kept
// with it: per collection, its files numbered densely (their paths copied once into the dictionary, so
// it outlives the maps it was built from when a later state changes nothing it depends on), and for names and
// for folder keywords a dictionary of the distinct tokens laid end to end in one buffer (a substring test
// over all of them is one memmem walk) with each token's files as a sorted id list. A query token becomes a
// bitmap of files; query tokens intersect by AND.

#include "index/IndexMaps.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kivo::index {

using FileBitmap = std::vector<std::uint64_t>;

class TokenDictionary {
public:
    // Numbers files as it meets them: `ids` and `paths` are shared by a collection's dictionaries.
    void build(const TokenIndex& index, std::unordered_map<std::string_view, std::uint32_t>& ids,
        std::vector<std::string_view>& paths);
    // Sets the bit of every file that has a token containing `query`.
    void collect(std::string_view query, FileBitmap& bits) const;
    // The files whose token is exactly `token` (sorted ids), empty when none.
    std::vector<std::uint32_t> exactly(std::string_view token) const;
    std::size_t memoryBytes() const;

private:
    std::string m_blob; // "\n" before every token
    std::vector<std::uint32_t> m_starts; // offset of each token's first character
    std::vector<std::uint32_t> m_postingStart; // one more than there are tokens
    std::vector<std::uint32_t> m_postings;
};

struct GroupSearchData {
    std::string pathText; // every path of the collection, end to end
    std::vector<std::string_view> paths; // id -> path, into pathText once built
    TokenDictionary names;
    TokenDictionary keywords;
    bool hasKeywords = false;

    // The ids in one browser order, by the order's name; built once, on first use.
    const std::vector<std::uint32_t>& inOrder(
        const std::string& name, const std::function<std::vector<std::uint32_t>()>& build) const;

private:
    struct Ordering {
        std::once_flag built;
        std::vector<std::uint32_t> ids;
    };
    mutable std::mutex m_orderMutex;
    mutable std::map<std::string, std::unique_ptr<Ordering>> m_orders;
};

// Safe to use from several threads at once: a collection's dictionaries are built once, by the first
// thread that asks; others asking for the same collection meanwhile wait for that build only.
class SearchCache {
public:
    // Built on first use for a collection; none when the collection has no name tokens.
    const GroupSearchData* forGroup(const IndexMaps& maps, const GroupID& group) const;
    std::size_t memoryBytes() const;

private:
    struct Entry {
        std::once_flag built;
        std::unique_ptr<GroupSearchData> data;
    };
    mutable std::mutex m_mutex;
    mutable std::map<GroupID, std::unique_ptr<Entry>> m_groups;
};

// A collection's dictionaries built afresh; none when it has no name tokens.
std::unique_ptr<GroupSearchData> buildGroupSearchData(const IndexMaps& maps, const GroupID& group);

// The files whose names (and, with `includeKeywords`, folder keywords) match every query token, as a
// bitmap over the collection's ids; empty when nothing matches.
FileBitmap matchBits(
    const GroupSearchData& data, const std::vector<std::string>& queryTokens, bool includeKeywords);

// The paths whose names (and, with `keywords`, folder keywords) match every query token; none when
// the query has no tokens. Unordered.
std::vector<std::string_view> matchQuery(
    const GroupSearchData& data, const std::vector<std::string>& queryTokens, bool includeKeywords);

} // namespace kivo::index
