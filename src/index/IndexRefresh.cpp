#include "index/IndexRefresh.h"

#include <algorithm>

namespace kivo::index {

namespace {

std::string parentOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return {};
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool beginsWithFolder(const std::string& path, const std::string& folder)
{
    return path.size() > folder.size() + 1 && path.compare(0, folder.size(), folder) == 0
        && path[folder.size()] == '/';
}

void dropFrom(TokenIndex& tokens, const std::vector<std::string>& keys, const std::string& path)
{
    for (const auto& key : keys) {
        const auto it = tokens.find(key);
        if (it == tokens.end())
            continue;
        it->second.erase(path);
        if (it->second.empty())
            tokens.erase(it);
    }
}

void addSubdirectory(IndexMaps& maps, const std::string& folder)
{
    const auto parent = maps.directoryIndex.find(parentOf(folder));
    if (parent == maps.directoryIndex.end())
        return;
    auto& subs = parent->second.subdirectories;
    if (std::find(subs.begin(), subs.end(), folder) == subs.end())
        subs.push_back(folder);
}

} // namespace

namespace {

DirectorySnapshot snapshotOf(const DirectoryInfo& info, SnapshotContent content)
{
    DirectorySnapshot s;
    s.path = info.path;
    s.contentModified = info.contentModified;
    s.inode = info.inode;
    if (content == SnapshotContent::timesOnly)
        return s;
    std::size_t characters = 0;
    for (const auto& f : info.files)
        characters += f.path.size();
    s.filePaths.reserve(info.files.size(), characters);
    for (const auto& f : info.files)
        s.filePaths.push_back(f.path);
    for (const auto& sub : info.subdirectories)
        s.subdirectoryPaths.push_back(sub);
    return s;
}

} // namespace

std::vector<DirectorySnapshot> directorySnapshots(const IndexMaps& maps, SnapshotContent content)
{
    std::vector<DirectorySnapshot> out;
    out.reserve(maps.directoryIndex.size());
    for (const auto& [path, info] : maps.directoryIndex)
        out.push_back(snapshotOf(info, content));
    return out;
}

std::vector<DirectorySnapshot> directorySnapshots(
    const IndexMaps& maps, const std::vector<std::string>& folders)
{
    std::vector<DirectorySnapshot> out;
    for (const auto& folder : folders)
        if (const auto it = maps.directoryIndex.find(folder); it != maps.directoryIndex.end())
            out.push_back(snapshotOf(it->second, SnapshotContent::full));
    return out;
}

std::vector<std::pair<GroupID, std::string>> containingRoots(const IndexMaps& maps, const std::string& path)
{
    std::vector<std::pair<GroupID, std::string>> out;
    for (const auto& [group, roots] : maps.groupRoots) {
        const auto root = std::find_if(
            roots.begin(), roots.end(), [&](const std::string& r) { return isUnderRoot(path, r); });
        if (root != roots.end())
            out.emplace_back(group, *root);
    }
    return out;
}

void removeFile(IndexMaps& maps, const std::string& path)
{
    const auto it = maps.fileIndex.find(path);
    if (it == maps.fileIndex.end())
        return;
    const FileInfo file = std::move(it->second);
    maps.fileIndex.erase(it);
    if (const auto parent = maps.directoryIndex.find(parentOf(path)); parent != maps.directoryIndex.end())
        std::erase_if(parent->second.files, [&](const FileInfo& f) { return f.path == path; });
    const auto tokens = tokenize(file.name, 1);
    for (auto& [group, index] : maps.searchIndex)
        dropFrom(index, tokens, path);
    for (const auto& [group, root] : containingRoots(maps, path)) {
        if (const auto kw = maps.keywordIndex.find(group); kw != maps.keywordIndex.end())
            dropFrom(kw->second, keywordsForPath(path, root), path);
    }
}

std::vector<std::string> removeFolder(IndexMaps& maps, const std::string& path)
{
    std::vector<std::string> removed;
    for (const auto& [file, info] : maps.fileIndex)
        if (beginsWithFolder(file, path))
            removed.push_back(file);
    for (const auto& file : removed)
        removeFile(maps, file);
    std::erase_if(maps.directoryIndex,
        [&](const auto& entry) { return entry.first == path || beginsWithFolder(entry.first, path); });
    if (const auto parent = maps.directoryIndex.find(parentOf(path)); parent != maps.directoryIndex.end())
        std::erase(parent->second.subdirectories, path);
    return removed;
}

void addNewItems(IndexMaps& maps, const std::vector<std::string>& newFolders,
    const std::vector<std::string>& newFiles, FolderScanner& scanner)
{
    for (const auto& folder : newFolders) {
        for (const auto& [group, root] : containingRoots(maps, folder)) {
            if (scanner.cancelled())
                return;
            IndexBuilder builder;
            scanner.indexDirectory(folder, group, root, builder);
            if (scanner.cancelled())
                return;
            const bool walked = builder.directoryIndex.count(folder) > 0;
            builder.mergeInto(maps);
            if (walked)
                addSubdirectory(maps, folder);
        }
    }
    for (const auto& path : newFiles) {
        for (const auto& [group, root] : containingRoots(maps, path)) {
            std::optional<FolderValues> folderValues;
            FileInfo file = scanner.fileInfoFor(path, root, folderValues);
            IndexBuilder builder;
            builder.add(file, group, root);
            if (const auto parent = maps.directoryIndex.find(parentOf(path));
                parent != maps.directoryIndex.end()) {
                auto& files = parent->second.files;
                const auto same = std::find_if(
                    files.begin(), files.end(), [&](const FileInfo& f) { return f.path == path; });
                if (same == files.end())
                    files.push_back(file);
                else
                    *same = file;
            }
            builder.mergeInto(maps);
        }
    }
}

void applyFreshTimes(IndexMaps& maps, const std::map<std::string, double>& freshMTimes,
    const std::map<std::string, std::uint64_t>& freshInodes)
{
    for (const auto& [path, time] : freshMTimes) {
        const auto it = maps.directoryIndex.find(path);
        if (it == maps.directoryIndex.end())
            continue;
        it->second.contentModified = time;
        if (const auto inode = freshInodes.find(path); inode != freshInodes.end())
            it->second.inode = inode->second;
    }
}

void replaceRoot(IndexMaps& maps, const std::string& oldPath, const std::string& newPath,
    const std::vector<GroupID>& collections)
{
    for (const auto& group : collections) {
        const auto it = maps.groupRoots.find(group);
        if (it == maps.groupRoots.end())
            continue;
        std::replace(it->second.begin(), it->second.end(), oldPath, newPath);
    }
}

void reindexFolder(IndexMaps& maps, const std::string& path, const GroupID& groupID, FolderScanner& scanner)
{
    const auto it = maps.groupRoots.find(groupID);
    if (it == maps.groupRoots.end())
        return;
    const auto root = std::find_if(
        it->second.begin(), it->second.end(), [&](const std::string& r) { return isUnderRoot(path, r); });
    if (root == it->second.end())
        return;
    const std::string rootPath = *root;
    removeFolder(maps, path);
    IndexBuilder builder;
    scanner.indexDirectory(path, groupID, rootPath, builder);
    if (scanner.cancelled())
        return;
    const bool walked = builder.directoryIndex.count(path) > 0;
    builder.mergeInto(maps);
    // The folder is still there: its parent keeps listing it.
    if (walked)
        addSubdirectory(maps, path);
}

void applyQuickRefreshDelta(IndexMaps& maps, const QuickRefreshDelta& delta, FolderScanner& scanner)
{
    for (const auto& file : delta.removedFiles)
        removeFile(maps, file);
    for (const auto& folder : delta.removedFolders)
        removeFolder(maps, folder);
    addNewItems(maps, delta.newFolders, delta.newFiles, scanner);
    applyFreshTimes(maps, delta.freshMTimes, delta.freshInodes);
}

} // namespace kivo::index
