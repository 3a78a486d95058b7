#pragma once

// The order of siblings in the browser: folders first, then the user's sorting options (MIDI files
// last, roman-numeral chord names, BPM), then natural name order. Pure; the options are read by the
// caller at the time of the sort and handed in.

#include "index/CacheIndexStore.h"
#include "index/IndexRecords.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kivo::organise {

struct SortingOptions {
    bool separateMIDIFiles = true; // "Force MIDI files to the bottom"
    bool sortByBPM = true; // "Sort BPM and force to the top"
    bool sortRomanNumerals = false; // "Sort roman numeral notation"
    bool operator==(const SortingOptions&) const = default;
};

// One item to order: a folder or a file, with the BPM the sort should use for it.
struct SortItem {
    std::string_view name;
    std::string_view path;
    bool isDirectory = false;
    std::optional<std::int64_t> bpm;
};

// Rank of a name that starts with a roman numeral ("bVII" 13, "ii" 4, "vii°" 14), else none.
std::optional<int> romanRank(std::string_view name);

// The strict "a before b" test of the browser's sibling order.
bool browserOrderBefore(const SortItem& a, const SortItem& b, const SortingOptions& options);

// The positions of `items` in the browser's sibling order (folders included): order[k] is the index
// of the item that goes k-th. Stable, and the same order as browserOrderBefore; each item's sort key
// is worked out once, so large lists sort quickly.
std::vector<std::uint32_t> browserOrderPermutation(
    const std::vector<SortItem>& items, const SortingOptions& options);

// Stable sort of index records in the browser's file order, using each record's own `bpm`.
void sortInBrowserOrder(std::vector<index::FileInfo>& files, const SortingOptions& options);

// The browser's file order as a search takes it: named after the options, with the key that leads it
// ahead of the natural name order.
index::NamedFileOrder namedBrowserOrder(const SortingOptions& options);
// The same with the BPM each file sorts by given alongside (the effective one, overrides applied).
void sortInBrowserOrder(std::vector<index::FileInfo>& files,
    const std::vector<std::optional<std::int64_t>>& bpms, const SortingOptions& options);

} // namespace kivo::organise
