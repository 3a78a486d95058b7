#pragma once

// What makes a search fast, derived from the token indexes and dropped whenever the maps change: per
// collection, its files numbered densely, and for names and for folder keywords a dictionary of the
// distinct tokens laid end to end in one buffer (a substring test over all of them is one memmem walk)
// with each token's files as a sorted id list. A query token becomes a bitmap of files; query tokens
// intersect by AND.

#include "index/IndexMaps.h"

#include <cstdint>
#include <map>
#include <memory>
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
        std::vector<const std::string*>& paths);
    // Sets the bit of every file that has a token containing `query`.
    void collect(std::string_view query, FileBitmap& bits) const;
    std::size_t memoryBytes() const;

private:
    std::string m_blob; // "\n" before every token
    std::vector<std::uint32_t> m_starts; // offset of each token's first character
    std::vector<std::uint32_t> m_postingStart; // one more than there are tokens
    std::vector<std::uint32_t> m_postings;
};

struct GroupSearchData {
    std::vector<const std::string*> paths; // id -> path, pointing into the token indexes' sets
    TokenDictionary names;
    TokenDictionary keywords;
    bool hasKeywords = false;
};

class SearchCache {
public:
    // Built on first use for a collection; none when the collection has no name tokens.
    const GroupSearchData* forGroup(const IndexMaps& maps, const GroupID& group);
    std::size_t memoryBytes() const;

private:
    std::map<GroupID, std::unique_ptr<GroupSearchData>> m_groups;
};

// The paths whose names (and, with `keywords`, folder keywords) match every query token; none when
// the query has no tokens. Unordered.
std::vector<const std::string*> matchQuery(
    const GroupSearchData& data, const std::vector<std::string>& queryTokens, bool includeKeywords);

} // namespace kivo::index
