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
        std::vector<std::pair<TokenIndex*, std::vector<std::string>>> lists;
        std::size_t files = 0;
    };
    std::unordered_map<std::string_view, FolderKeywords> byFolder;
    for (const auto& [path, file] : maps.fileIndex) {
        auto [entry, isNew] = byFolder.try_emplace(parentPath(path));
        ++entry->second.files;
        if (!isNew)
            continue;
        for (const auto& [group, roots] : maps.groupRoots) {
            const auto root = std::find_if(roots.begin(), roots.end(),
                [&, &path = path](const std::string& r) { return isUnderRoot(path, r); });
            if (root != roots.end())
                entry->second.lists.emplace_back(&maps.keywordIndex[group], keywordsForPath(path, *root));
        }
    }
    // Each set looked up and sized once per folder before it is filled: growing millions of sets
    // step by step, and finding each one again for every file, cost more than the inserts.
    std::unordered_map<std::string_view, std::vector<PathSet*>> setsOf;
    std::unordered_map<PathSet*, std::size_t> sizes;
    for (const auto& [folder, entry] : byFolder) {
        auto& sets = setsOf[folder];
        for (const auto& [tokens, keywords] : entry.lists) {
            for (const auto& keyword : keywords) {
                PathSet* set = &(*tokens)[keyword];
                sets.push_back(set);
                sizes[set] += entry.files;
            }
        }
    }
    for (const auto& [set, size] : sizes)
        set->reserve(size);
    for (const auto& [path, file] : maps.fileIndex)
        for (PathSet* set : setsOf.at(parentPath(path)))
            set->insert(path);
}

void rebuildFileIndex(IndexMaps& maps)
{
    maps.fileIndex.clear();
    for (const auto& [folder, info] : maps.directoryIndex)
        for (const auto& file : info.files)
            maps.fileIndex.insert_or_assign(file.path, file);
}

} // namespace kivo::index
