#pragma once

// The metadata section of a row's context menu: whether each field reads "Add …" or "Edit …" and the
// value it shows, for one row or a multi-selection. Pure; the caller resolves each item's effective
// values (overrides, inheritance, tags) first.

#include "music/KeySpelling.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kivo::organise {

// One selected item's effective values.
struct MetadataMenuItem {
    std::optional<std::int64_t> bpm;
    std::optional<std::string> key; // key text; text that does not parse counts as no key
    std::vector<std::string> tagNames; // effective tags, in the user's tag order
};

struct MetadataMenuInfo {
    std::string bpmTitle;
    std::optional<std::string> bpmValue;
    std::string keyTitle;
    std::optional<std::string> keyValue;
    std::string tagsTitle;
    std::optional<std::string> tagsValue;
    bool operator==(const MetadataMenuInfo&) const = default;
};

// Each field is "Edit …" when some item has a value, else "Add …"; its value shows only when every
// item has the same one (keys in their display form, tags as their names joined by ", ").
MetadataMenuInfo metadataMenuInfo(const std::vector<MetadataMenuItem>& items, music::KeySpelling spelling);

} // namespace kivo::organise
