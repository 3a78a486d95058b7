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
    fileIndex.insert_or_assign(file.path, file);
    auto& names = searchIndex[groupID];
    for (const auto& token : tokenize(file.name, 1))
        names[token].insert(file.path);
    auto& keywords = keywordIndex[groupID];
    for (const auto& keyword : folderKeywords)
        keywords[keyword].insert(file.path);
}

void IndexBuilder::mergeInto(IndexMaps& maps)
{
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
