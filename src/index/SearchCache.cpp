#include "index/SearchCache.h"

#include <algorithm>
#include <cstring>

namespace kivo::index {

void TokenDictionary::build(const TokenIndex& index, std::unordered_map<std::string_view, std::uint32_t>& ids,
    std::vector<const std::string*>& paths)
{
    std::vector<const std::pair<const std::string, PathSet>*> entries;
    entries.reserve(index.size());
    std::size_t blobSize = 0, postings = 0;
    for (const auto& entry : index) {
        entries.push_back(&entry);
        blobSize += entry.first.size() + 1;
        postings += entry.second.size();
    }
    // Sorted so similar tokens sit together; the order is otherwise free.
    std::sort(entries.begin(), entries.end(), [](auto* a, auto* b) { return a->first < b->first; });
    m_blob.reserve(blobSize);
    m_starts.reserve(entries.size());
    m_postingStart.reserve(entries.size() + 1);
    m_postings.reserve(postings);
    for (const auto* entry : entries) {
        m_blob += '\n';
        m_starts.push_back(std::uint32_t(m_blob.size()));
        m_blob += entry->first;
        m_postingStart.push_back(std::uint32_t(m_postings.size()));
        const auto first = m_postings.size();
        for (const auto& path : entry->second) {
            const auto [id, isNew] = ids.try_emplace(path, std::uint32_t(paths.size()));
            if (isNew)
                paths.push_back(&path);
            m_postings.push_back(id->second);
        }
        std::sort(m_postings.begin() + std::ptrdiff_t(first), m_postings.end());
    }
    m_postingStart.push_back(std::uint32_t(m_postings.size()));
}

void TokenDictionary::collect(std::string_view query, FileBitmap& bits) const
{
    if (query.empty() || m_blob.empty())
        return;
    const char* const begin = m_blob.data();
    const char* const end = begin + m_blob.size();
    const char* at = begin;
    while (at < end) {
        const void* hit = ::memmem(at, std::size_t(end - at), query.data(), query.size());
        if (!hit)
            return;
        const auto offset = std::uint32_t(static_cast<const char*>(hit) - begin);
        // Tokens hold no "\n", so a hit lies inside one token: the last that starts at or before it.
        const auto token
            = std::size_t(std::upper_bound(m_starts.begin(), m_starts.end(), offset) - m_starts.begin()) - 1;
        for (auto i = m_postingStart[token]; i < m_postingStart[token + 1]; ++i)
            bits[m_postings[i] >> 6] |= std::uint64_t(1) << (m_postings[i] & 63);
        at = token + 1 < m_starts.size() ? begin + m_starts[token + 1] : end;
    }
}

std::size_t TokenDictionary::memoryBytes() const
{
    return m_blob.capacity() + 4 * (m_starts.capacity() + m_postingStart.capacity() + m_postings.capacity());
}

const GroupSearchData* SearchCache::forGroup(const IndexMaps& maps, const GroupID& group)
{
    if (const auto found = m_groups.find(group); found != m_groups.end())
        return found->second.get();
    const auto names = maps.searchIndex.find(group);
    if (names == maps.searchIndex.end())
        return m_groups.emplace(group, nullptr).first->second.get();
    auto data = std::make_unique<GroupSearchData>();
    std::unordered_map<std::string_view, std::uint32_t> ids;
    ids.reserve(maps.fileIndex.size());
    data->paths.reserve(maps.fileIndex.size());
    data->names.build(names->second, ids, data->paths);
    if (const auto keywords = maps.keywordIndex.find(group); keywords != maps.keywordIndex.end()) {
        data->keywords.build(keywords->second, ids, data->paths);
        data->hasKeywords = true;
    }
    data->paths.shrink_to_fit();
    return m_groups.emplace(group, std::move(data)).first->second.get();
}

std::size_t SearchCache::memoryBytes() const
{
    std::size_t total = 0;
    for (const auto& [group, data] : m_groups)
        if (data)
            total += data->paths.capacity() * sizeof(void*) + data->names.memoryBytes()
                + data->keywords.memoryBytes();
    return total;
}

std::vector<const std::string*> matchQuery(
    const GroupSearchData& data, const std::vector<std::string>& queryTokens, bool includeKeywords)
{
    std::vector<const std::string*> out;
    if (queryTokens.empty())
        return out;
    const std::size_t words = (data.paths.size() + 63) / 64;
    FileBitmap result, candidates(words);
    for (const auto& query : queryTokens) {
        std::fill(candidates.begin(), candidates.end(), 0);
        data.names.collect(query, candidates);
        if (includeKeywords && data.hasKeywords)
            data.keywords.collect(query, candidates);
        bool any = false;
        if (result.empty()) {
            result.swap(candidates);
            candidates.assign(words, 0);
            any = std::any_of(result.begin(), result.end(), [](std::uint64_t w) { return w != 0; });
        } else {
            for (std::size_t w = 0; w < words; ++w)
                any |= (result[w] &= candidates[w]) != 0;
        }
        if (!any)
            return out;
    }
    for (std::size_t w = 0; w < words; ++w) {
        for (std::uint64_t bits = result[w]; bits; bits &= bits - 1)
            out.push_back(data.paths[w * 64 + std::size_t(__builtin_ctzll(bits))]);
    }
    return out;
}

} // namespace kivo::index
