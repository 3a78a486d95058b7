#include "index/IndexRefresh.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

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

namespace {

DirectorySnapshot snapshotOf(const CompactIndex& index, const IndexedFolder& folder, SnapshotContent content)
{
    DirectorySnapshot s;
    s.path = index.path(folder.ownPath);
    if (folder.hasContentModified)
        s.contentModified = folder.contentModified;
    if (folder.hasInode)
        s.inode = folder.inode;
    if (content == SnapshotContent::timesOnly)
        return s;
    std::size_t characters = 0;
    for (const auto& f : index.filesOf(folder))
        characters += index.path(f.path).size();
    s.filePaths.reserve(folder.fileCount, characters);
    for (const auto& f : index.filesOf(folder))
        s.filePaths.push_back(index.path(f.path));
    for (const auto sub : index.subdirectoriesOf(folder))
        s.subdirectoryPaths.push_back(index.path(sub));
    return s;
}

} // namespace

std::vector<DirectorySnapshot> directorySnapshots(const CompactIndex& index, SnapshotContent content)
{
    std::vector<DirectorySnapshot> out;
    out.reserve(index.folderCount);
    for (std::size_t f = 0; f < index.folders.size(); ++f)
        if (index.isCurrent(f))
            out.push_back(snapshotOf(index, index.folders[f], content));
    return out;
}

std::vector<DirectorySnapshot> directorySnapshots(
    const CompactIndex& index, const std::vector<std::string>& folders)
{
    std::vector<DirectorySnapshot> out;
    for (const auto& path : folders)
        if (const IndexedFolder* folder = index.folder(path))
            out.push_back(snapshotOf(index, *folder, SnapshotContent::full));
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
    removeFiles(maps, { path });
}

void removeFiles(IndexMaps& maps, const std::vector<std::string>& paths)
{
    // Each folder's list is filtered once for all its removed files: one at a time, removing every
    // file of a large folder would cost the square of its size.
    std::unordered_map<std::string, std::unordered_set<std::string_view>> byParent;
    for (const auto& path : paths) {
        const auto it = maps.fileIndex.find(path);
        if (it == maps.fileIndex.end())
            continue;
        const auto tokens = tokenize(it->second.name, 1);
        maps.fileIndex.erase(it);
        byParent[parentOf(path)].insert(path);
        for (auto& [group, index] : maps.searchIndex)
            dropFrom(index, tokens, path);
        for (const auto& [group, root] : containingRoots(maps, path)) {
            if (const auto kw = maps.keywordIndex.find(group); kw != maps.keywordIndex.end())
                dropFrom(kw->second, keywordsForPath(path, root), path);
        }
    }
    for (const auto& entry : byParent)
        if (const auto folder = maps.directoryIndex.find(entry.first); folder != maps.directoryIndex.end())
            std::erase_if(
                folder->second.files, [&](const FileInfo& f) { return entry.second.contains(f.path); });
}

std::vector<std::string> removeFolder(IndexMaps& maps, const std::string& path)
{
    // The folder's records from the folder down, through their lists of sub-folders: the cost is that
    // of the part removed, not of the library.
    std::vector<std::string> folders, removed;
    std::vector<std::string> pending { path };
    while (!pending.empty()) {
        std::string folder = std::move(pending.back());
        pending.pop_back();
        const auto it = maps.directoryIndex.find(folder);
        if (it == maps.directoryIndex.end())
            continue;
        for (const auto& file : it->second.files)
            if (beginsWithFolder(file.path, path))
                removed.push_back(file.path);
        for (const auto& sub : it->second.subdirectories)
            if (beginsWithFolder(sub, path))
                pending.push_back(sub);
        folders.push_back(std::move(folder));
    }
    removeFiles(maps, removed);
    for (const auto& folder : folders)
        maps.directoryIndex.erase(folder);
    if (const auto parent = maps.directoryIndex.find(parentOf(path)); parent != maps.directoryIndex.end())
        std::erase(parent->second.subdirectories, path);
    return removed;
}

PreparedItems prepareNewItems(const IndexMaps& maps, const std::vector<std::string>& newFolders,
    const std::vector<std::string>& newFiles, FolderScanner& scanner)
{
    PreparedItems prepared;
    for (const auto& folder : newFolders) {
        for (const auto& [group, root] : containingRoots(maps, folder)) {
            if (scanner.cancelled())
                return prepared;
            IndexBuilder builder;
            scanner.indexDirectory(folder, group, root, builder);
            if (scanner.cancelled())
                return prepared;
            prepared.folders.push_back({ folder, std::move(builder) });
        }
    }
    for (const auto& path : newFiles) {
        for (const auto& [group, root] : containingRoots(maps, path)) {
            if (scanner.cancelled())
                return prepared;
            std::optional<FolderValues> folderValues;
            FileInfo file = scanner.fileInfoFor(path, root, folderValues);
            prepared.files.add(file, group, root);
            prepared.fileRecords.push_back(std::move(file));
        }
    }
    return prepared;
}

void addPreparedItems(IndexMaps& maps, PreparedItems&& prepared)
{
    for (auto& [folder, builder] : prepared.folders) {
        const bool walked = builder.directoryIndex.count(folder) > 0;
        builder.mergeInto(maps);
        if (walked)
            addSubdirectory(maps, folder);
    }
    // Each folder's list is indexed once, so that adding many files to one folder costs what they
    // cost, not the square of the folder's size.
    std::unordered_map<std::string, std::unordered_map<std::string, std::size_t>> positions;
    for (auto& file : prepared.fileRecords) {
        const std::string parentPath = parentOf(file.path);
        const auto parent = maps.directoryIndex.find(parentPath);
        if (parent == maps.directoryIndex.end())
            continue;
        auto& files = parent->second.files;
        auto [known, isNew] = positions.try_emplace(parentPath);
        if (isNew)
            for (std::size_t i = 0; i < files.size(); ++i)
                known->second.emplace(files[i].path, i);
        const auto same = known->second.find(file.path);
        if (same == known->second.end()) {
            known->second.emplace(file.path, files.size());
            files.push_back(std::move(file));
        } else {
            files[same->second] = std::move(file);
        }
    }
    prepared.files.mergeInto(maps);
}

void addNewItems(IndexMaps& maps, const std::vector<std::string>& newFolders,
    const std::vector<std::string>& newFiles, FolderScanner& scanner)
{
    PreparedItems prepared = prepareNewItems(maps, newFolders, newFiles, scanner);
    if (!scanner.cancelled())
        addPreparedItems(maps, std::move(prepared));
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

void applyQuickRefreshDelta(IndexMaps& maps, const QuickRefreshDelta& delta, FolderScanner& scanner)
{
    removeFiles(maps, delta.removedFiles);
    for (const auto& folder : delta.removedFolders)
        removeFolder(maps, folder);
    addNewItems(maps, delta.newFolders, delta.newFiles, scanner);
    applyFreshTimes(maps, delta.freshMTimes, delta.freshInodes);
}

void applyQuickRefreshDelta(IndexMaps& maps, const QuickRefreshDelta& delta, PreparedItems&& prepared)
{
    removeFiles(maps, delta.removedFiles);
    for (const auto& folder : delta.removedFolders)
        removeFolder(maps, folder);
    addPreparedItems(maps, std::move(prepared));
    applyFreshTimes(maps, delta.freshMTimes, delta.freshInodes);
}

} // namespace kivo::index
