// The store's read operations: text search over names and folder keywords, folder search, and the
// listings of a collection or one folder.

#include "index/CacheIndexStore.h"
#include "index/FolderListing.h"
#include "index/NaturalOrder.h"
#include "index/SearchCache.h"

#include "music/BpmFromName.h"
#include "music/MusicalKey.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <iterator>
#include <thread>
#include <unordered_map>

namespace kivo::index {

namespace {

// A record for a file the index does not hold: what its name alone tells.
FileInfo fileInfoFromName(const std::string& path)
{
    FileInfo file;
    file.id = stableFileID(path);
    file.path = path;
    file.name = displayNameOfPath(path);
    const std::string composed = toNFC(file.name);
    file.bpm = music::bpmFromName(composed);
    if (const auto key = music::MusicalKey::fromName(composed, music::LoneAccidental::accept))
        file.key = key->keyText();
    return file;
}

void naturalNameOrder(std::vector<FileInfo>& files)
{
    std::vector<std::string_view> names;
    names.reserve(files.size());
    for (const auto& file : files)
        names.push_back(file.name);
    const auto ranks = naturalRanks(names);
    std::vector<std::uint32_t> order(files.size());
    for (std::uint32_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](auto a, auto b) { return ranks[a] < ranks[b]; });
    std::vector<FileInfo> sorted;
    sorted.reserve(files.size());
    for (const auto i : order)
        sorted.push_back(std::move(files[i]));
    files.swap(sorted);
}

void applyOrder(std::vector<FileInfo>& files, const FileOrder& order)
{
    if (order)
        order(files);
    else
        naturalNameOrder(files);
}

bool belongsTo(const std::string& path, const std::vector<std::string>& roots)
{
    return std::any_of(
        roots.begin(), roots.end(), [&](const std::string& root) { return isUnderRoot(path, root); });
}

void sortHits(std::vector<FolderHit>& hits)
{
    std::vector<std::string_view> names;
    names.reserve(hits.size());
    for (const auto& hit : hits)
        names.push_back(hit.name);
    const auto ranks = naturalRanks(names);
    std::vector<std::pair<std::uint32_t, FolderHit>> ranked;
    ranked.reserve(hits.size());
    for (std::size_t i = 0; i < hits.size(); ++i)
        ranked.emplace_back(ranks[i], std::move(hits[i]));
    std::stable_sort(
        ranked.begin(), ranked.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    hits.clear();
    for (auto& [rank, hit] : ranked)
        hits.push_back(std::move(hit));
}

template <class Match>
std::vector<FolderHit> foldersOf(const CompactIndex& index, const GroupID& g, Match&& match)
{
    std::vector<FolderHit> hits;
    const auto roots = index.roots.find(g);
    if (roots == index.roots.end())
        return hits;
    for (std::size_t f = 0; f < index.folders.size(); ++f) {
        if (!index.isCurrent(f))
            continue;
        const std::string path(index.path(index.folders[f].path));
        if (!belongsTo(path, roots->second))
            continue;
        FolderHit hit { path, displayNameOfPath(path) };
        if (match(hit))
            hits.push_back(std::move(hit));
    }
    return hits;
}

// The file index's record of a path, or what its name alone tells when the index holds none.
FileInfo recordOf(const CompactIndex& index, std::uint32_t id)
{
    if (const IndexedFile* file = index.fileByID(id))
        return index.fileInfo(*file);
    return fileInfoFromName(std::string(index.path(id)));
}

// Every file of collection g in `order`: what a state keeps for the searches on it.
std::vector<std::uint32_t> orderedIDs(const CompactIndex& index, const GroupID& g, const FileOrder& order)
{
    const auto ids = filesOfGroup(index, g);
    std::vector<FileInfo> files;
    files.reserve(ids.size());
    for (const auto id : ids)
        files.push_back(recordOf(index, id));
    std::unordered_map<std::string_view, std::uint32_t> idOf;
    idOf.reserve(ids.size());
    for (const auto id : ids)
        idOf.emplace(index.path(id), id);
    applyOrder(files, order);
    std::vector<std::uint32_t> ordered;
    ordered.reserve(files.size());
    for (const auto& file : files)
        ordered.push_back(idOf.at(file.path));
    return ordered;
}

std::vector<std::uint32_t> idsOf(const FileBitmap& bits)
{
    std::vector<std::uint32_t> ids;
    for (std::size_t w = 0; w < bits.size(); ++w)
        for (std::uint64_t word = bits[w]; word; word &= word - 1)
            ids.push_back(std::uint32_t(w * 64 + std::size_t(__builtin_ctzll(word))));
    return ids;
}

} // namespace

std::vector<std::string> CacheIndexStore::searchPaths(
    const std::string& query, const GroupID& g, bool includeFolderNames)
{
    const auto tokens = tokenize(query, 1);
    const SnapshotPtr state = current();
    std::vector<std::string> out;
    for (const auto id : idsOf(matchBits(state->index, g, tokens, includeFolderNames)))
        out.emplace_back(state->index.path(id));
    return out;
}

std::vector<FileInfo> CacheIndexStore::search(
    const std::string& query, const GroupID& g, bool includeFolderNames, const FileOrder& order)
{
    const auto tokens = tokenize(query, 1);
    if (tokens.empty())
        return {};
    std::vector<FileInfo> files;
    {
        const SnapshotPtr state = current();
        const auto matches = idsOf(matchBits(state->index, g, tokens, includeFolderNames));
        files.reserve(matches.size());
        for (const auto id : matches)
            files.push_back(recordOf(state->index, id));
    }
    const std::string exact = lowerCase(toNFC(query));
    const auto firstOther = std::stable_partition(files.begin(), files.end(),
        [&](const FileInfo& file) { return lowerCase(toNFC(file.name)) == exact; });
    std::vector<FileInfo> rest(std::make_move_iterator(firstOther), std::make_move_iterator(files.end()));
    files.erase(firstOther, files.end());
    applyOrder(files, order);
    applyOrder(rest, order);
    files.insert(files.end(), std::make_move_iterator(rest.begin()), std::make_move_iterator(rest.end()));
    return files;
}

namespace {

bool isSet(const FileBitmap& bits, std::uint32_t id)
{
    return (bits[id >> 6] >> (id & 63)) & 1;
}

template <class F> void forEachID(const FileBitmap& bits, F&& f)
{
    for (std::size_t w = 0; w < bits.size(); ++w)
        for (std::uint64_t word = bits[w]; word; word &= word - 1)
            f(std::uint32_t(w * 64 + std::size_t(__builtin_ctzll(word))));
}

using LeadFunction = std::function<LeadingKey(const FileSortKey&)>;

// The name a file sorts by: its record's, or what its path alone tells (kept in `scratch`).
std::string_view sortName(const CompactIndex& index, std::uint32_t id, std::string& scratch)
{
    if (const IndexedFile* file = index.fileByID(id))
        return index.nameOf(*file);
    scratch = fileInfoFromName(std::string(index.path(id))).name;
    return scratch;
}

LeadingKey leadingKeyOf(const CompactIndex& index, const LeadFunction& lead, std::uint32_t id)
{
    if (!lead)
        return {};
    FileSortKey key;
    key.extension = sortExtension(index.path(id));
    if (const IndexedFile* file = index.fileByID(id)) {
        key.name = index.nameOf(*file);
        if (file->hasBpm)
            key.bpm = file->bpm;
        return lead(key);
    }
    const FileInfo info = fileInfoFromName(std::string(index.path(id)));
    key.name = info.name;
    key.bpm = info.bpm;
    return lead(key);
}

// Whether the file's name, lower-cased, is `exact` (the query lower-cased).
bool namedExactly(const CompactIndex& index, std::uint32_t id, std::string_view exact)
{
    std::string scratch;
    const std::string_view name = sortName(index, id, scratch);
    const bool ascii = std::all_of(name.begin(), name.end(), [](char c) { return (unsigned char)c < 0x80; });
    if (!ascii)
        return lowerCase(toNFC(name)) == exact;
    return name.size() == exact.size()
        && std::equal(name.begin(), name.end(), exact.begin(),
            [](char a, char b) { return (a >= 'A' && a <= 'Z' ? char(a + 32) : a) == b; });
}

struct LeadingKeyHash {
    std::size_t operator()(const LeadingKey& key) const
    {
        std::size_t h = 0;
        for (const auto value : key)
            h = h * 1000003 ^ std::hash<std::int64_t>()(value);
        return h;
    }
};

// The places of `found` among its distinct values, which become `keys`, ascending.
std::vector<std::uint32_t> placesAmong(const std::vector<LeadingKey>& found, std::vector<LeadingKey>& keys)
{
    keys = found;
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    std::vector<std::uint32_t> places;
    places.reserve(found.size());
    for (const auto& key : found)
        places.push_back(std::uint32_t(std::lower_bound(keys.begin(), keys.end(), key) - keys.begin()));
    return places;
}

// The leading keys as places among the distinct ones. A key that ignores names is asked once per sort
// class; one that reads them, once per file, a large library then done in two halves at once.
void buildLeads(const CompactIndex& index, const LeadFunction& lead, bool readsName, OrderRanks& ranks)
{
    const auto keyOf = [&](const FileSortKey& key) { return lead ? lead(key) : LeadingKey {}; };
    if (!readsName && index.sortClasses.complete()) {
        std::vector<LeadingKey> classKeys;
        for (const SortClass& sortClass : index.sortClasses.all())
            classKeys.push_back(keyOf({ {}, sortClass.extension, sortClass.bpm }));
        ranks.classLead = placesAmong(classKeys, ranks.keys);
        ranks.byClass = true;
        return;
    }
    const std::size_t ids = std::min(index.strings.size(), index.fileOf.size());
    ranks.lead.assign(index.strings.size(), kNoID);
    struct Part {
        std::unordered_map<LeadingKey, std::uint32_t, LeadingKeyHash> seen;
        std::vector<LeadingKey> keys;
    };
    const auto fill = [&](std::size_t begin, std::size_t end, Part& part) {
        for (std::size_t id = begin; id < end; ++id) {
            const IndexedFile* file = index.fileByID(std::uint32_t(id));
            if (!file)
                continue;
            const LeadingKey key = keyOf({ readsName ? index.nameOf(*file) : std::string_view(),
                sortExtension(index.path(std::uint32_t(id))),
                file->hasBpm ? std::optional<std::int64_t>(file->bpm) : std::nullopt });
            const auto [at, added] = part.seen.try_emplace(key, std::uint32_t(part.keys.size()));
            if (added)
                part.keys.push_back(key);
            ranks.lead[id] = at->second;
        }
    };
    const std::size_t middle = ids < 65536 ? ids : ids / 2;
    Part low, high;
    {
        std::jthread other;
        if (middle < ids)
            other = std::jthread([&] { fill(middle, ids, high); });
        fill(0, middle, low);
    }
    std::vector<LeadingKey> found = low.keys;
    found.insert(found.end(), high.keys.begin(), high.keys.end());
    const auto places = placesAmong(found, ranks.keys);
    for (std::size_t id = 0; id < ids; ++id)
        if (ranks.lead[id] != kNoID)
            ranks.lead[id] = places[ranks.lead[id] + (id < middle ? 0 : low.keys.size())];
}

// Every file record's place in the whole order: leading key, natural name order (each distinct name
// given its sort key once), id. Gives up, leaving `ranks` as it was, once `stale` says nobody will ask.
bool buildWhole(const CompactIndex& index, OrderRanks& ranks, const std::function<bool()>& stale)
{
    const std::size_t ids = std::min(index.strings.size(), index.fileOf.size());
    std::unordered_map<std::string_view, std::uint32_t> distinct;
    std::vector<std::string_view> names;
    std::vector<std::pair<std::uint64_t, std::uint32_t>> items;
    items.reserve(index.fileCount);
    FileBitmap recorded((index.strings.size() + 63) / 64);
    for (std::uint32_t id = 0; id < ids; ++id) {
        const IndexedFile* file = index.fileByID(id);
        if (!file)
            continue;
        recorded[id >> 6] |= std::uint64_t(1) << (id & 63);
        const auto [at, added] = distinct.try_emplace(index.nameOf(*file), std::uint32_t(names.size()));
        if (added)
            names.push_back(at->first);
        items.emplace_back(at->second, id);
    }
    distinct = {};
    if (stale())
        return false;
    const auto nameRanks = naturalRanks(names);
    names = {};
    if (stale())
        return false;
    for (auto& [key, id] : items)
        key = std::uint64_t(ranks.leadOf(index, id)) << 32 | nameRanks[key];
    std::sort(items.begin(), items.end());
    ranks.rank.assign(index.strings.size(), kNoID);
    ranks.byRank.reserve(items.size());
    for (std::uint32_t at = 0; at < items.size(); ++at) {
        ranks.rank[items[at].second] = at;
        ranks.byRank.push_back(items[at].second);
    }
    ranks.recorded = std::move(recorded);
    return true;
}

} // namespace

std::uint64_t SearchHits::leadOf(std::uint32_t id) const
{
    // Known keys at odd numbers; a key of a file without a record falls on the even number just
    // below the first known key that is larger.
    if (const std::uint32_t place = m_ranks->leadOf(m_state->index, id); place != kNoID)
        return 2 * std::uint64_t(place) + 1;
    const LeadingKey key = leadingKeyOf(m_state->index, m_leadingKey, id);
    const auto at = std::lower_bound(m_ranks->keys.begin(), m_ranks->keys.end(), key);
    const auto place = std::uint64_t(at - m_ranks->keys.begin());
    return at != m_ranks->keys.end() && *at == key ? 2 * place + 1 : 2 * place;
}

void SearchHits::sortByOrder(
    std::vector<std::pair<std::uint64_t, std::uint32_t>>& items, std::size_t take) const
{
    const CompactIndex& index = m_state->index;
    std::deque<std::string> owned; // names of files the index holds no record of
    std::vector<std::string_view> names(items.size());
    std::vector<std::uint32_t> at(items.size());
    for (std::uint32_t i = 0; i < items.size(); ++i) {
        std::string scratch;
        names[i] = sortName(index, items[i].second, scratch);
        if (!scratch.empty())
            names[i] = owned.emplace_back(std::move(scratch));
        at[i] = i;
    }
    take = std::min(take, items.size());
    // Names are compared only between files whose leading keys agree.
    const NaturalNames natural(names);
    std::partial_sort(
        at.begin(), at.begin() + std::ptrdiff_t(take), at.end(), [&](std::uint32_t a, std::uint32_t b) {
            if (items[a].first != items[b].first)
                return items[a].first < items[b].first;
            if (const int c = natural.compare(a, b))
                return c < 0;
            return items[a].second < items[b].second;
        });
    std::vector<std::pair<std::uint64_t, std::uint32_t>> sorted;
    sorted.reserve(take);
    for (std::size_t i = 0; i < take; ++i)
        sorted.push_back(items[at[i]]);
    items.swap(sorted);
}

void SearchHits::showUpTo(std::size_t count) const
{
    count = std::min(count, m_restCount);
    if (count <= m_shown.size() || !m_ranks)
        return;
    const OrderRanks& ranks = *m_ranks;
    const std::size_t need = count - m_shown.size();
    bool whole = ranks.wholeDone.load();
    for (std::size_t w = 0; whole && w < m_rest.size(); ++w)
        whole = (m_rest[w] & ~ranks.recorded[w]) == 0;
    if (whole) {
        const std::uint32_t after = m_shown.empty() ? 0 : ranks.rank[m_shown.back()] + 1;
        const std::size_t remaining = m_restCount - m_shown.size();
        // Walking the whole order from there takes about need * files / remaining steps; looking at
        // every remaining hit, remaining steps.
        if (double(need) * double(ranks.byRank.size()) < double(remaining) * double(remaining)) {
            for (std::size_t at = after; at < ranks.byRank.size() && m_shown.size() < count; ++at)
                if (isSet(m_rest, ranks.byRank[at]))
                    m_shown.push_back(ranks.byRank[at]);
        } else {
            std::vector<std::uint64_t> found;
            forEachID(m_rest, [&](std::uint32_t id) {
                if (ranks.rank[id] >= after)
                    found.push_back(std::uint64_t(ranks.rank[id]) << 32 | id);
            });
            const auto end = found.begin() + std::ptrdiff_t(std::min(need, found.size()));
            std::partial_sort(found.begin(), end, found.end());
            for (auto it = found.begin(); it != end; ++it)
                m_shown.push_back(std::uint32_t(*it));
        }
        return;
    }

    // Before the whole order is worked out. The first hits of the search before, when this one's hits
    // are among its, are the first of this one's that they hold: every hit in order before the last
    // of them was one of them.
    if (m_shown.empty()) {
        std::shared_ptr<const OrderRanks::Ordered> last;
        {
            std::lock_guard lock(m_ranks->lastMutex);
            last = m_ranks->last;
        }
        bool narrower = last && last->hits.size() == m_rest.size();
        for (std::size_t w = 0; narrower && w < m_rest.size(); ++w)
            narrower = (m_rest[w] & ~last->hits[w]) == 0;
        if (narrower)
            for (const auto id : last->first)
                if (isSet(m_rest, id))
                    m_shown.push_back(id);
    }
    if (m_shown.size() < count)
        showMoreUpTo(count);
    auto remembered = std::make_shared<OrderRanks::Ordered>(OrderRanks::Ordered { m_rest, m_shown });
    std::lock_guard lock(m_ranks->lastMutex);
    m_ranks->last = std::move(remembered);
}

void SearchHits::showMoreUpTo(std::size_t count) const
{
    // Only the hits whose leading key can be among the next `need` have their names compared. A
    // max-heap keeps the `need` smallest keys seen so far.
    const std::size_t need = count - m_shown.size();
    const bool continuing = !m_shown.empty();
    const std::uint64_t lastLead = continuing ? leadOf(m_shown.back()) : 0;
    std::vector<std::uint32_t> shownAtLast;
    for (const auto id : m_shown)
        if (leadOf(id) == lastLead)
            shownAtLast.push_back(id);
    std::sort(shownAtLast.begin(), shownAtLast.end());
    std::vector<std::uint64_t> smallest;
    std::vector<std::pair<std::uint64_t, std::uint32_t>> candidates;
    forEachID(m_rest, [&](std::uint32_t id) {
        const std::uint64_t lead = leadOf(id);
        if (lead < lastLead || (smallest.size() == need && lead > smallest.front()))
            return;
        if (continuing && lead == lastLead && std::binary_search(shownAtLast.begin(), shownAtLast.end(), id))
            return;
        candidates.emplace_back(lead, id);
        if (smallest.size() < need) {
            smallest.push_back(lead);
            std::push_heap(smallest.begin(), smallest.end());
        } else if (lead < smallest.front()) {
            std::pop_heap(smallest.begin(), smallest.end());
            smallest.back() = lead;
            std::push_heap(smallest.begin(), smallest.end());
        }
    });
    if (smallest.size() == need) {
        const std::uint64_t threshold = smallest.front();
        std::erase_if(candidates, [&](const auto& item) { return item.first > threshold; });
    }
    sortByOrder(candidates, need);
    for (const auto& item : candidates)
        m_shown.push_back(item.second);
}

std::vector<FileInfo> SearchHits::records(std::size_t first, std::size_t count) const
{
    std::vector<FileInfo> out;
    for (const auto id : ids(first, count))
        out.push_back(recordOf(m_state->index, id));
    return out;
}

std::vector<std::uint32_t> SearchHits::ids(std::size_t first, std::size_t count) const
{
    std::vector<std::uint32_t> out;
    if (first >= size())
        return out;
    const std::size_t end = first + std::min(count, size() - first);
    if (end > m_exact.size())
        showUpTo(end - m_exact.size());
    out.reserve(end - first);
    for (std::size_t i = first; i < end; ++i)
        out.push_back(i < m_exact.size() ? m_exact[i] : m_shown[i - m_exact.size()]);
    return out;
}

FileInfo SearchHits::record(std::uint32_t id) const
{
    return recordOf(m_state->index, id);
}

const CompactIndex* SearchHits::index() const
{
    return m_state ? &m_state->index : nullptr;
}

void SearchHits::retain(const std::function<bool(std::uint32_t)>& keep)
{
    std::erase_if(m_exact, [&](std::uint32_t id) { return !keep(id); });
    if (!m_ranks) {
        // An order given as a sort alone: every other hit is in m_shown already.
        std::erase_if(m_shown, [&](std::uint32_t id) { return !keep(id); });
        m_restCount = m_shown.size();
        return;
    }
    m_restCount = 0;
    forEachID(m_rest, [&](std::uint32_t id) {
        if (keep(id))
            ++m_restCount;
        else
            m_rest[id >> 6] &= ~(std::uint64_t(1) << (id & 63));
    });
}

void SearchHits::forEach(const std::function<void(std::uint32_t)>& visit) const
{
    for (const auto id : m_exact)
        visit(id);
    if (m_ranks)
        forEachID(m_rest, visit);
    else
        for (const auto id : m_shown)
            visit(id);
}

SearchHits CacheIndexStore::searchHits(const std::string& query, const GroupID& g, bool includeFolderNames,
    const NamedFileOrder& order, const CancelHandle& cancel, SnapshotPtr state)
{
    SearchHits hits;
    const auto tokens = tokenize(query, 1);
    if (tokens.empty())
        return hits;
    if (!state)
        state = current();
    const CompactIndex& index = state->index;
    const TokenPostings* names = index.namesOf(g);
    if (!names || cancel.isCancelled())
        return hits;
    FileBitmap matched = matchBits(index, g, tokens, includeFolderNames);
    if (matched.empty() || cancel.isCancelled())
        return hits;

    // A file named exactly as the query comes first. Such a file has every query token as one of its
    // own tokens, so the candidates are few: the files holding each query token exactly.
    const std::string exact = lowerCase(toNFC(query));
    std::vector<std::uint32_t> scratch;
    const auto firstList = names->exactly(tokens.front(), scratch);
    std::vector<std::uint32_t> candidates(firstList.begin(), firstList.end());
    for (std::size_t t = 1; t < tokens.size() && !candidates.empty(); ++t) {
        const auto next = names->exactly(tokens[t], scratch);
        std::vector<std::uint32_t> both;
        std::set_intersection(
            candidates.begin(), candidates.end(), next.begin(), next.end(), std::back_inserter(both));
        candidates.swap(both);
    }
    // Such a name has the query's tokens and no other, so the name itself is read only for files with
    // as many tokens as the query.
    std::vector<std::string_view> distinctTokens(tokens.begin(), tokens.end());
    std::sort(distinctTokens.begin(), distinctTokens.end());
    const auto tokenCount
        = std::size_t(std::unique(distinctTokens.begin(), distinctTokens.end()) - distinctTokens.begin());
    std::vector<std::uint32_t> first;
    for (const auto id : candidates)
        if (names->tokensOf(id) == std::min<std::size_t>(tokenCount, 255) && isSet(matched, id)
            && namedExactly(index, id, exact))
            first.push_back(id);
    for (const auto id : first)
        matched[id >> 6] &= ~(std::uint64_t(1) << (id & 63));
    std::size_t others = 0;
    for (const auto word : matched)
        others += std::size_t(__builtin_popcountll(word));

    hits.m_state = state;
    if (order.order && !order.leadingKey) {
        // An order given as a sort alone: every file of the collection in it, worked out once per state.
        const GroupSearchData& data = searchOf(*state, g);
        const auto& inOrder = data.inOrder(order.name, [&] { return orderedIDs(index, g, order.order); });
        if (cancel.isCancelled())
            return {};
        const FileBitmap firstBits = [&] {
            FileBitmap bits(matched.size());
            for (const auto id : first)
                bits[id >> 6] |= std::uint64_t(1) << (id & 63);
            return bits;
        }();
        for (const auto id : inOrder) {
            if (isSet(firstBits, id))
                hits.m_exact.push_back(id);
            else if (isSet(matched, id))
                hits.m_shown.push_back(id);
        }
        hits.m_restCount = hits.m_shown.size();
        return hits;
    }

    OrderRanks& ranks = state->search->ranks(order.name);
    std::call_once(
        ranks.leadBuilt, [&] { buildLeads(index, order.leadingKey, order.leadingKeyReadsName, ranks); });
    if (cancel.isCancelled())
        return {};
    hits.m_ranks = &ranks;
    hits.m_leadingKey = order.leadingKey;
    hits.m_rest = std::move(matched);
    hits.m_restCount = others;
    std::vector<std::pair<std::uint64_t, std::uint32_t>> exactItems;
    for (const auto id : first)
        exactItems.emplace_back(hits.leadOf(id), id);
    hits.sortByOrder(exactItems, exactItems.size());
    for (const auto& item : exactItems)
        hits.m_exact.push_back(item.second);
    // The whole order, worked out once in the background for the searches that follow. Not on the
    // writer: it takes seconds at a large library, and a write must not wait for it. A state that a
    // change has replaced is not worth finishing.
    if (!ranks.wholeQueued.exchange(true)) {
        m_orderBuilder.post([this, state, &ranks] {
            const auto stale = [&] { return m_closing || current()->search != state->search; };
            if (!stale() && buildWhole(state->index, ranks, stale))
                ranks.wholeDone = true;
        });
    }
    return hits;
}

std::vector<FolderHit> CacheIndexStore::searchFolders(const std::string& query, const GroupID& g)
{
    const auto queryTokens = tokenize(query, 1);
    if (queryTokens.empty())
        return {};
    const SnapshotPtr state = current();
    auto hits = foldersOf(state->index, g, [&](const FolderHit& hit) {
        const auto nameTokens = tokenize(hit.name, 1);
        return std::all_of(queryTokens.begin(), queryTokens.end(), [&](const std::string& q) {
            return std::any_of(nameTokens.begin(), nameTokens.end(),
                [&](const std::string& t) { return t.find(q) != std::string::npos; });
        });
    });
    sortHits(hits);
    return hits;
}

std::vector<FolderHit> CacheIndexStore::allFolders(const GroupID& g)
{
    const SnapshotPtr state = current();
    auto hits = foldersOf(state->index, g, [](const FolderHit&) { return true; });
    sortHits(hits);
    return hits;
}

std::vector<FileInfo> CacheIndexStore::allFiles(const GroupID& g, const FileOrder& browserOrder)
{
    std::vector<FileInfo> files;
    {
        const SnapshotPtr state = current();
        const CompactIndex& index = state->index;
        const auto roots = index.roots.find(g);
        if (roots == index.roots.end())
            return files;
        for (std::size_t f = 0; f < index.folders.size(); ++f) {
            if (!index.isCurrent(f)
                || !belongsTo(std::string(index.path(index.folders[f].path)), roots->second))
                continue;
            for (const auto& file : index.filesOf(index.folders[f]))
                files.push_back(index.fileInfo(file));
        }
    }
    if (browserOrder)
        browserOrder(files);
    return files;
}

std::vector<FileInfo> CacheIndexStore::filesInFolder(const std::string& path, const FileOrder& order)
{
    std::optional<std::vector<FileInfo>> indexed;
    {
        const SnapshotPtr state = current();
        if (const IndexedFolder* folder = state->index.folder(path)) {
            indexed.emplace();
            for (const auto& file : state->index.filesOf(*folder))
                indexed->push_back(state->index.fileInfo(file));
        }
    }
    if (indexed) {
        applyOrder(*indexed, order);
        return std::move(*indexed);
    }
    // Not indexed: what the disk holds now, in listing order. Linux has no alias files to leave out.
    std::vector<FileInfo> out;
    std::vector<FolderEntry> entries;
    if (!listFolder(path, entries))
        return out;
    for (const auto& entry : entries)
        if (entry.kind == EntryKind::file && hasCompatibleExtension(entry.name))
            out.push_back(fileInfoFromName(path + "/" + entry.name));
    return out;
}

} // namespace kivo::index
