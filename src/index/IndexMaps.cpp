#include "index/IndexMaps.h"

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
    for (const auto& [path, file] : maps.fileIndex) {
        for (const auto& [group, roots] : maps.groupRoots) {
            for (const auto& root : roots) {
                if (!isUnderRoot(path, root))
                    continue;
                TokenIndex& tokens = maps.keywordIndex[group];
                for (auto& keyword : keywordsForPath(path, root))
                    tokens[std::move(keyword)].insert(path);
                break;
            }
        }
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
