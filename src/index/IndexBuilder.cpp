#include "index/IndexBuilder.h"

#include <memory>
#include <thread>

namespace kivo::index {

namespace {

void unite(GroupTokenIndex& into, GroupTokenIndex&& from)
{
    for (auto& [group, tokens] : from) {
        auto& target = into[group];
        if (target.empty()) {
            target = std::move(tokens);
            continue;
        }
        for (auto& [token, paths] : tokens) {
            auto& set = target[token];
            if (set.empty())
                set = std::move(paths);
            else
                set.merge(paths);
        }
    }
}

} // namespace

void IndexBuilder::add(const FileInfo& file, const GroupID& groupID, const std::string& root)
{
    add(file, groupID, keywordsForPath(file.path, root));
}

void IndexBuilder::add(
    const FileInfo& file, const GroupID& groupID, const std::vector<std::string>& folderKeywords)
{
    add(file, tokenize(file.name, 1), slotsFor(groupID, folderKeywords));
}

IndexBuilder::FolderSlots IndexBuilder::slotsFor(
    const GroupID& groupID, const std::vector<std::string>& folderKeywords)
{
    FolderSlots targets;
    targets.names = &m_pendingNames[groupID];
    auto& keywords = m_pendingKeywords[groupID];
    targets.keywords.reserve(folderKeywords.size());
    for (const auto& keyword : folderKeywords)
        targets.keywords.push_back(&keywords[keyword]);
    return targets;
}

void IndexBuilder::add(const FileInfo& file, std::vector<std::string>&& tokens, const FolderSlots& targets)
{
    const std::string* path = &fileIndex.insert_or_assign(file.path, file).first->first;
    for (auto& token : tokens)
        (*targets.names)[std::move(token)].push_back(path);
    for (auto* paths : targets.keywords)
        paths->push_back(path);
}

namespace {

// One path set of the finished index and the paths that go into it.
struct Fill {
    PathSet* set;
    const std::vector<const std::string*>* paths;
};

// Makes every token's (empty) set in `out`: the maps are only read from here on, so the sets can then
// be filled on several threads at once.
void prepare(
    std::map<GroupID, IndexBuilder::PendingTokens>& pending, GroupTokenIndex& out, std::vector<Fill>& fills)
{
    for (auto& [group, tokens] : pending) {
        auto& index = out[group];
        index.reserve(index.size() + tokens.size());
        for (auto& [token, paths] : tokens)
            fills.push_back({ &index[token], &paths });
    }
}

void fill(const Fill* begin, const Fill* end)
{
    for (const Fill* f = begin; f != end; ++f) {
        // A little slack, so that the few additions of a later sync do not rehash the biggest sets.
        f->set->reserve((f->set->size() + f->paths->size()) * 5 / 4);
        for (const std::string* p : *f->paths)
            f->set->insert(*p);
    }
}

// Below this many paths a second thread costs more than it saves.
constexpr std::size_t kPathsWorthAThread = 4096;

} // namespace

void IndexBuilder::finish()
{
    if (m_pendingNames.empty() && m_pendingKeywords.empty())
        return;
    std::vector<Fill> fills;
    prepare(m_pendingNames, searchIndex, fills);
    prepare(m_pendingKeywords, keywordIndex, fills);
    std::size_t total = 0;
    for (const Fill& f : fills)
        total += f.paths->size();
    // The sets share nothing but the (unchanging) file paths: two cores fill about half of them each.
    std::size_t half = 0;
    std::size_t split = 0;
    while (split < fills.size() && half < total / 2)
        half += fills[split++].paths->size();
    if (total < kPathsWorthAThread) {
        fill(fills.data(), fills.data() + fills.size());
    } else {
        std::thread second([&] { fill(fills.data() + split, fills.data() + fills.size()); });
        fill(fills.data(), fills.data() + split);
        second.join();
    }
    m_pendingNames.clear();
    m_pendingKeywords.clear();
}

void IndexBuilder::mergeInto(IndexMaps& maps)
{
    finish();
    for (auto& [path, info] : directoryIndex)
        maps.directoryIndex.insert_or_assign(path, std::move(info));
    for (auto& [path, file] : fileIndex)
        maps.fileIndex.insert_or_assign(path, std::move(file));
    unite(maps.searchIndex, std::move(searchIndex));
    unite(maps.keywordIndex, std::move(keywordIndex));
    *this = IndexBuilder();
}

void IndexBuilder::replace(IndexMaps& maps)
{
    finish();
    // Freeing a large index takes a good part of a second: hand the old maps to a thread of their own so
    // the store's worker is free for queries as soon as the new index is in place.
    auto old = std::make_unique<IndexBuilder>();
    std::swap(old->directoryIndex, maps.directoryIndex);
    std::swap(old->searchIndex, maps.searchIndex);
    std::swap(old->keywordIndex, maps.keywordIndex);
    std::swap(old->fileIndex, maps.fileIndex);
    maps.directoryIndex = std::move(directoryIndex);
    maps.searchIndex = std::move(searchIndex);
    maps.keywordIndex = std::move(keywordIndex);
    maps.fileIndex = std::move(fileIndex);
    *this = IndexBuilder();
    if (!old->empty() || !old->searchIndex.empty())
        std::thread([old = std::move(old)]() mutable { old.reset(); }).detach();
}

namespace {

// The ids of pending tokens' paths: each pending path points at a key of the file index, whose id is
// looked up once per file rather than once per token.
std::map<GroupID, TokenEntries> entriesOf(std::map<GroupID, IndexBuilder::PendingTokens>& pending,
    const std::unordered_map<const std::string*, std::uint32_t>& ids)
{
    std::map<GroupID, TokenEntries> out;
    for (auto& [group, tokens] : pending) {
        TokenEntries& entries = out[group];
        entries.reserve(tokens.size());
        for (auto& [token, paths] : tokens) {
            std::vector<std::uint32_t> list;
            list.reserve(paths.size());
            for (const std::string* path : paths)
                list.push_back(ids.at(path));
            entries.emplace_back(token, std::move(list));
        }
    }
    return out;
}

// Sets finished earlier (a builder finish()ed before) join the pending ones.
void addFinished(std::map<GroupID, TokenEntries>& out, const GroupTokenIndex& finished, CompactIndex& index)
{
    for (const auto& [group, tokens] : finished)
        appendTokenEntries(index, tokens, out[group]);
}

std::map<GroupID, TokenPostings> postingsOf(std::map<GroupID, TokenEntries>&& entries)
{
    std::map<GroupID, TokenPostings> out;
    for (auto& [group, list] : entries)
        out.emplace(group, TokenPostings::build(std::move(list)));
    return out;
}

} // namespace

CompactIndex IndexBuilder::compact(const GroupRoots& roots)
{
    CompactIndex index = compactRecordsOf(directoryIndex, fileIndex, roots);
    std::unordered_map<const std::string*, std::uint32_t> ids;
    ids.reserve(fileIndex.size());
    for (const auto& [path, file] : fileIndex)
        ids.emplace(&path, index.strings.find(path));
    auto names = entriesOf(m_pendingNames, ids);
    auto keywords = entriesOf(m_pendingKeywords, ids);
    addFinished(names, searchIndex, index);
    addFinished(keywords, keywordIndex, index);
    index.names = postingsOf(std::move(names));
    index.keywords = postingsOf(std::move(keywords));
    // Freeing the walk's records takes a good part of a second at a large library: a thread of its own
    // does it, so that the caller goes on to publish the new state at once.
    auto old = std::make_unique<IndexBuilder>(std::move(*this));
    *this = IndexBuilder();
    std::thread([old = std::move(old)]() mutable { old.reset(); }).detach();
    return index;
}

} // namespace kivo::index
