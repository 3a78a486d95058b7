#include "index/IndexBuilder.h"

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
    maps.directoryIndex = std::move(directoryIndex);
    maps.searchIndex = std::move(searchIndex);
    maps.keywordIndex = std::move(keywordIndex);
    maps.fileIndex = std::move(fileIndex);
    *this = IndexBuilder();
}

} // namespace kivo::index
