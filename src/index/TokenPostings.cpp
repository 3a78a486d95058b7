#include "index/TokenPostings.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <stdexcept>

namespace kivo::index {

namespace {

std::uint32_t checkedOffset(std::size_t size)
{
    if (size >= 0xFFFFFFFF)
        throw std::length_error("the token index has outgrown its 32-bit offsets");
    return std::uint32_t(size);
}

std::vector<std::uint32_t> sortedIDs(std::vector<std::uint32_t> ids)
{
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    return ids;
}

void setBit(FileBitmap& bits, std::uint32_t id)
{
    bits[id >> 6] |= std::uint64_t(1) << (id & 63);
}

} // namespace

TokenPostings::Lists TokenPostings::Lists::build(TokenEntries entries, bool counted)
{
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    Lists out;
    std::size_t blob = 0, postings = 0;
    for (const auto& [token, ids] : entries) {
        blob += token.size() + 1;
        postings += ids.size();
    }
    out.blob.reserve(blob);
    out.starts.reserve(entries.size());
    out.postingStart.reserve(entries.size() + 1);
    out.ids.reserve(postings);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const bool repeated = i > 0 && entries[i].first == entries[i - 1].first;
        if (!repeated) {
            out.blob += '\n';
            out.starts.push_back(checkedOffset(out.blob.size()));
            out.blob += entries[i].first;
            out.postingStart.push_back(checkedOffset(out.ids.size()));
        }
        const auto& ids = entries[i].second;
        out.ids.insert(out.ids.end(), ids.begin(), ids.end());
        const bool lastOfToken = i + 1 == entries.size() || entries[i + 1].first != entries[i].first;
        if (lastOfToken) {
            const auto first = out.ids.begin() + std::ptrdiff_t(out.postingStart.back());
            if (!std::is_sorted(first, out.ids.end()))
                std::sort(first, out.ids.end());
            out.ids.erase(std::unique(first, out.ids.end()), out.ids.end());
        }
    }
    out.postingStart.push_back(checkedOffset(out.ids.size()));
    const std::size_t ids
        = out.ids.empty() ? 0 : std::size_t(*std::max_element(out.ids.begin(), out.ids.end())) + 1;
    if (counted)
        out.tokenCounts.assign(ids, 0);
    for (std::size_t t = 0; t < out.size(); ++t) {
        const auto list = out.postings(t);
        if (counted)
            for (const auto id : list)
                out.tokenCounts[id] += out.tokenCounts[id] < 255;
        if (list.size() * 32 >= ids && list.size() >= 1024) {
            FileBitmap bits((ids + 63) / 64);
            for (const auto id : list)
                setBit(bits, id);
            out.denseTokens.push_back(std::uint32_t(t));
            out.denseBits.push_back(std::move(bits));
        }
    }
    return out;
}

std::string_view TokenPostings::Lists::token(std::size_t i) const
{
    const std::size_t end = i + 1 < starts.size() ? starts[i + 1] - 1 : blob.size();
    return std::string_view(blob).substr(starts[i], end - starts[i]);
}

std::size_t TokenPostings::Lists::find(std::string_view wanted) const
{
    std::size_t low = 0, high = size();
    while (low < high) {
        const std::size_t mid = (low + high) / 2;
        if (token(mid) < wanted)
            low = mid + 1;
        else
            high = mid;
    }
    return low < size() && token(low) == wanted ? low : size();
}

std::size_t TokenPostings::Lists::memoryBytes() const
{
    std::size_t dense = 4 * denseTokens.capacity();
    for (const auto& bits : denseBits)
        dense += 8 * bits.capacity();
    return blob.capacity() + 4 * (starts.capacity() + postingStart.capacity() + ids.capacity()) + dense
        + tokenCounts.capacity();
}

const TokenPostings::Delta* TokenPostings::Changes::deltaOf(std::size_t token) const
{
    const auto at = std::lower_bound(changed.begin(), changed.end(), token,
        [](const auto& entry, std::size_t t) { return entry.first < t; });
    return at != changed.end() && at->first == token ? at->second.get() : nullptr;
}

TokenPostings::TokenPostings()
    : m_lists(std::make_shared<const Lists>())
{
}

TokenPostings TokenPostings::build(TokenEntries entries)
{
    TokenPostings out;
    out.m_lists = std::make_shared<const Lists>(Lists::build(std::move(entries)));
    return out;
}

std::span<const std::uint32_t> TokenPostings::current(
    std::size_t t, std::vector<std::uint32_t>& scratch) const
{
    const auto base = m_lists->postings(t);
    const Delta* delta = m_changes ? m_changes->deltaOf(t) : nullptr;
    if (!delta)
        return base;
    std::vector<std::uint32_t> kept;
    kept.reserve(base.size());
    std::set_difference(
        base.begin(), base.end(), delta->removed.begin(), delta->removed.end(), std::back_inserter(kept));
    scratch.clear();
    scratch.reserve(kept.size() + delta->added.size());
    std::merge(
        kept.begin(), kept.end(), delta->added.begin(), delta->added.end(), std::back_inserter(scratch));
    return scratch;
}

std::size_t TokenPostings::tokenCount() const
{
    std::size_t count = 0;
    forEach([&](std::string_view, std::span<const std::uint32_t>) { ++count; });
    return count;
}

TokenEntries TokenPostings::entries() const
{
    TokenEntries out;
    forEach([&](std::string_view token, std::span<const std::uint32_t> ids) {
        out.emplace_back(std::string(token), std::vector<std::uint32_t>(ids.begin(), ids.end()));
    });
    return out;
}

TokenPostings TokenPostings::patched(const TokenChanges& changes) const
{
    const Lists& lists = *m_lists;
    Changes next = m_changes ? *m_changes : Changes();
    // Counts are kept as they are by id; a change moves each id's count by the tokens it gained or lost.
    std::map<std::uint32_t, int> moved;
    TokenEntries added;
    std::map<std::string_view, std::vector<std::uint32_t>> addedNow;
    bool countsSaturated = false;
    for (const auto& [token, change] : changes) {
        const auto removed = sortedIDs(change.removed);
        const auto gained = sortedIDs(change.added);
        // What the token loses (held and removed) and gains (not held once the removals are made).
        std::vector<std::uint32_t> lost, won;
        const std::size_t t = lists.find(token);
        if (t < lists.size()) {
            // Only the changed ids are looked up in the laid-out list: the cost is the change's.
            const auto base = lists.postings(t);
            const auto changedAt = std::lower_bound(next.changed.begin(), next.changed.end(), t,
                [](const auto& entry, std::size_t i) { return entry.first < i; });
            const bool hadDelta = changedAt != next.changed.end() && changedAt->first == t;
            Delta delta = hadDelta ? *changedAt->second : Delta();
            const auto has = [](const auto& sorted, std::uint32_t id) {
                return std::binary_search(sorted.begin(), sorted.end(), id);
            };
            const auto holds = [&](std::uint32_t id) {
                return has(base, id) ? !has(delta.removed, id) : has(delta.added, id);
            };
            for (const auto id : removed)
                if (holds(id))
                    lost.push_back(id);
            for (const auto id : gained)
                if (!holds(id) || has(removed, id))
                    won.push_back(id);
            if (lost.empty() && won.empty())
                continue;
            // An id both lost and won is held in the end.
            std::vector<std::uint32_t> dropped, inBase, outOfBase;
            std::set_difference(
                lost.begin(), lost.end(), won.begin(), won.end(), std::back_inserter(dropped));
            const auto split = [&](const std::vector<std::uint32_t>& ids, std::vector<std::uint32_t>& of,
                                   std::vector<std::uint32_t>& notOf) {
                of.clear();
                notOf.clear();
                for (const auto id : ids)
                    (has(base, id) ? of : notOf).push_back(id);
            };
            const auto unite = [](std::vector<std::uint32_t>& into, const std::vector<std::uint32_t>& ids) {
                std::vector<std::uint32_t> out;
                std::set_union(into.begin(), into.end(), ids.begin(), ids.end(), std::back_inserter(out));
                into.swap(out);
            };
            const auto subtract
                = [](std::vector<std::uint32_t>& from, const std::vector<std::uint32_t>& ids) {
                      std::vector<std::uint32_t> out;
                      std::set_difference(
                          from.begin(), from.end(), ids.begin(), ids.end(), std::back_inserter(out));
                      from.swap(out);
                  };
            split(won, inBase, outOfBase);
            subtract(delta.removed, inBase);
            unite(delta.added, outOfBase);
            split(dropped, inBase, outOfBase);
            unite(delta.removed, inBase);
            subtract(delta.added, outOfBase);
            if (delta.added.empty() && delta.removed.empty()) {
                if (hadDelta)
                    next.changed.erase(changedAt);
            } else {
                auto shared = std::make_shared<const Delta>(std::move(delta));
                if (hadDelta)
                    changedAt->second = std::move(shared);
                else
                    next.changed.insert(changedAt, { std::uint32_t(t), std::move(shared) });
            }
        } else {
            std::span<const std::uint32_t> before;
            if (const std::size_t a = next.added.find(token); a < next.added.size())
                before = next.added.postings(a);
            std::vector<std::uint32_t> kept, ids;
            std::set_difference(
                before.begin(), before.end(), removed.begin(), removed.end(), std::back_inserter(kept));
            std::set_union(kept.begin(), kept.end(), gained.begin(), gained.end(), std::back_inserter(ids));
            std::set_difference(
                before.begin(), before.end(), kept.begin(), kept.end(), std::back_inserter(lost));
            std::set_difference(ids.begin(), ids.end(), kept.begin(), kept.end(), std::back_inserter(won));
            if (lost.empty() && won.empty())
                continue;
            addedNow[token] = std::move(ids);
        }
        next.weight += lost.size() + won.size();
        for (const auto id : lost)
            --moved[id];
        for (const auto id : won)
            ++moved[id];
    }
    // The added tokens are laid out again with this patch's: they are few, as the layer is small.
    if (!addedNow.empty()) {
        for (std::size_t a = 0; a < next.added.size(); ++a) {
            const std::string_view token = next.added.token(a);
            if (!addedNow.contains(token)) {
                const auto ids = next.added.postings(a);
                added.emplace_back(std::string(token), std::vector<std::uint32_t>(ids.begin(), ids.end()));
            }
        }
        for (auto& [token, ids] : addedNow)
            if (!ids.empty())
                added.emplace_back(std::string(token), std::move(ids));
        // Counts are kept in `counts`.
        next.added = Lists::build(std::move(added), false);
    }
    if (!moved.empty()) {
        std::vector<std::pair<std::uint32_t, std::uint8_t>> counts;
        counts.reserve(next.counts.size() + moved.size());
        auto old = next.counts.begin();
        for (const auto& [id, by] : moved) {
            for (; old != next.counts.end() && old->first < id; ++old)
                counts.push_back(*old);
            const int was = tokensOf(id);
            if (old != next.counts.end() && old->first == id)
                ++old;
            // A count held at its ceiling no longer tells how many tokens there are.
            countsSaturated |= was >= 255 || was + by >= 255 || was + by < 0;
            counts.emplace_back(id, std::uint8_t(std::clamp(was + by, 0, 255)));
        }
        counts.insert(counts.end(), old, next.counts.end());
        next.counts = std::move(counts);
    }
    TokenPostings out;
    out.m_lists = m_lists;
    out.m_changes = std::make_shared<const Changes>(std::move(next));
    // Laid out afresh once the changes outgrow an eighth of the lists (and a floor that keeps small
    // indexes from doing it at every change).
    if (countsSaturated || out.m_changes->weight > std::max<std::size_t>(16384, lists.ids.size() / 8))
        return build(out.entries());
    return out;
}

std::uint32_t TokenPostings::tokensOf(std::uint32_t id) const
{
    if (m_changes) {
        const auto& counts = m_changes->counts;
        const auto at = std::lower_bound(counts.begin(), counts.end(), id,
            [](const auto& entry, std::uint32_t wanted) { return entry.first < wanted; });
        if (at != counts.end() && at->first == id)
            return at->second;
    }
    return id < m_lists->tokenCounts.size() ? m_lists->tokenCounts[id] : 0;
}

void TokenPostings::collectIn(
    const Lists& lists, std::string_view query, FileBitmap& bits, const Changes* changes)
{
    if (query.empty() || lists.blob.empty())
        return;
    const char* const begin = lists.blob.data();
    const char* const end = begin + lists.blob.size();
    const char* at = begin;
    while (at < end) {
        const void* hit = ::memmem(at, std::size_t(end - at), query.data(), query.size());
        if (!hit)
            return;
        const auto offset = std::uint32_t(static_cast<const char*>(hit) - begin);
        // A query holds no "\n", so a hit lies inside one token: the last that starts at or before it.
        const auto found = std::size_t(std::upper_bound(lists.starts.begin(), lists.starts.end(), offset)
                               - lists.starts.begin())
            - 1;
        const Delta* delta = changes ? changes->deltaOf(found) : nullptr;
        const auto dense = std::lower_bound(lists.denseTokens.begin(), lists.denseTokens.end(), found);
        // A lost id's bit is never set rather than cleared afterwards: another token may hold it.
        static const std::vector<std::uint32_t> none;
        const std::vector<std::uint32_t>& lost = delta ? delta->removed : none;
        auto skip = lost.begin();
        if (dense != lists.denseTokens.end() && *dense == found) {
            const FileBitmap& words = lists.denseBits[std::size_t(dense - lists.denseTokens.begin())];
            for (std::size_t w = 0; w < words.size(); ++w) {
                std::uint64_t word = words[w];
                for (; skip != lost.end() && (*skip >> 6) == w; ++skip)
                    word &= ~(std::uint64_t(1) << (*skip & 63));
                bits[w] |= word;
            }
        } else {
            for (const auto id : lists.postings(found)) {
                while (skip != lost.end() && *skip < id)
                    ++skip;
                if (skip == lost.end() || *skip != id)
                    setBit(bits, id);
            }
        }
        if (delta)
            for (const auto id : delta->added)
                setBit(bits, id);
        at = found + 1 < lists.starts.size() ? begin + lists.starts[found + 1] : end;
    }
}

void TokenPostings::collect(std::string_view query, FileBitmap& bits) const
{
    collectIn(*m_lists, query, bits, m_changes.get());
    if (m_changes)
        collectIn(m_changes->added, query, bits, nullptr);
}

std::span<const std::uint32_t> TokenPostings::exactly(
    std::string_view wanted, std::vector<std::uint32_t>& scratch) const
{
    const std::size_t t = m_lists->find(wanted);
    if (t < m_lists->size())
        return current(t, scratch);
    if (m_changes)
        if (const std::size_t a = m_changes->added.find(wanted); a < m_changes->added.size())
            return m_changes->added.postings(a);
    return {};
}

std::size_t TokenPostings::memoryBytes() const
{
    std::size_t total = m_lists->memoryBytes();
    if (m_changes) {
        total += m_changes->added.memoryBytes() + 5 * m_changes->counts.capacity();
        for (const auto& [t, delta] : m_changes->changed)
            total += 64 + 4 * (delta->added.capacity() + delta->removed.capacity());
    }
    return total;
}

} // namespace kivo::index
