#pragma once

// Tempo and key heard from files' own audio, as the browser uses them: only where the user, the
// file's header or tags, its name and its folders give none. Immutable snapshots, one shared table
// a folder, so that a result arriving for one file makes a new snapshot without copying the rest.
// Pure, no Qt.

#include "index/PathKeyed.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kivo::organise {

struct AnalysedEntry {
    std::optional<std::int64_t> bpm;
    std::optional<std::string> key; // key text ("C#m", "Eb")
    std::optional<bool> isLoop {}; // a loop, or a one-shot
};

struct AnalysedValues {
    using Folder = index::PathKeyedMap<AnalysedEntry>; // by file name
    index::PathKeyedMap<std::shared_ptr<const Folder>> folders; // by folder path

    // Null when the file has no analysed value.
    const AnalysedEntry* find(std::string_view path) const
    {
        const auto slash = path.rfind('/');
        if (slash == std::string_view::npos || folders.empty())
            return nullptr;
        const auto folder = folders.find(path.substr(0, slash));
        if (folder == folders.end())
            return nullptr;
        const auto entry = folder->second->find(path.substr(slash + 1));
        return entry == folder->second->end() ? nullptr : &entry->second;
    }
};

} // namespace kivo::organise
