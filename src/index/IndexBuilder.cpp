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
    m_paths.push_back(&fileIndex.insert_or_assign(file.path, file).first->first);
    noteTokens(std::uint32_t(m_paths.size() - 1), std::move(tokens), targets);
}

void IndexBuilder::add(
    FileInfo&& file, std::vector<std::string>&& tokens, const FolderSlots& targets, Folder& folder)
{
    if (m_form == Form::maps) {
        add(file, std::move(tokens), targets);
        folder.info.files.push_back(std::move(file));
        return;
    }
    const auto added = std::uint32_t(m_files.size());
    m_files.push_back(std::move(file));
    folder.files.push_back(added);
    noteTokens(added, std::move(tokens), targets);
}

void IndexBuilder::noteTokens(
    std::uint32_t file, std::vector<std::string>&& tokens, const FolderSlots& targets)
{
    for (auto& token : tokens)
        (*targets.names)[std::move(token)].push_back(file);
    for (auto* files : targets.keywords)
        files->push_back(file);
}

void IndexBuilder::addFolder(Folder&& folder)
{
    if (m_form == Form::maps) {
        std::string path = folder.info.path;
        directoryIndex.insert_or_assign(std::move(path), std::move(folder.info));
        return;
    }
    m_folderAt.insert_or_assign(folder.info.path, std::uint32_t(m_folders.size()));
    m_folders.push_back(std::move(folder));
}

namespace {

// One path set of the finished index and the paths that go into it.
struct Fill {
    PathSet* set;
    const std::vector<std::uint32_t>* files;
};

// Makes every token's (empty) set in `out`: the maps are only read from here on, so the sets can then
// be filled on several threads at once.
void prepare(
    std::map<GroupID, IndexBuilder::PendingTokens>& pending, GroupTokenIndex& out, std::vector<Fill>& fills)
{
    for (auto& [group, tokens] : pending) {
        auto& index = out[group];
        index.reserve(index.size() + tokens.size());
        for (auto& [token, files] : tokens)
            fills.push_back({ &index[token], &files });
    }
}

void fillSets(const Fill* begin, const Fill* end, const std::vector<const std::string*>& paths)
{
    for (const Fill* f = begin; f != end; ++f) {
        // A little slack, so that the few additions of a later sync do not rehash the biggest sets.
        f->set->reserve((f->set->size() + f->files->size()) * 5 / 4);
        for (const std::uint32_t file : *f->files)
            f->set->insert(*paths[file]);
    }
}

// Below this many paths a second thread costs more than it saves.
constexpr std::size_t kPathsWorthAThread = 4096;

} // namespace

void IndexBuilder::finish()
{
    if (m_form != Form::maps || (m_pendingNames.empty() && m_pendingKeywords.empty()))
        return;
    std::vector<Fill> fills;
    prepare(m_pendingNames, searchIndex, fills);
    prepare(m_pendingKeywords, keywordIndex, fills);
    std::size_t total = 0;
    for (const Fill& f : fills)
        total += f.files->size();
    // The sets share nothing but the (unchanging) file paths: two cores fill about half of them each.
    std::size_t half = 0;
    std::size_t split = 0;
    while (split < fills.size() && half < total / 2)
        half += fills[split++].files->size();
    if (total < kPathsWorthAThread) {
        fillSets(fills.data(), fills.data() + fills.size(), m_paths);
    } else {
        std::thread second([&] { fillSets(fills.data() + split, fills.data() + fills.size(), m_paths); });
        fillSets(fills.data(), fills.data() + split, m_paths);
        second.join();
    }
    m_pendingNames.clear();
    m_pendingKeywords.clear();
    m_paths.clear();
}

IndexBuilder::NotedTokens IndexBuilder::takeNotedTokens()
{
    if (m_form != Form::maps)
        return {};
    NotedTokens noted { std::move(m_pendingNames), std::move(m_pendingKeywords), std::move(m_paths) };
    m_pendingNames.clear();
    m_pendingKeywords.clear();
    m_paths.clear();
    return noted;
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

// The pending tokens with each file given its path's id.
std::map<GroupID, TokenEntries> entriesOf(
    std::map<GroupID, IndexBuilder::PendingTokens>& pending, const std::vector<std::uint32_t>& ids)
{
    std::map<GroupID, TokenEntries> out;
    for (auto& [group, tokens] : pending) {
        TokenEntries& entries = out[group];
        entries.reserve(tokens.size());
        for (auto& [token, files] : tokens) {
            for (std::uint32_t& file : files)
                file = ids[file];
            entries.emplace_back(token, std::move(files));
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

CompactIndex IndexBuilder::compactRecords(const GroupRoots& roots, std::vector<std::uint32_t>& ids)
{
    if (m_form == Form::maps) {
        CompactIndex index = compactRecordsOf(directoryIndex, fileIndex, roots);
        ids.reserve(m_paths.size());
        for (const std::string* path : m_paths)
            ids.push_back(index.strings.find(*path));
        return index;
    }
    // The records go in exactly as compactRecordsOf would put in those of directoryIndex and fileIndex.
    CompactIndex index;
    index.strings.reserve(m_files.size() + 2 * m_folderAt.size(), 0);
    index.files.reserve(m_files.size());
    index.folders.reserve(m_folderAt.size());
    ids.assign(m_files.size(), kNoID);
    for (const auto& [path, at] : m_folderAt) {
        const Folder& folder = m_folders[at];
        index.beginFolder(path);
        IndexedFolder& record = index.folders.edit(index.folders.size() - 1);
        record.lastModified = folder.info.lastModified;
        record.hasContentModified = folder.info.contentModified.has_value();
        record.contentModified = folder.info.contentModified.value_or(0);
        record.hasInode = folder.info.inode.has_value();
        record.inode = folder.info.inode.value_or(0);
        for (const std::uint32_t file : folder.files) {
            index.files.push_back(index.recordFor(m_files[file]));
            ids[file] = std::as_const(index.files).back().path;
        }
        for (const auto& sub : folder.info.subdirectories)
            index.subdirectories.push_back(index.internPath(sub));
        index.endFolder();
    }
    index.indexFiles();
    // A folder walked twice (roots that overlap) lists what its later walk found; a file only its earlier
    // walk found is still a file the walk saw, kept as a record of its own with its latest values.
    std::unordered_map<std::uint32_t, std::uint32_t> loose; // path id -> the file's latest addition
    std::vector<std::uint32_t> looseOrder;
    for (std::uint32_t file = 0; file < m_files.size(); ++file) {
        if (ids[file] != kNoID)
            continue;
        ids[file] = index.internPath(m_files[file].path);
        if (index.fileOf[ids[file]] != kNoID)
            continue;
        if (loose.insert_or_assign(ids[file], file).second)
            looseOrder.push_back(ids[file]);
    }
    for (const std::uint32_t id : looseOrder) {
        index.files.push_back(index.recordFor(m_files[loose.at(id)]));
        index.fileOf.set(id, std::uint32_t(index.files.size() - 1));
        index.sortClassOf.set(id, std::as_const(index.files).back().sortClass);
        ++index.fileCount;
    }
    index.roots = roots;
    return index;
}

CompactIndex IndexBuilder::compact(const GroupRoots& roots)
{
    std::vector<std::uint32_t> ids; // the path id of every file added, in the order they were
    CompactIndex index = compactRecords(roots, ids);
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
