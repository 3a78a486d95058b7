// The store's read operations: text search over names and folder keywords, folder search, and the
// listings of a collection or one folder.

#include "index/CacheIndexStore.h"
#include "index/FolderListing.h"
#include "index/NaturalOrder.h"
#include "index/SearchCache.h"

#include "music/BpmFromName.h"
#include "music/MusicalKey.h"

#include <algorithm>
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
std::vector<FolderHit> foldersOf(const IndexMaps& maps, const GroupID& g, Match&& match)
{
    std::vector<FolderHit> hits;
    const auto roots = maps.groupRoots.find(g);
    if (roots == maps.groupRoots.end())
        return hits;
    for (const auto& [path, folder] : maps.directoryIndex) {
        if (!belongsTo(path, roots->second))
            continue;
        FolderHit hit { path, displayNameOfPath(path) };
        if (match(hit))
            hits.push_back(std::move(hit));
    }
    return hits;
}

} // namespace

std::vector<std::string> CacheIndexStore::searchPaths(
    const std::string& query, const GroupID& g, bool includeFolderNames)
{
    const auto tokens = tokenize(query, 1);
    if (tokens.empty())
        return {};
    const SnapshotPtr state = current();
    std::vector<std::string> out;
    const GroupSearchData* data = searchOf(*state, g).forGroup(state->maps, g);
    if (!data)
        return out;
    const auto matches = matchQuery(*data, tokens, includeFolderNames);
    out.reserve(matches.size());
    for (const auto path : matches)
        out.emplace_back(path);
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
        const GroupSearchData* data = searchOf(*state, g).forGroup(state->maps, g);
        if (!data)
            return files;
        const auto matches = matchQuery(*data, tokens, includeFolderNames);
        files.reserve(matches.size());
        const auto& fileIndex = state->maps.fileIndex;
        for (const auto path : matches) {
            const auto found = fileIndex.find(std::string(path));
            files.push_back(found != fileIndex.end() ? found->second : fileInfoFromName(std::string(path)));
        }
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

FileInfo recordOf(const IndexMaps& maps, std::string_view path)
{
    const std::string key(path);
    const auto found = maps.fileIndex.find(key);
    return found != maps.fileIndex.end() ? found->second : fileInfoFromName(key);
}

} // namespace

std::vector<FileInfo> SearchHits::records(std::size_t first, std::size_t count) const
{
    std::vector<FileInfo> out;
    for (std::size_t i = first; i < m_hits.size() && i - first < count; ++i)
        out.push_back(recordOf(m_state->maps, m_data->paths[m_hits[i]]));
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
    hits.m_data = searchOf(state, g).forGroup(state.maps, g);
    if (!hits.m_data || cancel.isCancelled())
        return hits;
    const GroupSearchData& data = *hits.m_data;
    const FileBitmap matched = matchBits(data, tokens, includeFolderNames);
    if (matched.empty() || cancel.isCancelled())
        return hits;

    // Every file of the collection in the browser's order, worked out once for this state.
    const auto& inOrder = data.inOrder(order.name, [&] {
        std::vector<FileInfo> files;
        files.reserve(data.paths.size());
        std::unordered_map<std::string_view, std::uint32_t> idOf;
        idOf.reserve(data.paths.size());
        for (std::uint32_t id = 0; id < data.paths.size(); ++id) {
            files.push_back(recordOf(state.maps, data.paths[id]));
            idOf.emplace(data.paths[id], id);
        }
        applyOrder(files, order.order);
        std::vector<std::uint32_t> ids;
        ids.reserve(files.size());
        for (const auto& file : files)
            ids.push_back(idOf.at(file.path));
        return ids;
    });
    if (cancel.isCancelled())
        return hits;

    // A file named exactly as the query comes first. Such a file has every query token as one of its
    // own tokens, so the candidates are few: the files holding each query token exactly.
    const std::string exact = lowerCase(toNFC(query));
    std::vector<std::uint32_t> candidates = data.names.exactly(tokens.front());
    for (std::size_t t = 1; t < tokens.size() && !candidates.empty(); ++t) {
        const auto next = data.names.exactly(tokens[t]);
        std::vector<std::uint32_t> both;
        std::set_intersection(
            candidates.begin(), candidates.end(), next.begin(), next.end(), std::back_inserter(both));
        candidates.swap(both);
    }
    FileBitmap first(matched.size());
    bool anyFirst = false;
    for (const auto id : candidates) {
        if (!(matched[id >> 6] >> (id & 63) & 1))
            continue;
        if (lowerCase(toNFC(recordOf(state.maps, data.paths[id]).name)) == exact) {
            first[id >> 6] |= std::uint64_t(1) << (id & 63);
            anyFirst = true;
        }
    }
    const auto isSet
        = [](const FileBitmap& bits, std::uint32_t id) { return (bits[id >> 6] >> (id & 63)) & 1; };
    if (anyFirst)
        for (const auto id : inOrder)
            if (isSet(first, id))
                hits.m_hits.push_back(id);
    for (const auto id : inOrder)
        if (isSet(matched, id) && !(anyFirst && isSet(first, id)))
            hits.m_hits.push_back(id);
    return hits;
}

std::vector<FolderHit> CacheIndexStore::searchFolders(const std::string& query, const GroupID& g)
{
    const auto queryTokens = tokenize(query, 1);
    if (queryTokens.empty())
        return {};
    auto hits = read([&](const IndexMaps& maps) {
        return foldersOf(maps, g, [&](const FolderHit& hit) {
            const auto nameTokens = tokenize(hit.name, 1);
            return std::all_of(queryTokens.begin(), queryTokens.end(), [&](const std::string& q) {
                return std::any_of(nameTokens.begin(), nameTokens.end(),
                    [&](const std::string& t) { return t.find(q) != std::string::npos; });
            });
        });
    });
    sortHits(hits);
    return hits;
}

std::vector<FolderHit> CacheIndexStore::allFolders(const GroupID& g)
{
    auto hits = read(
        [&](const IndexMaps& maps) { return foldersOf(maps, g, [](const FolderHit&) { return true; }); });
    sortHits(hits);
    return hits;
}

std::vector<FileInfo> CacheIndexStore::allFiles(const GroupID& g, const FileOrder& browserOrder)
{
    auto files = read([&](const IndexMaps& maps) {
        std::vector<FileInfo> out;
        const auto roots = maps.groupRoots.find(g);
        if (roots == maps.groupRoots.end())
            return out;
        for (const auto& [path, folder] : maps.directoryIndex)
            if (belongsTo(path, roots->second))
                out.insert(out.end(), folder.files.begin(), folder.files.end());
        return out;
    });
    if (browserOrder)
        browserOrder(files);
    return files;
}

std::vector<FileInfo> CacheIndexStore::filesInFolder(const std::string& path, const FileOrder& order)
{
    auto indexed = read([&](const IndexMaps& maps) -> std::optional<std::vector<FileInfo>> {
        const auto found = maps.directoryIndex.find(path);
        if (found == maps.directoryIndex.end())
            return std::nullopt;
        return found->second.files;
    });
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
