#include "index/IndexMaps.h"

#include <algorithm>

namespace kivo::index {

std::vector<GroupID> groupsContaining(const IndexMaps& maps, std::string_view path)
{
    std::vector<GroupID> out;
    for (const auto& [group, roots] : maps.groupRoots) {
        for (const auto& root : roots) {
            if (isUnderRoot(path, root)) {
                out.push_back(group);
                break;
            }
        }
    }
    return out;
}

void rebuildKeywordIndex(IndexMaps& maps)
{
    maps.keywordIndex.clear();
    // Every file of a folder has the same collections and keywords: work them out once per folder.
    struct FolderKeywords {
        TokenIndex* tokens;
        std::vector<std::string> keywords;
    };
    std::unordered_map<std::string_view, std::vector<FolderKeywords>> byFolder;
    for (const auto& [path, file] : maps.fileIndex) {
        const std::string_view folder = parentPath(path);
        auto [entry, isNew] = byFolder.try_emplace(folder);
        if (isNew) {
            for (const auto& [group, roots] : maps.groupRoots) {
                const auto root = std::find_if(
                    roots.begin(), roots.end(), [&](const std::string& r) { return isUnderRoot(path, r); });
                if (root != roots.end())
                    entry->second.push_back({ &maps.keywordIndex[group], keywordsForPath(path, *root) });
            }
        }
        for (const auto& [tokens, keywords] : entry->second)
            for (const auto& keyword : keywords)
                (*tokens)[keyword].insert(path);
    }
}

void rebuildFileIndex(IndexMaps& maps)
{
    maps.fileIndex.clear();
    for (const auto& [folder, info] : maps.directoryIndex)
        for (const auto& file : info.files)
            maps.fileIndex.insert_or_assign(file.path, file);
}

} // namespace kivo::index
