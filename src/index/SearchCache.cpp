#include "index/SearchCache.h"

#include <algorithm>

namespace kivo::index {

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
    std::call_once(ordering->built, [&] {
        ordering->ids = build();
        ordering->done = true;
    });
    return ordering->ids;
}

const std::vector<std::uint32_t>* GroupSearchData::ready(const std::string& name) const
{
    std::lock_guard lock(m_orderMutex);
    const auto found = m_orders.find(name);
    return found != m_orders.end() && found->second->done ? &found->second->ids : nullptr;
}

const GroupSearchData& SearchCache::forGroup(const GroupID& group) const
{
    std::lock_guard lock(m_mutex);
    auto& slot = m_groups[group];
    if (!slot)
        slot = std::make_unique<GroupSearchData>();
    return *slot;
}

OrderRanks& SearchCache::ranks(const std::string& orderName) const
{
    std::lock_guard lock(m_mutex);
    auto& slot = m_ranks[orderName];
    if (!slot)
        slot = std::make_unique<OrderRanks>();
    return *slot;
}

FileBitmap matchBits(const CompactIndex& index, const GroupID& group,
    const std::vector<std::string>& queryTokens, bool includeKeywords)
{
    const TokenPostings* names = index.namesOf(group);
    if (queryTokens.empty() || !names)
        return {};
    const TokenPostings* keywords = includeKeywords ? index.keywordsOf(group) : nullptr;
    const std::size_t words = (index.strings.size() + 63) / 64;
    FileBitmap result, candidates(words);
    for (const auto& query : queryTokens) {
        std::fill(candidates.begin(), candidates.end(), 0);
        names->collect(query, candidates);
        if (keywords)
            keywords->collect(query, candidates);
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

std::vector<std::uint32_t> filesOfGroup(const CompactIndex& index, const GroupID& group)
{
    FileBitmap bits((index.strings.size() + 63) / 64);
    for (const TokenPostings* tokens : { index.namesOf(group), index.keywordsOf(group) }) {
        if (!tokens)
            continue;
        tokens->forEach([&](std::string_view, std::span<const std::uint32_t> ids) {
            for (const auto id : ids)
                bits[id >> 6] |= std::uint64_t(1) << (id & 63);
        });
    }
    std::vector<std::uint32_t> ids;
    for (std::size_t w = 0; w < bits.size(); ++w)
        for (std::uint64_t word = bits[w]; word; word &= word - 1)
            ids.push_back(std::uint32_t(w * 64 + std::size_t(__builtin_ctzll(word))));
    return ids;
}

} // namespace kivo::index
