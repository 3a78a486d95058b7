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

void materialize(std::map<GroupID, std::unordered_map<std::string, std::vector<const std::string*>>>& pending,
    GroupTokenIndex& out)
{
    for (auto& [group, tokens] : pending) {
        auto& index = out[group];
        index.reserve(index.size() + tokens.size());
        for (auto& [token, paths] : tokens) {
            auto& set = index[token];
            // A little slack, so that the few additions of a later sync do not rehash the biggest sets.
            set.reserve((set.size() + paths.size()) * 5 / 4);
            for (const std::string* p : paths)
                set.insert(*p);
        }
    }
    pending.clear();
}

} // namespace

void IndexBuilder::finish()
{
    if (m_pendingNames.empty() && m_pendingKeywords.empty())
        return;
    // The two indexes share nothing but the (unchanging) file paths: build them on two cores.
    std::thread keywords([this] { materialize(m_pendingKeywords, keywordIndex); });
    materialize(m_pendingNames, searchIndex);
    keywords.join();
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

} // namespace kivo::index
