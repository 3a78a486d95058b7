#pragma once

// The filter set that narrows a search besides its text: files or folders, a tempo or tempo range, a
// key (either mode, or with its relative key), tags, and a reproducible shuffle. How one item passes
// it, given the item's effective values. Pure, no Qt.

#include "index/IndexRecords.h"
#include "organise/TagSets.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kivo::organise {

class MetadataInheritance;

enum class FilterMode { files = 0, folder = 1 };

struct KeyFilter {
    int pitchClass = 0; // 0-11
    std::optional<bool> isMinor; // absent: either mode
    bool includeRelative = false; // only while the mode is given

    bool operator==(const KeyFilter&) const = default;
    // A key read from an item. The same root in the other mode never passes; the relative key
    // passes only with includeRelative and a mode.
    bool matches(int itemPitchClass, bool itemIsMinor) const;
};

struct SearchFilters {
    FilterMode mode = FilterMode::files;
    std::optional<std::int64_t> minBPM;
    std::optional<std::int64_t> maxBPM;
    std::optional<KeyFilter> key;
    TagIdSet tags; // all of them must be present
    std::optional<std::uint64_t> shuffleSeed;

    bool operator==(const SearchFilters&) const = default;
    // Tempo, key or tags narrow the list; the mode and the shuffle do not count.
    bool hasFilter() const { return minBPM || maxBPM || key || !tags.empty(); }
    // The minimum alone is an exact tempo, the maximum alone an upper bound, both an inclusive
    // range (never reordered); with any bound an item without a tempo fails.
    bool bpmAccepts(std::optional<std::int64_t> bpm) const;
};

// The tests in order (tags, tempo, key), over values already resolved for the item. A key text that
// does not parse counts as none. The tag set may be null (no tags).
bool passesValues(const SearchFilters& filters, const TagIdSet* tags, std::optional<std::int64_t> bpm,
    const std::optional<std::string>& keyText);

// A file with its own (index) tempo and key, resolved through the user's overrides and tags.
bool passesFile(const index::FileInfo& file, const SearchFilters& filters, MetadataInheritance& overrides);
// The same over a file's path and its own values, for callers that hold no record.
bool passesFile(std::string_view path, std::optional<std::int64_t> ownBPM,
    const std::optional<std::string>& ownKey, const SearchFilters& filters, MetadataInheritance& overrides);
// A folder, whose own tempo and key come from its name.
bool passesFolder(std::string_view path, std::string_view name, const SearchFilters& filters,
    MetadataInheritance& overrides);

// A folder's own tempo and key as read from its name.
std::optional<std::int64_t> folderOwnBPM(std::string_view name);
std::optional<std::string> folderOwnKey(std::string_view name);

} // namespace kivo::organise
