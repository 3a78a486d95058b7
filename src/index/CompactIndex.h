#pragma once

// The resident form of one published state of the index. Every path is stored once, in one string
// table, and everything else refers to it by a 32-bit id: folder records list their files and
// sub-folders as ids, and each collection's token indexes are a dictionary of its distinct tokens laid
// end to end in one buffer with each token's files as a sorted id array. `FileInfo` and the other
// records are made from it only for results, for the cache writer and for the writers' working maps.
//
// A state is immutable once published; the builders below are the only way to make one. Its arrays
// are shared with the states made from it (SharedArrays.h), so a copy that a patch changes costs what
// the patch changes.

#include "index/IndexMaps.h"
#include "index/SharedArrays.h"
#include "index/TokenPostings.h"

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kivo::index {

inline constexpr std::uint32_t kNoID = 0xFFFFFFFF;

// Distinct strings, each stored once end to end, found again through an open-addressing hash.
class StringTable {
public:
    StringTable();
    void reserve(std::size_t strings, std::size_t bytes);
    // The string's id, added when new.
    std::uint32_t intern(std::string_view text);
    // The ids of many strings at once (added when new), appended to `ids`. Looking many up together
    // lets their hash slots be fetched from memory ahead of use: one at a time, a table larger than
    // the caches costs a miss per string.
    void internAll(std::span<const std::string_view> texts, std::vector<std::uint32_t>& ids);
    // kNoID when absent.
    std::uint32_t find(std::string_view text) const;
    std::string_view view(std::uint32_t id) const
    {
        return { m_text.data() + m_starts[id], m_starts[id + 1] - m_starts[id] };
    }
    std::size_t size() const { return m_starts.size() - 1; }
    std::size_t memoryBytes() const;

private:
    void grow();
    void rehash(std::size_t slots);
    std::uint32_t add(std::string_view text, std::uint32_t hash, std::size_t at);

    AppendArray<char> m_text;
    AppendArray<std::uint32_t> m_starts;
    // The string's hash in the high half, id + 1 in the low half, 0 when free; a power of two in size.
    // The hash beside the id lets a probe pass over other strings' slots without reading their text,
    // and lets the table grow without hashing anything again.
    ChunkedArray<std::uint64_t> m_slots;
};

// The extension a file order looks at in `path`: what follows the last dot of its last component (none
// for a name whose only dot leads).
std::string_view sortExtension(std::string_view path);

// What a file's place in a browser order that ignores names is made of: its extension and tempo. A
// library has a few hundred of these, so such an order is worked out once per class, not per file.
struct SortClass {
    std::string extension;
    std::optional<std::int64_t> bpm;
};

// The distinct sort classes of a state, each file given its own as it is added.
class SortClasses {
public:
    static constexpr std::uint16_t kNone = 0xFFFF; // more distinct classes than fit in a file record

    std::uint16_t classify(std::string_view extension, bool hasBpm, std::int64_t bpm);
    const std::vector<SortClass>& all() const { return m_classes; }
    // Whether every file added has a class.
    bool complete() const { return !m_overflowed; }

private:
    // Extensions of up to eight bytes (nearly all) are packed into a word and found through an
    // open-addressing table: a file costs one probe. Longer ones go through the map.
    struct Slot {
        std::uint64_t extension = 0;
        std::uint64_t tempo = 0;
        std::uint32_t shape = 0;
        std::uint32_t place = kNoID;
    };
    static std::size_t hash(const Slot& slot);
    std::uint16_t add(std::string_view extension, bool hasBpm, std::int64_t bpm);
    void grow();

    std::vector<SortClass> m_classes;
    std::vector<Slot> m_slots = std::vector<Slot>(256);
    std::map<std::pair<std::string, std::optional<std::int64_t>>, std::uint16_t, std::less<>> m_long;
    bool m_overflowed = false;
};

struct IndexedFile {
    static constexpr std::uint32_t kLeafName = 0xFFFFFFFE; // the name is the path's last component

    Uuid id;
    std::uint32_t path = kNoID;
    std::uint32_t nameAt = kLeafName; // into CompactIndex::text
    std::uint32_t nameSize = 0;
    std::uint32_t keyAt = kNoID;
    std::uint32_t keySize = 0;
    bool hasBpm = false;
    bool hasDuration = false;
    std::uint16_t sortClass = SortClasses::kNone; // in the flags' padding: costs no memory
    std::int64_t bpm = 0;
    double duration = 0;
};

struct IndexedFolder {
    std::uint32_t path = kNoID; // the key the record is filed under
    std::uint32_t ownPath = kNoID; // the record's own "path" (the same but in a damaged file)
    std::uint32_t firstFile = 0, fileCount = 0; // into CompactIndex::files
    std::uint32_t firstSub = 0, subCount = 0; // into CompactIndex::subdirectories
    bool hasContentModified = false;
    bool hasInode = false;
    double lastModified = 0;
    double contentModified = 0;
    std::uint64_t inode = 0;
};

struct CompactIndex {
    StringTable strings; // every path: files, folders, sub-folders
    AppendArray<char> text; // names that are not their path's last component, and keys
    AppendArray<IndexedFile> files; // the folders' lists, folder after folder (and loose records last)
    SortClasses sortClasses; // of every record in `files`
    ChunkedArray<IndexedFolder> folders; // a record is current when folderOf points back at it
    AppendArray<std::uint32_t> subdirectories;
    ChunkedArray<std::uint32_t> folderOf; // string id -> folder index, kNoID when none
    ChunkedArray<std::uint32_t> fileOf; // string id -> the record the file index holds, kNoID when none
    // string id -> that record's sort class, SortClasses::kNone when none: what a search reads of every
    // hit, kept apart from the records so that reading it streams.
    ChunkedArray<std::uint16_t> sortClassOf;
    std::size_t fileCount = 0; // ids with a record in fileOf
    std::size_t folderCount = 0; // current folder records
    GroupRoots roots;
    std::map<GroupID, TokenPostings> names; // the name tokens, persisted
    std::map<GroupID, TokenPostings> keywords; // the folder keywords, derived

    std::string_view path(std::uint32_t id) const { return strings.view(id); }
    std::string_view nameOf(const IndexedFile& file) const;
    FileInfo fileInfo(const IndexedFile& file) const;
    DirectoryInfo directoryInfo(const IndexedFolder& folder) const;
    std::span<const IndexedFile> filesOf(const IndexedFolder& folder) const
    {
        return { files.data() + folder.firstFile, folder.fileCount };
    }
    std::span<const std::uint32_t> subdirectoriesOf(const IndexedFolder& folder) const
    {
        return { subdirectories.data() + folder.firstSub, folder.subCount };
    }
    bool isCurrent(std::size_t folderIndex) const
    {
        return folderOf[folders[folderIndex].path] == folderIndex;
    }
    const IndexedFolder* folder(std::string_view path) const;
    // The file index's record of the path; none when it holds none.
    const IndexedFile* file(std::string_view path) const;
    const IndexedFile* fileByID(std::uint32_t id) const
    {
        return id < fileOf.size() && fileOf[id] != kNoID ? &files[fileOf[id]] : nullptr;
    }
    const TokenPostings* namesOf(const GroupID& group) const;
    const TokenPostings* keywordsOf(const GroupID& group) const;

    // Builders. A record's strings go in through these so that each path is stored once.
    std::uint32_t internPath(std::string_view path);
    void internPaths(std::span<const std::string_view> paths, std::vector<std::uint32_t>& ids);
    std::uint32_t addText(std::string_view value);
    // Appends a file record (path, name and tempo set), giving it its sort class.
    void addFile(IndexedFile file);
    // A whole record for `info` (strings added, sort class given), not yet placed in `files`.
    IndexedFile recordFor(const FileInfo& info);
    // Gives `files.back()` its name (stored only when it differs from the path's last component).
    void setName(IndexedFile& file, std::string_view name);
    // Starts a folder record; files and sub-folders added after it are its own until the next.
    void beginFolder(std::string_view path);
    // Makes the latest folder record the current one for its path (a later record of the same path
    // replaces an earlier one).
    void endFolder();
    // A whole folder record filed under `path`: begun, given `info`'s times, files and sub-folders, ended.
    void addFolder(std::string_view path, const DirectoryInfo& info);
    // New content times (and inodes) of the current records of the folders named; others are skipped.
    void setFolderTimes(const std::map<std::string, double>& contentModified,
        const std::map<std::string, std::uint64_t>& inodes);
    // The file index again from the current folder records: a later folder wins for a path listed twice.
    void indexFiles();
    // The keyword index again from the file index and the roots (each file under the first root of a
    // collection that holds it).
    void deriveKeywords();
    std::size_t memoryBytes() const;
};

// Appends each token of `tokens` to `entries` with its paths interned in `index`.
void appendTokenEntries(CompactIndex& index, const TokenIndex& tokens, TokenEntries& entries);

CompactIndex compactIndexOf(const IndexMaps& maps);
// The same without the token indexes, for builders that hold those in a form of their own.
CompactIndex compactRecordsOf(
    const DirectoryIndex& directoryIndex, const FileIndex& fileIndex, const GroupRoots& roots);
IndexMaps mapsOf(const CompactIndex& index);

} // namespace kivo::index
