#include "index/CompactPatch.h"

#include <algorithm>
#include <unordered_set>
#include <utility>

namespace kivo::index {

namespace {

// Every collection with a root the path lies under, and that collection's first such root.
std::vector<std::pair<GroupID, std::string>> containingRoots(const GroupRoots& roots, std::string_view path)
{
    std::vector<std::pair<GroupID, std::string>> out;
    for (const auto& [group, list] : roots) {
        const auto root = std::find_if(
            list.begin(), list.end(), [&](const std::string& r) { return isUnderRoot(path, r); });
        if (root != list.end())
            out.emplace_back(group, *root);
    }
    return out;
}

} // namespace

CompactPatch::CompactPatch(CompactIndex index)
    : m_index(std::move(index))
{
}

CompactPatch::FolderEdit* CompactPatch::edit(std::string_view folderPath)
{
    const std::uint32_t id = m_index.strings.find(folderPath);
    if (id == kNoID || m_index.folderOf[id] == kNoID)
        return nullptr;
    const auto [at, added] = m_edits.try_emplace(id);
    if (added) {
        at->second.folder = m_index.folderOf[id];
        const auto subs = m_index.subdirectoriesOf(m_index.folders[at->second.folder]);
        at->second.subdirectories.assign(subs.begin(), subs.end());
    }
    return &at->second;
}

void CompactPatch::dropFile(std::uint32_t id)
{
    m_index.fileOf.set(id, kNoID);
    m_index.sortClassOf.set(id, SortClasses::kNone);
    --m_index.fileCount;
}

void CompactPatch::removeFiles(const std::vector<std::string>& paths)
{
    for (const auto& path : paths) {
        const std::uint32_t id = m_index.strings.find(path);
        if (id == kNoID || m_index.fileOf[id] == kNoID)
            continue;
        const auto tokens = tokenize(m_index.nameOf(m_index.files[m_index.fileOf[id]]), 1);
        for (const auto& [group, postings] : m_index.names)
            for (const auto& token : tokens)
                m_names[group][token].removed.push_back(id);
        for (const auto& [group, root] : containingRoots(m_index.roots, path))
            if (m_index.keywords.contains(group))
                for (const auto& keyword : keywordsForPath(path, root))
                    m_keywords[group][keyword].removed.push_back(id);
        dropFile(id);
        if (FolderEdit* folder = edit(parentPath(path)))
            folder->removedFiles.push_back(id);
    }
}

CompactPatch::Subtree CompactPatch::subtree(std::string_view top) const
{
    // From the folder down through the lists of sub-folders: the cost is that of the part found.
    Subtree out;
    std::unordered_set<std::uint32_t> seen;
    std::vector<std::uint32_t> pending { m_index.strings.find(top) };
    while (!pending.empty()) {
        const std::uint32_t id = pending.back();
        pending.pop_back();
        if (id == kNoID || m_index.folderOf[id] == kNoID || !seen.insert(id).second)
            continue;
        const IndexedFolder& record = m_index.folders[m_index.folderOf[id]];
        for (const auto& file : m_index.filesOf(record))
            if (isUnderRoot(m_index.path(file.path), top))
                out.files.push_back(file.path);
        const auto edited = m_edits.find(id);
        const auto subs = edited != m_edits.end()
            ? std::span<const std::uint32_t>(edited->second.subdirectories)
            : m_index.subdirectoriesOf(record);
        for (const auto sub : subs)
            if (isUnderRoot(m_index.path(sub), top))
                pending.push_back(sub);
        out.folders.push_back(id);
    }
    return out;
}

std::vector<std::string> CompactPatch::removeFolder(const std::string& path)
{
    const Subtree removed = subtree(path);
    std::vector<std::string> files;
    for (const auto id : removed.files)
        files.emplace_back(m_index.path(id));
    removeFiles(files);
    for (const auto id : removed.folders) {
        m_index.folderOf.set(id, kNoID);
        --m_index.folderCount;
        m_edits.erase(id);
    }
    if (FolderEdit* parent = edit(parentPath(path))) {
        const std::uint32_t id = m_index.strings.find(path);
        std::erase(parent->subdirectories, id);
    }
    return files;
}

void CompactPatch::removeRoots(const std::vector<std::string>& roots, const GroupID& group)
{
    const auto listed = m_index.roots.find(group);
    if (listed == m_index.roots.end())
        return;
    std::vector<Subtree> removed;
    for (const auto& root : roots)
        removed.push_back(subtree(root));
    // Each file leaves the tokens it was given: its name's, and the keywords of its path below the
    // collection's first root holding it (looked up before the roots go).
    const bool names = m_index.names.contains(group), keywords = m_index.keywords.contains(group);
    for (const auto& part : removed)
        for (const auto id : part.files) {
            const std::uint32_t record = m_index.fileOf[id];
            if (record == kNoID)
                continue;
            if (names)
                for (const auto& token : tokenize(m_index.nameOf(m_index.files[record]), 1))
                    m_names[group][token].removed.push_back(id);
            const std::string_view path = m_index.path(id);
            const auto root = std::find_if(listed->second.begin(), listed->second.end(),
                [&](const std::string& r) { return isUnderRoot(path, r); });
            if (keywords && root != listed->second.end())
                for (const auto& keyword : keywordsForPath(path, *root))
                    m_keywords[group][keyword].removed.push_back(id);
        }
    std::erase_if(listed->second,
        [&](const std::string& r) { return std::find(roots.begin(), roots.end(), r) != roots.end(); });
    dropRecordsUnder(removed);
}

void CompactPatch::removeGroups(const std::set<GroupID>& groups)
{
    std::vector<Subtree> removed;
    for (const auto& group : groups) {
        if (const auto listed = m_index.roots.find(group); listed != m_index.roots.end()) {
            for (const auto& root : listed->second)
                removed.push_back(subtree(root));
            m_index.roots.erase(listed);
        }
        m_index.names.erase(group);
        m_index.keywords.erase(group);
        m_names.erase(group);
        m_keywords.erase(group);
    }
    dropRecordsUnder(removed);
}

void CompactPatch::dropRecordsUnder(const std::vector<Subtree>& removed)
{
    const auto held = [&](std::uint32_t id) {
        const std::string_view path = m_index.path(id);
        for (const auto& [group, list] : m_index.roots)
            for (const auto& root : list)
                if (isUnderRoot(path, root))
                    return true;
        return false;
    };
    // A record kept is under a root that remains, and so is everything its folder lists: no list of a
    // folder that stays changes.
    for (const auto& part : removed) {
        for (const auto id : part.files)
            if (m_index.fileOf[id] != kNoID && !held(id))
                dropFile(id);
        for (const auto id : part.folders)
            if (m_index.folderOf[id] != kNoID && !held(id)) {
                m_index.folderOf.set(id, kNoID);
                --m_index.folderCount;
                m_edits.erase(id);
            }
    }
}

void CompactPatch::addTokens(GroupTokenIndex&& tokens, Changes& into)
{
    for (auto& [group, byToken] : tokens)
        for (auto& [token, paths] : byToken) {
            auto& added = into[group][token].added;
            for (const auto& path : paths)
                added.push_back(m_index.internPath(path));
        }
}

void CompactPatch::addNotedTokens(std::map<GroupID, IndexBuilder::PendingTokens>&& tokens,
    const std::vector<std::uint32_t>& ids, Changes& into)
{
    for (auto& [group, byToken] : tokens) {
        auto& changes = into[group];
        for (auto& [token, files] : byToken) {
            auto& added = changes[token].added;
            added.reserve(added.size() + files.size());
            for (const auto file : files)
                added.push_back(ids[file]);
        }
    }
}

void CompactPatch::addWalk(IndexBuilder&& walk, const std::string& top, Listing listing)
{
    // The walk's tokens go in by their files' ids, each path looked up once, rather than made into
    // sets of paths that would each be looked up again, token after token, in a table the size of the
    // library.
    IndexBuilder::NotedTokens noted = walk.takeNotedTokens();
    walk.finish();
    std::unordered_map<std::uint32_t, std::uint32_t> placed; // path id -> its record
    for (const auto& [path, info] : walk.directoryIndex) {
        // The walk's record is fresher than the state's and replaces it with any change pending.
        if (const std::uint32_t id = m_index.strings.find(path); id != kNoID)
            m_edits.erase(id);
        const auto first = std::uint32_t(m_index.files.size());
        m_index.addFolder(path, info);
        for (auto at = first; at < m_index.files.size(); ++at)
            placed[std::as_const(m_index.files)[at].path] = at;
    }
    for (const auto& [path, file] : walk.fileIndex) {
        const std::uint32_t id = m_index.internPath(path);
        auto at = placed.find(id);
        if (at == placed.end()) {
            m_index.files.push_back(m_index.recordFor(file));
            at = placed.emplace(id, std::uint32_t(m_index.files.size() - 1)).first;
        }
        m_index.fileCount += m_index.fileOf[id] == kNoID;
        m_index.fileOf.set(id, at->second);
        m_index.sortClassOf.set(id, m_index.files[at->second].sortClass);
    }
    const bool walked = walk.directoryIndex.contains(top);
    // Every path was interned with its folder or record above: these are found, none is added.
    std::vector<std::string_view> paths;
    paths.reserve(noted.paths.size());
    for (const std::string* path : noted.paths)
        paths.emplace_back(*path);
    std::vector<std::uint32_t> ids;
    ids.reserve(paths.size());
    m_index.internPaths(paths, ids);
    addNotedTokens(std::move(noted.names), ids, m_names);
    addNotedTokens(std::move(noted.keywords), ids, m_keywords);
    addTokens(std::move(walk.searchIndex), m_names);
    addTokens(std::move(walk.keywordIndex), m_keywords);
    walk = IndexBuilder();
    if (listing == Listing::inParent && walked)
        if (FolderEdit* parent = edit(parentPath(top))) {
            const std::uint32_t id = m_index.internPath(top);
            if (std::find(parent->subdirectories.begin(), parent->subdirectories.end(), id)
                == parent->subdirectories.end())
                parent->subdirectories.push_back(id);
        }
}

void CompactPatch::addFiles(std::vector<FileInfo>&& records, IndexBuilder&& tokens)
{
    for (auto& record : records) {
        if (FolderEdit* folder = edit(parentPath(record.path))) {
            folder->addedFiles.push_back(std::move(record));
            continue;
        }
        // No folder lists it: the file index keeps it all the same, as a record of its own.
        const std::uint32_t id = m_index.internPath(record.path);
        m_index.files.push_back(m_index.recordFor(record));
        m_index.fileCount += m_index.fileOf[id] == kNoID;
        m_index.fileOf.set(id, std::uint32_t(m_index.files.size() - 1));
        m_index.sortClassOf.set(id, std::as_const(m_index.files).back().sortClass);
    }
    tokens.finish();
    addTokens(std::move(tokens.searchIndex), m_names);
    addTokens(std::move(tokens.keywordIndex), m_keywords);
}

void CompactPatch::applyFreshTimes(
    const std::map<std::string, double>& freshMTimes, const std::map<std::string, std::uint64_t>& freshInodes)
{
    // The state is the patch's own copy: records are changed in place, and an edited folder's new
    // record starts from its old one.
    m_index.setFolderTimes(freshMTimes, freshInodes);
}

CompactIndex CompactPatch::finish()
{
    for (auto& [folderID, change] : m_edits) {
        IndexedFolder folder = m_index.folders[change.folder];
        std::sort(change.removedFiles.begin(), change.removedFiles.end());
        // A path added twice keeps its last record, in the place of its first.
        std::unordered_map<std::uint32_t, std::size_t> latest;
        std::vector<std::uint32_t> addedIDs;
        for (std::size_t i = 0; i < change.addedFiles.size(); ++i) {
            const std::uint32_t id = m_index.internPath(change.addedFiles[i].path);
            addedIDs.push_back(id);
            latest[id] = i;
        }
        const auto place = [&](IndexedFile record, std::uint32_t replacedAt) {
            const std::uint32_t id = record.path;
            m_index.files.push_back(record);
            const auto at = std::uint32_t(m_index.files.size() - 1);
            if (replacedAt == kNoID || m_index.fileOf[id] == replacedAt) {
                m_index.fileCount += m_index.fileOf[id] == kNoID;
                m_index.fileOf.set(id, at);
                m_index.sortClassOf.set(id, record.sortClass);
            }
        };
        const std::uint32_t first = folder.firstFile, count = folder.fileCount;
        folder.firstFile = std::uint32_t(m_index.files.size());
        for (std::uint32_t i = first; i < first + count; ++i) {
            const IndexedFile record = m_index.files[i];
            if (std::binary_search(change.removedFiles.begin(), change.removedFiles.end(), record.path))
                continue;
            if (const auto added = latest.find(record.path); added != latest.end()) {
                place(m_index.recordFor(change.addedFiles[added->second]), kNoID);
                latest.erase(added);
            } else {
                place(record, i);
            }
        }
        for (const auto id : addedIDs)
            if (const auto added = latest.find(id); added != latest.end()) {
                place(m_index.recordFor(change.addedFiles[added->second]), kNoID);
                latest.erase(added);
            }
        folder.fileCount = std::uint32_t(m_index.files.size() - folder.firstFile);
        folder.firstSub = std::uint32_t(m_index.subdirectories.size());
        m_index.subdirectories.append(change.subdirectories);
        folder.subCount = std::uint32_t(change.subdirectories.size());
        m_index.folders.push_back(folder);
        m_index.folderOf.set(folderID, std::uint32_t(m_index.folders.size() - 1));
    }
    m_edits.clear();
    for (const auto& [changes, postings] :
        { std::pair { &m_names, &m_index.names }, { &m_keywords, &m_index.keywords } })
        for (const auto& [group, change] : *changes) {
            const auto found = postings->find(group);
            TokenPostings next = (found != postings->end() ? found->second : TokenPostings()).patched(change);
            postings->insert_or_assign(group, std::move(next));
        }
    m_names.clear();
    m_keywords.clear();
    layOutAfresh();
    return std::move(m_index);
}

void CompactPatch::layOutAfresh()
{
    // Records and paths left behind by earlier patches: once they outweigh the live ones, the state is
    // made again from what is live, which costs the library's size but only once per doubling.
    const std::size_t live = m_index.fileCount + m_index.folderCount;
    if (m_index.files.size() + m_index.folders.size() <= 2 * live + 65536
        && m_index.strings.size() <= 2 * live + 65536)
        return;
    m_index = compactIndexOf(mapsOf(m_index));
}

} // namespace kivo::index
