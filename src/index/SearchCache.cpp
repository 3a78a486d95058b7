#include "index/SearchCache.h"

#include <algorithm>
#include <cstring>

namespace kivo::index {

void TokenDictionary::build(const TokenIndex& index, std::unordered_map<std::string_view, std::uint32_t>& ids,
    std::vector<std::string_view>& paths)
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
                paths.push_back(path);
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

std::vector<std::uint32_t> TokenDictionary::exactly(std::string_view token) const
{
    // Tokens sit sorted in the buffer (see build), so a binary search over their starts finds one.
    const auto tokenAt = [&](std::size_t i) {
        const std::size_t end = i + 1 < m_starts.size() ? m_starts[i + 1] - 1 : m_blob.size();
        return std::string_view(m_blob).substr(m_starts[i], end - m_starts[i]);
    };
    std::size_t low = 0, high = m_starts.size();
    while (low < high) {
        const std::size_t mid = (low + high) / 2;
        if (tokenAt(mid) < token)
            low = mid + 1;
        else
            high = mid;
    }
    if (low == m_starts.size() || tokenAt(low) != token)
        return {};
    return std::vector<std::uint32_t>(
        m_postings.begin() + m_postingStart[low], m_postings.begin() + m_postingStart[low + 1]);
}

const std::vector<std::uint32_t>& GroupSearchData::inOrder(
    const std::string& name, const std::function<std::vector<std::uint32_t>()>& build) const
{
    Ordering* ordering = nullptr;
    {
        std::lock_guard lock(m_orderMutex);
        auto& slot = m_orders[name];
        if (!slot)
            slot = std::make_unique<Ordering>();
        ordering = slot.get();
    }
    std::call_once(ordering->built, [&] { ordering->ids = build(); });
    return ordering->ids;
}

std::size_t TokenDictionary::memoryBytes() const
{
    return m_blob.capacity() + 4 * (m_starts.capacity() + m_postingStart.capacity() + m_postings.capacity());
}

const GroupSearchData* SearchCache::forGroup(const IndexMaps& maps, const GroupID& group) const
{
    Entry* entry = nullptr;
    {
        std::lock_guard lock(m_mutex);
        auto& slot = m_groups[group];
        if (!slot)
            slot = std::make_unique<Entry>();
        entry = slot.get();
    }
    std::call_once(entry->built, [&] { entry->data = buildGroupSearchData(maps, group); });
    return entry->data.get();
}

std::unique_ptr<GroupSearchData> buildGroupSearchData(const IndexMaps& maps, const GroupID& group)
{
    const auto names = maps.searchIndex.find(group);
    if (names == maps.searchIndex.end())
        return nullptr;
    auto data = std::make_unique<GroupSearchData>();
    std::unordered_map<std::string_view, std::uint32_t> ids;
    ids.reserve(maps.fileIndex.size());
    data->paths.reserve(maps.fileIndex.size());
    data->names.build(names->second, ids, data->paths);
    if (const auto keywords = maps.keywordIndex.find(group); keywords != maps.keywordIndex.end()) {
        data->keywords.build(keywords->second, ids, data->paths);
        data->hasKeywords = true;
    }
    // The views still point into the maps: copy the paths into one buffer of the dictionary's own.
    std::size_t bytes = 0;
    for (const auto path : data->paths)
        bytes += path.size();
    data->pathText.reserve(bytes);
    for (const auto path : data->paths)
        data->pathText += path;
    std::size_t at = 0;
    for (auto& path : data->paths) {
        const auto size = path.size();
        path = std::string_view(data->pathText).substr(at, size);
        at += size;
    }
    data->paths.shrink_to_fit();
    return data;
}

std::size_t SearchCache::memoryBytes() const
{
    std::lock_guard lock(m_mutex);
    std::size_t total = 0;
    for (const auto& [group, entry] : m_groups)
        if (const auto* data = entry->data.get())
            total += data->pathText.capacity() + data->paths.capacity() * sizeof(std::string_view)
                + data->names.memoryBytes() + data->keywords.memoryBytes();
    return total;
}

FileBitmap matchBits(
    const GroupSearchData& data, const std::vector<std::string>& queryTokens, bool includeKeywords)
{
    if (queryTokens.empty())
        return {};
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
            return {};
    }
    return result;
}

std::vector<std::string_view> matchQuery(
    const GroupSearchData& data, const std::vector<std::string>& queryTokens, bool includeKeywords)
{
    std::vector<std::string_view> out;
    const FileBitmap result = matchBits(data, queryTokens, includeKeywords);
    for (std::size_t w = 0; w < result.size(); ++w) {
        for (std::uint64_t bits = result[w]; bits; bits &= bits - 1)
            out.push_back(data.paths[w * 64 + std::size_t(__builtin_ctzll(bits))]);
    }
    return out;
}

} // namespace kivo::index
