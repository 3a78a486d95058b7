#include "index/CompactIndex.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <unordered_map>

namespace kivo::index {

namespace {

std::uint32_t hashOf(std::string_view text)
{
    const std::size_t h = std::hash<std::string_view>()(text);
    return std::uint32_t(h ^ (h >> 32));
}

std::uint32_t checkedSize(std::size_t size)
{
    // Four gigabytes of path text is far beyond any library; refuse rather than wrap around.
    if (size >= kNoID)
        throw std::length_error("the index has outgrown its 32-bit offsets");
    return std::uint32_t(size);
}

std::string_view lastComponent(std::string_view path)
{
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

} // namespace

std::string_view sortExtension(std::string_view path)
{
    // Read from the end: only the last few bytes of a path are looked at.
    for (std::size_t at = path.size(); at > 0; --at) {
        const char c = path[at - 1];
        if (c == '/')
            return {};
        if (c == '.')
            return at - 1 == 0 || path[at - 2] == '/' ? std::string_view() : path.substr(at);
    }
    return {};
}

std::size_t SortClasses::hash(const Slot& slot)
{
    return std::size_t(
        (slot.extension * 0x9E3779B97F4A7C15ULL ^ slot.tempo * 0xC2B2AE3D27D4EB4FULL ^ slot.shape) >> 17);
}

std::uint16_t SortClasses::classify(std::string_view extension, bool hasBpm, std::int64_t bpm)
{
    if (extension.size() > 8) {
        const auto key = std::make_pair(
            std::string(extension), hasBpm ? std::optional<std::int64_t>(bpm) : std::nullopt);
        if (const auto found = m_long.find(key); found != m_long.end())
            return found->second;
        const std::uint16_t added = add(extension, hasBpm, bpm);
        if (added != kNone)
            m_long.emplace(key, added);
        return added;
    }
    Slot probe;
    if (!extension.empty()) // a cache may carry a file with no extension, whose data() may be null
        std::memcpy(&probe.extension, extension.data(), extension.size());
    probe.tempo = hasBpm ? std::uint64_t(bpm) : 0;
    probe.shape = std::uint32_t(extension.size()) << 1 | std::uint32_t(hasBpm);
    std::size_t at = hash(probe) & (m_slots.size() - 1);
    for (;; at = (at + 1) & (m_slots.size() - 1)) {
        const Slot& slot = m_slots[at];
        if (slot.place == kNoID)
            break;
        if (slot.extension == probe.extension && slot.tempo == probe.tempo && slot.shape == probe.shape)
            return std::uint16_t(slot.place);
    }
    const std::uint16_t added = add(extension, hasBpm, bpm);
    if (added == kNone)
        return kNone;
    probe.place = added;
    m_slots[at] = probe;
    if (m_classes.size() * 2 > m_slots.size())
        grow();
    return added;
}

std::uint16_t SortClasses::add(std::string_view extension, bool hasBpm, std::int64_t bpm)
{
    if (m_classes.size() >= kNone) {
        m_overflowed = true;
        return kNone;
    }
    m_classes.push_back({ std::string(extension), hasBpm ? std::optional<std::int64_t>(bpm) : std::nullopt });
    return std::uint16_t(m_classes.size() - 1);
}

void SortClasses::grow()
{
    std::vector<Slot> old(m_slots.size() * 2);
    old.swap(m_slots);
    for (const Slot& slot : old) {
        if (slot.place == kNoID)
            continue;
        std::size_t at = hash(slot) & (m_slots.size() - 1);
        while (m_slots[at].place != kNoID)
            at = (at + 1) & (m_slots.size() - 1);
        m_slots[at] = slot;
    }
}

StringTable::StringTable()
{
    m_starts.push_back(0);
    m_slots.assign(16, 0);
}

namespace {

constexpr std::uint64_t slotOf(std::uint32_t hash, std::uint32_t id)
{
    return std::uint64_t(hash) << 32 | (id + 1);
}

constexpr std::uint32_t slotHash(std::uint64_t slot)
{
    return std::uint32_t(slot >> 32);
}

constexpr std::uint32_t slotID(std::uint64_t slot)
{
    return std::uint32_t(slot) - 1;
}

} // namespace

void StringTable::rehash(std::size_t slots)
{
    const ChunkedArray<std::uint64_t> old = std::move(m_slots);
    m_slots.assign(slots, 0);
    const std::size_t mask = slots - 1;
    for (std::size_t i = 0; i < old.size(); ++i) {
        const std::uint64_t slot = old[i];
        if (!slot)
            continue;
        std::size_t at = slotHash(slot) & mask;
        while (m_slots[at])
            at = (at + 1) & mask;
        m_slots.set(at, slot);
    }
}

void StringTable::reserve(std::size_t strings, std::size_t bytes)
{
    m_text.reserve(bytes);
    m_starts.reserve(strings + 1);
    std::size_t slots = m_slots.size();
    while (slots < strings * 2)
        slots *= 2;
    if (slots != m_slots.size())
        rehash(slots);
}

void StringTable::grow()
{
    reserve(size() * 2 + 8, 0);
}

std::uint32_t StringTable::find(std::string_view text) const
{
    const std::uint32_t hash = hashOf(text);
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t at = hash & mask; m_slots[at]; at = (at + 1) & mask) {
        const std::uint64_t slot = m_slots[at];
        if (slotHash(slot) == hash && view(slotID(slot)) == text)
            return slotID(slot);
    }
    return kNoID;
}

std::uint32_t StringTable::add(std::string_view text, std::uint32_t hash, std::size_t at)
{
    const std::uint32_t id = checkedSize(size());
    m_text.append(text);
    m_starts.push_back(checkedSize(m_text.size()));
    m_slots.set(at, slotOf(hash, id));
    return id;
}

std::uint32_t StringTable::intern(std::string_view text)
{
    if (size() * 2 >= m_slots.size())
        grow();
    const std::uint32_t hash = hashOf(text);
    const std::size_t mask = m_slots.size() - 1;
    std::size_t at = hash & mask;
    for (; m_slots[at]; at = (at + 1) & mask) {
        const std::uint64_t slot = m_slots[at];
        if (slotHash(slot) == hash && view(slotID(slot)) == text)
            return slotID(slot);
    }
    return add(text, hash, at);
}

void StringTable::internAll(std::span<const std::string_view> texts, std::vector<std::uint32_t>& ids)
{
    // Sized first, so that the slots fetched ahead stay where they are. Sized in one step: growing by
    // the present size alone never catches up with a batch larger than the table.
    reserve(size() + texts.size() + 1, 0);
    // A string already present costs three reads that miss the caches one after the other: its slot,
    // its start and its text. They are fetched in stages, each some strings ahead of the next, so that
    // the misses of many strings overlap. The stages only guess (a string added meanwhile may take a
    // slot); the lookup itself is the ordinary one.
    constexpr std::size_t kStep = 8;
    constexpr std::size_t kRing = 4 * kStep;
    std::uint32_t hashes[kRing];
    std::uint32_t guesses[kRing];
    const std::size_t mask = m_slots.size() - 1;
    const std::size_t count = texts.size();
    const auto hashAhead = [&](std::size_t i) {
        hashes[i % kRing] = hashOf(texts[i]);
        __builtin_prefetch(&m_slots[hashes[i % kRing] & mask]);
    };
    const auto slotAhead = [&](std::size_t i) {
        const std::uint32_t hash = hashes[i % kRing];
        const std::uint64_t slot = m_slots[hash & mask];
        guesses[i % kRing] = slot && slotHash(slot) == hash ? slotID(slot) : kNoID;
        if (guesses[i % kRing] != kNoID)
            __builtin_prefetch(&m_starts[guesses[i % kRing]]);
    };
    const auto textAhead = [&](std::size_t i) {
        const std::uint32_t guess = guesses[i % kRing];
        if (guess == kNoID || guess >= size() || texts[i].empty())
            return;
        const char* at = m_text.data() + m_starts[guess];
        __builtin_prefetch(at);
        __builtin_prefetch(at + texts[i].size() - 1);
    };
    for (std::size_t i = 0; i < std::min(3 * kStep, count); ++i)
        hashAhead(i);
    for (std::size_t i = 0; i < std::min(2 * kStep, count); ++i)
        slotAhead(i);
    for (std::size_t i = 0; i < std::min(kStep, count); ++i)
        textAhead(i);
    ids.reserve(ids.size() + count);
    for (std::size_t i = 0; i < count; ++i) {
        if (i + 3 * kStep < count)
            hashAhead(i + 3 * kStep);
        if (i + 2 * kStep < count)
            slotAhead(i + 2 * kStep);
        if (i + kStep < count)
            textAhead(i + kStep);
        const std::uint32_t hash = hashes[i % kRing];
        std::size_t at = hash & mask;
        std::uint32_t found = kNoID;
        for (; m_slots[at]; at = (at + 1) & mask) {
            const std::uint64_t slot = m_slots[at];
            if (slotHash(slot) == hash && view(slotID(slot)) == texts[i]) {
                found = slotID(slot);
                break;
            }
        }
        ids.push_back(found == kNoID ? add(texts[i], hash, at) : found);
    }
}

std::size_t StringTable::memoryBytes() const
{
    return m_text.capacity() + 4 * m_starts.capacity() + 8 * m_slots.capacity();
}

std::string_view CompactIndex::nameOf(const IndexedFile& file) const
{
    if (file.nameAt == IndexedFile::kLeafName)
        return lastComponent(path(file.path));
    return text.view().substr(file.nameAt, file.nameSize);
}

FileInfo CompactIndex::fileInfo(const IndexedFile& file) const
{
    FileInfo info;
    info.id = file.id;
    info.path = path(file.path);
    info.name = nameOf(file);
    if (file.hasBpm)
        info.bpm = file.bpm;
    if (file.keyAt != kNoID)
        info.key = std::string(text.view().substr(file.keyAt, file.keySize));
    if (file.hasDuration)
        info.duration = file.duration;
    return info;
}

DirectoryInfo CompactIndex::directoryInfo(const IndexedFolder& folder) const
{
    DirectoryInfo info;
    info.path = path(folder.ownPath);
    info.files.reserve(folder.fileCount);
    for (const auto& file : filesOf(folder))
        info.files.push_back(fileInfo(file));
    info.subdirectories.reserve(folder.subCount);
    for (const auto sub : subdirectoriesOf(folder))
        info.subdirectories.emplace_back(path(sub));
    info.lastModified = folder.lastModified;
    if (folder.hasContentModified)
        info.contentModified = folder.contentModified;
    if (folder.hasInode)
        info.inode = folder.inode;
    return info;
}

const IndexedFolder* CompactIndex::folder(std::string_view folderPath) const
{
    const std::uint32_t id = strings.find(folderPath);
    if (id == kNoID || folderOf[id] == kNoID)
        return nullptr;
    return &folders[folderOf[id]];
}

const IndexedFile* CompactIndex::file(std::string_view filePath) const
{
    const std::uint32_t id = strings.find(filePath);
    return id == kNoID ? nullptr : fileByID(id);
}

const TokenPostings* CompactIndex::namesOf(const GroupID& group) const
{
    const auto found = names.find(group);
    return found == names.end() ? nullptr : &found->second;
}

const TokenPostings* CompactIndex::keywordsOf(const GroupID& group) const
{
    const auto found = keywords.find(group);
    return found == keywords.end() ? nullptr : &found->second;
}

std::uint32_t CompactIndex::internPath(std::string_view value)
{
    const std::uint32_t id = strings.intern(value);
    if (id >= folderOf.size()) {
        folderOf.resize(id + 1, kNoID);
        fileOf.resize(id + 1, kNoID);
        sortClassOf.resize(id + 1, SortClasses::kNone);
    }
    return id;
}

void CompactIndex::internPaths(std::span<const std::string_view> paths, std::vector<std::uint32_t>& ids)
{
    strings.internAll(paths, ids);
    if (strings.size() > folderOf.size()) {
        folderOf.resize(strings.size(), kNoID);
        fileOf.resize(strings.size(), kNoID);
        sortClassOf.resize(strings.size(), SortClasses::kNone);
    }
}

std::uint32_t CompactIndex::addText(std::string_view value)
{
    const std::uint32_t at = checkedSize(text.size());
    text.append(value);
    checkedSize(text.size());
    return at;
}

void CompactIndex::setName(IndexedFile& file, std::string_view name)
{
    if (name == lastComponent(path(file.path))) {
        file.nameAt = IndexedFile::kLeafName;
        file.nameSize = 0;
        return;
    }
    file.nameAt = addText(name);
    file.nameSize = std::uint32_t(name.size());
}

void CompactIndex::addFile(IndexedFile file)
{
    file.sortClass = sortClasses.classify(sortExtension(path(file.path)), file.hasBpm, file.bpm);
    files.push_back(file);
}

IndexedFile CompactIndex::recordFor(const FileInfo& info)
{
    IndexedFile file;
    file.id = info.id;
    file.path = internPath(info.path);
    setName(file, info.name);
    if (info.key) {
        file.keyAt = addText(*info.key);
        file.keySize = std::uint32_t(info.key->size());
    }
    file.hasBpm = info.bpm.has_value();
    file.bpm = info.bpm.value_or(0);
    file.hasDuration = info.duration.has_value();
    file.duration = info.duration.value_or(0);
    file.sortClass = sortClasses.classify(sortExtension(path(file.path)), file.hasBpm, file.bpm);
    return file;
}

void CompactIndex::beginFolder(std::string_view folderPath)
{
    IndexedFolder folder;
    folder.path = internPath(folderPath);
    folder.ownPath = folder.path;
    folder.firstFile = checkedSize(files.size());
    folder.firstSub = checkedSize(subdirectories.size());
    folders.push_back(folder);
}

void CompactIndex::endFolder()
{
    IndexedFolder& folder = folders.edit(folders.size() - 1);
    folder.fileCount = checkedSize(files.size() - folder.firstFile);
    folder.subCount = checkedSize(subdirectories.size() - folder.firstSub);
    if (folderOf[folder.path] == kNoID)
        ++folderCount;
    folderOf.set(folder.path, std::uint32_t(folders.size() - 1));
}

void CompactIndex::addFolder(std::string_view folderPath, const DirectoryInfo& info)
{
    beginFolder(folderPath);
    IndexedFolder& folder = folders.edit(folders.size() - 1);
    folder.ownPath = internPath(info.path);
    folder.lastModified = info.lastModified;
    folder.hasContentModified = info.contentModified.has_value();
    folder.contentModified = info.contentModified.value_or(0);
    folder.hasInode = info.inode.has_value();
    folder.inode = info.inode.value_or(0);
    for (const auto& file : info.files)
        files.push_back(recordFor(file));
    for (const auto& sub : info.subdirectories)
        subdirectories.push_back(internPath(sub));
    endFolder();
}

void CompactIndex::setFolderTimes(
    const std::map<std::string, double>& contentModified, const std::map<std::string, std::uint64_t>& inodes)
{
    for (const auto& [folderPath, time] : contentModified) {
        const std::uint32_t id = strings.find(folderPath);
        if (id == kNoID || folderOf[id] == kNoID)
            continue;
        IndexedFolder& folder = folders.edit(folderOf[id]);
        folder.hasContentModified = true;
        folder.contentModified = time;
        if (const auto inode = inodes.find(folderPath); inode != inodes.end()) {
            folder.hasInode = true;
            folder.inode = inode->second;
        }
    }
}

void CompactIndex::indexFiles()
{
    fileOf.assign(fileOf.size(), kNoID);
    sortClassOf.assign(sortClassOf.size(), SortClasses::kNone);
    fileCount = 0;
    for (std::size_t f = 0; f < folders.size(); ++f) {
        if (!isCurrent(f))
            continue;
        const IndexedFolder& folder = folders[f];
        for (std::uint32_t i = folder.firstFile; i < folder.firstFile + folder.fileCount; ++i) {
            auto& slot = fileOf.edit(files[i].path);
            fileCount += slot == kNoID;
            slot = i;
            sortClassOf.set(files[i].path, files[i].sortClass);
        }
    }
}

void CompactIndex::deriveKeywords()
{
    keywords.clear();
    struct GroupTokens {
        std::unordered_map<std::string, std::uint32_t> slots;
        std::vector<std::pair<std::string, std::vector<std::uint32_t>>> entries;
        bool present = false;
    };
    std::vector<const GroupID*> groupIDs;
    std::vector<GroupTokens> groups(roots.size());
    for (const auto& [group, list] : roots)
        groupIDs.push_back(&group);
    // Every file of a folder has the same collections and keywords: worked out once per folder.
    std::unordered_map<std::string_view, std::vector<std::pair<std::size_t, std::vector<std::uint32_t>>>>
        byFolder;
    for (std::uint32_t id = 0; id < fileOf.size(); ++id) {
        if (fileOf[id] == kNoID)
            continue;
        const std::string_view filePath = path(id);
        auto [entry, isNew] = byFolder.try_emplace(parentPath(filePath));
        if (isNew) {
            std::size_t g = 0;
            for (const auto& [group, list] : roots) {
                const auto root = std::find_if(
                    list.begin(), list.end(), [&](const std::string& r) { return isUnderRoot(filePath, r); });
                if (root != list.end()) {
                    GroupTokens& tokens = groups[g];
                    tokens.present = true;
                    std::vector<std::uint32_t> slots;
                    for (auto& keyword : keywordsForPath(filePath, *root)) {
                        const auto [slot, added]
                            = tokens.slots.try_emplace(keyword, std::uint32_t(tokens.entries.size()));
                        if (added)
                            tokens.entries.emplace_back(std::move(keyword), std::vector<std::uint32_t>());
                        slots.push_back(slot->second);
                    }
                    entry->second.emplace_back(g, std::move(slots));
                }
                ++g;
            }
        }
        for (const auto& [g, slots] : entry->second)
            for (const auto slot : slots)
                groups[g].entries[slot].second.push_back(id);
    }
    for (std::size_t g = 0; g < groups.size(); ++g)
        if (groups[g].present)
            keywords.emplace(*groupIDs[g], TokenPostings::build(std::move(groups[g].entries)));
}

std::size_t CompactIndex::memoryBytes() const
{
    std::size_t total = strings.memoryBytes() + text.capacity() + files.capacity() * sizeof(IndexedFile)
        + folders.capacity() * sizeof(IndexedFolder)
        + 4 * (subdirectories.capacity() + folderOf.capacity() + fileOf.capacity())
        + 2 * sortClassOf.capacity();
    for (const auto& [group, postings] : names)
        total += postings.memoryBytes();
    for (const auto& [group, postings] : keywords)
        total += postings.memoryBytes();
    return total;
}

namespace {

bool sameRecord(const CompactIndex& index, const IndexedFile& file, const FileInfo& info)
{
    return file.id == info.id && index.path(file.path) == info.path && index.nameOf(file) == info.name
        && file.hasBpm == info.bpm.has_value() && (!file.hasBpm || file.bpm == *info.bpm)
        && (file.keyAt != kNoID) == info.key.has_value()
        && (!info.key || index.text.view().substr(file.keyAt, file.keySize) == *info.key)
        && file.hasDuration == info.duration.has_value()
        && (!file.hasDuration || file.duration == *info.duration);
}

std::map<GroupID, TokenPostings> postingsOf(CompactIndex& index, const GroupTokenIndex& tokens)
{
    std::map<GroupID, TokenPostings> out;
    for (const auto& [group, byToken] : tokens) {
        TokenEntries entries;
        appendTokenEntries(index, byToken, entries);
        out.emplace(group, TokenPostings::build(std::move(entries)));
    }
    return out;
}

GroupTokenIndex tokenMapsOf(const CompactIndex& index, const std::map<GroupID, TokenPostings>& postings)
{
    GroupTokenIndex out;
    for (const auto& [group, tokens] : postings) {
        TokenIndex& byToken = out[group];
        tokens.forEach([&](std::string_view token, std::span<const std::uint32_t> ids) {
            PathSet& paths = byToken[std::string(token)];
            paths.reserve(ids.size());
            for (const auto id : ids)
                paths.emplace(index.path(id));
        });
    }
    return out;
}

} // namespace

void appendTokenEntries(CompactIndex& index, const TokenIndex& tokens, TokenEntries& entries)
{
    entries.reserve(entries.size() + tokens.size());
    for (const auto& [token, paths] : tokens) {
        std::vector<std::uint32_t> ids;
        ids.reserve(paths.size());
        for (const auto& path : paths)
            ids.push_back(index.internPath(path));
        entries.emplace_back(token, std::move(ids));
    }
}

CompactIndex compactRecordsOf(
    const DirectoryIndex& directoryIndex, const FileIndex& fileIndex, const GroupRoots& roots)
{
    CompactIndex index;
    index.strings.reserve(fileIndex.size() + 2 * directoryIndex.size(), 0);
    index.files.reserve(fileIndex.size());
    index.folders.reserve(directoryIndex.size());
    for (const auto& [path, info] : directoryIndex)
        index.addFolder(path, info);
    index.indexFiles();
    // The file index is taken as the maps hold it: a record that differs from its folder's, or that no
    // folder lists, is kept beside the folders' records.
    std::vector<bool> held(index.fileOf.size(), false);
    for (const auto& [path, info] : fileIndex) {
        const std::uint32_t id = index.internPath(path);
        if (id >= held.size())
            held.resize(id + 1, false);
        held[id] = true;
        const std::uint32_t listed = index.fileOf[id];
        if (listed != kNoID && sameRecord(index, index.files[listed], info))
            continue;
        index.files.push_back(index.recordFor(info));
        index.fileOf.set(id, std::uint32_t(index.files.size() - 1));
        index.sortClassOf.set(id, index.files.back().sortClass);
    }
    index.fileCount = 0;
    for (std::uint32_t id = 0; id < index.fileOf.size(); ++id) {
        if ((id >= held.size() || !held[id]) && index.fileOf[id] != kNoID) {
            index.fileOf.set(id, kNoID);
            index.sortClassOf.set(id, SortClasses::kNone);
        }
        index.fileCount += index.fileOf[id] != kNoID;
    }
    index.roots = roots;
    return index;
}

CompactIndex compactIndexOf(const IndexMaps& maps)
{
    CompactIndex index = compactRecordsOf(maps.directoryIndex, maps.fileIndex, maps.groupRoots);
    index.names = postingsOf(index, maps.searchIndex);
    index.keywords = postingsOf(index, maps.keywordIndex);
    return index;
}

IndexMaps mapsOf(const CompactIndex& index)
{
    IndexMaps maps;
    maps.directoryIndex.reserve(index.folderCount);
    for (std::size_t f = 0; f < index.folders.size(); ++f)
        if (index.isCurrent(f))
            maps.directoryIndex.emplace(
                index.path(index.folders[f].path), index.directoryInfo(index.folders[f]));
    maps.fileIndex.reserve(index.fileCount);
    for (std::uint32_t id = 0; id < index.fileOf.size(); ++id)
        if (const IndexedFile* file = index.fileByID(id))
            maps.fileIndex.emplace(index.path(id), index.fileInfo(*file));
    maps.searchIndex = tokenMapsOf(index, index.names);
    maps.keywordIndex = tokenMapsOf(index, index.keywords);
    maps.groupRoots = index.roots;
    return maps;
}

} // namespace kivo::index
