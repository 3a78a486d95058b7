#pragma once

// What one pass of the browser (a tree listing, a search, a filter) shows for each item: the file's
// own tempo and key with the user's overrides applied, a folder's override reaching everything below
// it, and tags with their folder inheritance. Built from snapshots of the override and tag stores;
// the inherited value of each folder is worked out once and remembered for the rest of the pass.
// Pure, no Qt. One instance belongs to one thread at a time; it is not copied (each thread builds
// its own from the same snapshots) and is moved only before its first question.

#include "index/MetadataOverrides.h"
#include "organise/AnalysedValues.h"
#include "organise/TagSets.h"

#include <deque>
#include <memory>
#include <memory_resource>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kivo::organise {

// A value and whether it is the user's (an override on the path or on a folder above it) rather
// than the one read from the file, or was heard from the file's audio because nothing else gave one.
template <class T> struct Effective {
    std::optional<T> value;
    bool byUser = false;
    bool analysed = false;
    bool operator==(const Effective&) const = default;
};

// Everything a row shows of one item.
struct EffectiveValues {
    Effective<std::int64_t> bpm;
    Effective<std::string> key;
    const TagIdSet* tags = nullptr; // valid while the inheritance lives
};

class MetadataInheritance {
public:
    MetadataInheritance(
        std::shared_ptr<const index::MetadataOverrides> overrides, std::shared_ptr<const TagMaps> tags);
    // No overrides and no tags.
    MetadataInheritance();
    // Values heard from the audio fill in where nothing else gives one (never where the user marked
    // none). Before the first question.
    void useAnalysed(std::shared_ptr<const AnalysedValues> analysed) { m_analysed = std::move(analysed); }

    // The path's override; else none when cleared; else `own`; else the nearest folder override above.
    std::optional<std::int64_t> effectiveBPM(std::string_view path, std::optional<std::int64_t> own);
    std::optional<std::string> effectiveKey(std::string_view path, const std::optional<std::string>& own);
    Effective<std::int64_t> resolveBPM(std::string_view path, std::optional<std::int64_t> own);
    Effective<std::string> resolveKey(std::string_view path, const std::optional<std::string>& own);
    const TagIdSet& effectiveTags(std::string_view path);
    // The three at once, the path hashed once.
    EffectiveValues resolve(
        std::string_view path, std::optional<std::int64_t> ownBPM, const std::optional<std::string>& ownKey);

    const index::MetadataOverrides& overrides() const { return *m_index->overrides; }
    const TagMaps& tagMaps() const { return *m_index->tags; }

private:
    // Everything the stores say about one path, gathered so a row costs one lookup.
    struct PathEntry {
        const std::int64_t* bpm = nullptr;
        const std::string* key = nullptr;
        bool clearedBPM = false;
        bool clearedKey = false;
        const TagIdSet* assigned = nullptr;
        const TagIdSet* excluded = nullptr;
    };
    using ChildEntries = std::vector<std::pair<std::string_view, const PathEntry*>>;
    // A folder's inherited values: the nearest override at it or above it, and its effective tags.
    // Plain pointers into the snapshots or this pass's own storage, so a folder costs no copies.
    struct FolderValues {
        std::optional<std::int64_t> bpm;
        const std::string* key = nullptr;
        const TagIdSet* tags = nullptr;
        // Null when nothing directly inside has an entry, as for most folders.
        const ChildEntries* children = nullptr;
    };

    // What the stores say about one path: its own entry and the entries of the items directly
    // inside it (for a folder). Either may be null.
    struct PathSlot {
        std::size_t hash = 0; // 0 marks an empty slot
        std::string_view text;
        const PathEntry* entry = nullptr;
        const ChildEntries* children = nullptr;
    };
    // The stores' entries of one pair of snapshots, indexed for lookups. Immutable once built and
    // shared by every pass over the same snapshots (a tree pass, a search and a filter often run
    // over the same ones, and building it costs as much as resolving a fifth of 100,000 rows).
    struct EntryIndex {
        std::shared_ptr<const index::MetadataOverrides> overrides;
        std::shared_ptr<const TagMaps> tags;
        index::PathKeyedMap<PathEntry> entries;
        index::PathKeyedMap<ChildEntries> childEntries;
        // Every path with an entry or with entries inside, open-addressed by hash: most paths have
        // none, and one probe of a small array answers both questions a folder asks.
        std::vector<PathSlot> pathSlots;
        const ChildEntries* topChildren = nullptr;
        const PathSlot* find(const index::HashedPath& path) const;
    };
    static std::shared_ptr<const EntryIndex> entryIndexFor(
        std::shared_ptr<const index::MetadataOverrides> overrides, std::shared_ptr<const TagMaps> tags);
    static std::shared_ptr<const EntryIndex> buildEntryIndex(
        std::shared_ptr<const index::MetadataOverrides> overrides, std::shared_ptr<const TagMaps> tags);

    const PathEntry* entry(const index::HashedPath& path) const;
    // Memoised per folder; the top (a text shorter than 2 characters) inherits nothing.
    const FolderValues& folder(std::string_view path);
    // The folder of the last file asked about answers the next one in the same folder at once.
    const FolderValues& parentValues(std::string_view path);
    // The path's entry, looked up only when its folder holds any.
    const PathEntry* entryIn(const FolderValues& parent, std::string_view path) const;
    Effective<std::int64_t> bpmOf(
        const PathEntry* e, const FolderValues& parent, std::optional<std::int64_t> own) const;
    Effective<std::string> keyOf(
        const PathEntry* e, const FolderValues& parent, const std::optional<std::string>& own) const;
    const TagIdSet& tagsOf(const PathEntry* e, const FolderValues& parent, std::string_view path);

    Effective<std::int64_t> statedBPM(std::string_view path, std::optional<std::int64_t> own);
    Effective<std::string> statedKey(std::string_view path, const std::optional<std::string>& own);
    EffectiveValues stated(
        std::string_view path, std::optional<std::int64_t> ownBPM, const std::optional<std::string>& ownKey);
    void fillAnalysed(std::string_view path, Effective<std::int64_t>* bpm, Effective<std::string>* key) const;

    std::shared_ptr<const EntryIndex> m_index;
    std::shared_ptr<const AnalysedValues> m_analysed;
    bool m_noEntries = true;
    bool m_noTags = true;
    // The memo of every folder met in the pass: open-addressed by the hash worked out on the way up,
    // values and names carved from one growing block (a tree pass meets thousands of folders).
    struct FolderSlot {
        std::size_t hash = 0; // 0 marks an empty slot
        std::string_view text;
        const FolderValues* values = nullptr;
    };
    const FolderValues* knownFolder(const index::HashedPath& path) const;
    const FolderValues* rememberFolder(const index::HashedPath& path, const FolderValues& values);
    std::unique_ptr<std::pmr::monotonic_buffer_resource> m_arena
        = std::make_unique<std::pmr::monotonic_buffer_resource>();
    std::vector<FolderSlot> m_folders;
    std::size_t m_folderCount = 0;
    FolderValues m_top;
    // Tag sets of folders whose own tags differ from their parent's (stable addresses).
    std::deque<TagIdSet> m_folderTags;
    std::vector<index::HashedPath> m_pending;
    // Tags of the few files with tags of their own.
    index::PathKeyedMap<TagIdSet> m_fileTags;
    std::string m_lastParent;
    const FolderValues* m_lastParentValues = nullptr;
};

} // namespace kivo::organise
