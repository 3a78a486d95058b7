// The store's read operations: text search over names and folder keywords, folder search, and the
// listings of a collection or one folder.

#include "index/CacheIndexStore.h"
#include "index/FolderListing.h"
#include "index/NaturalOrder.h"
#include "index/SearchCache.h"

#include "music/BpmFromName.h"
#include "music/MusicalKey.h"

#include <algorithm>
#include <deque>
#include <iterator>
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

// What the browser order looks at in one hit, and the hit.
struct RankedHit {
    LeadingKey lead {};
    std::uint32_t id = 0;
    std::uint32_t nameRank = 0;
};

} // namespace

void SearchHits::orderRange(std::size_t begin, std::size_t end, std::size_t wanted) const
{
    const CompactIndex& index = m_state->index;
    const std::size_t count = end - begin;
    wanted = std::min(wanted, count);
    if (wanted == 0)
        return;
    std::vector<RankedHit> items(count);
    std::vector<std::string_view> names(count);
    std::deque<std::string> owned; // names of files the index holds no record of
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t id = m_hits[begin + i];
        FileSortKey key;
        key.path = index.path(id);
        if (const IndexedFile* file = index.fileByID(id)) {
            key.name = index.nameOf(*file);
            if (file->hasBpm)
                key.bpm = file->bpm;
        } else {
            const FileInfo info = fileInfoFromName(std::string(key.path));
            key.name = owned.emplace_back(info.name);
            key.bpm = info.bpm;
        }
        items[i].id = id;
        if (m_leadingKey)
            items[i].lead = m_leadingKey(key);
        names[i] = key.name;
    }
    // Only the hits that can be among the first `wanted` need their names compared: those whose
    // leading key is not larger than that of the wanted-th hit.
    std::vector<std::uint32_t> candidates(count);
    for (std::uint32_t i = 0; i < count; ++i)
        candidates[i] = i;
    if (wanted < count) {
        std::vector<std::uint32_t> byLead = candidates;
        std::nth_element(byLead.begin(), byLead.begin() + std::ptrdiff_t(wanted - 1), byLead.end(),
            [&](std::uint32_t a, std::uint32_t b) { return items[a].lead < items[b].lead; });
        const LeadingKey threshold = items[byLead[wanted - 1]].lead;
        std::erase_if(candidates, [&](std::uint32_t i) { return threshold < items[i].lead; });
    }
    std::vector<std::string_view> candidateNames;
    candidateNames.reserve(candidates.size());
    for (const auto i : candidates)
        candidateNames.push_back(names[i]);
    const auto ranks = naturalRanks(candidateNames);
    for (std::size_t c = 0; c < candidates.size(); ++c)
        items[candidates[c]].nameRank = ranks[c];
    std::sort(candidates.begin(), candidates.end(), [&](std::uint32_t a, std::uint32_t b) {
        const RankedHit& x = items[a];
        const RankedHit& y = items[b];
        if (x.lead != y.lead)
            return x.lead < y.lead;
        if (x.nameRank != y.nameRank)
            return x.nameRank < y.nameRank;
        return x.id < y.id;
    });
    // The chosen hits in order, then the others as they were.
    std::vector<bool> chosen(count, false);
    std::size_t at = begin;
    for (std::size_t c = 0; c < wanted; ++c) {
        chosen[candidates[c]] = true;
        m_hits[at++] = items[candidates[c]].id;
    }
    for (std::size_t i = 0; i < count; ++i)
        if (!chosen[i])
            m_hits[at++] = items[i].id;
}

void SearchHits::orderUpTo(std::size_t end) const
{
    end = std::min(end, m_hits.size());
    if (end <= m_ordered)
        return;
    if (m_ordered < m_exact) {
        orderRange(0, m_exact, m_exact);
        m_ordered = m_exact;
    }
    if (end > m_ordered) {
        orderRange(m_exact, m_hits.size(), end - m_exact);
        m_ordered = end;
    }
}

std::vector<FileInfo> SearchHits::records(std::size_t first, std::size_t count) const
{
    std::vector<FileInfo> out;
    if (first >= m_hits.size())
        return out;
    orderUpTo(first + std::min(count, m_hits.size() - first));
    for (std::size_t i = first; i < m_hits.size() && i - first < count; ++i)
        out.push_back(recordOf(m_state->index, m_hits[i]));
    return out;
}

SearchHits CacheIndexStore::searchHits(const std::string& query, const GroupID& g, bool includeFolderNames,
    const NamedFileOrder& order, const CancelHandle& cancel)
{
    SearchHits hits;
    const auto tokens = tokenize(query, 1);
    if (tokens.empty())
        return hits;
    hits.m_state = current();
    const IndexSnapshot& state = *hits.m_state;
    const CompactIndex& index = state.index;
    const TokenPostings* names = index.namesOf(g);
    if (!names || cancel.isCancelled())
        return hits;
    const FileBitmap matched = matchBits(index, g, tokens, includeFolderNames);
    if (matched.empty() || cancel.isCancelled())
        return hits;

    // A file named exactly as the query comes first. Such a file has every query token as one of its
    // own tokens, so the candidates are few: the files holding each query token exactly.
    const std::string exact = lowerCase(toNFC(query));
    const auto firstList = names->exactly(tokens.front());
    std::vector<std::uint32_t> candidates(firstList.begin(), firstList.end());
    for (std::size_t t = 1; t < tokens.size() && !candidates.empty(); ++t) {
        const auto next = names->exactly(tokens[t]);
        std::vector<std::uint32_t> both;
        std::set_intersection(
            candidates.begin(), candidates.end(), next.begin(), next.end(), std::back_inserter(both));
        candidates.swap(both);
    }
    FileBitmap first(matched.size());
    for (const auto id : candidates)
        if ((matched[id >> 6] >> (id & 63) & 1) && lowerCase(toNFC(recordOf(index, id).name)) == exact)
            first[id >> 6] |= std::uint64_t(1) << (id & 63);
    const auto isSet
        = [](const FileBitmap& bits, std::uint32_t id) { return (bits[id >> 6] >> (id & 63)) & 1; };

    // Every file of the collection in the browser's order, once worked out for this state.
    const GroupSearchData& data = searchOf(state, g);
    const std::vector<std::uint32_t>* inOrder = data.ready(order.name);
    const bool inPart = !order.order || order.leadingKey;
    if (!inOrder && !inPart)
        inOrder = &data.inOrder(order.name, [&] { return orderedIDs(index, g, order.order); });
    if (cancel.isCancelled())
        return hits;
    if (inOrder) {
        for (const auto id : *inOrder)
            if (isSet(first, id))
                hits.m_hits.push_back(id);
        hits.m_exact = hits.m_hits.size();
        for (const auto id : *inOrder)
            if (isSet(matched, id) && !isSet(first, id))
                hits.m_hits.push_back(id);
        hits.m_ordered = hits.m_hits.size();
        return hits;
    }

    // Not worked out yet: the hits go in order only as far as they are shown, and the whole order is
    // worked out once in the background for the searches that follow.
    hits.m_leadingKey = order.leadingKey;
    hits.m_hits = idsOf(first);
    hits.m_exact = hits.m_hits.size();
    for (const auto id : idsOf(matched))
        if (!isSet(first, id))
            hits.m_hits.push_back(id);
    m_executor.post([this, state = hits.m_state, g, order] {
        if (!m_closing)
            state->search->forGroup(g).inOrder(
                order.name, [&] { return orderedIDs(state->index, g, order.order); });
    });
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
