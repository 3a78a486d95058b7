#pragma once

// The user's corrections of tempo and key, as one plain value: per path (file or folder) a BPM or a
// key that replaces what the scanner found, or a mark that the path has none. A path is in at most
// one of a field's override map and cleared set. Pure, no Qt; copies are safe on any thread.

#include "index/PathKeyed.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kivo::index {

struct MetadataOverrides {
    PathKeyedMap<std::int64_t> bpmOverrides;
    PathKeyedMap<std::string> keyOverrides; // key text ("C#m", "Eb")
    PathKeyedSet clearedBPMPaths;
    PathKeyedSet clearedKeyPaths;

    bool empty() const
    {
        return bpmOverrides.empty() && keyOverrides.empty() && clearedBPMPaths.empty()
            && clearedKeyPaths.empty();
    }
    bool operator==(const MetadataOverrides&) const = default;

    // A value sets the override and lifts the cleared mark; none returns the path to automatic
    // (removes the override, leaves a cleared mark alone).
    void setBPM(std::optional<std::int64_t> value, const std::vector<std::string>& paths);
    void setKey(const std::optional<std::string>& key, const std::vector<std::string>& paths);
    // Removes the override and marks the path as having none.
    void clearBPM(const std::vector<std::string>& paths);
    void clearKey(const std::vector<std::string>& paths);
    // Back to what the file itself says: neither an override nor a mark.
    void resetBPM(const std::vector<std::string>& paths);
    void resetKey(const std::vector<std::string>& paths);
    // Every key equal to `from` or below it moves under `to`; a moved override replaces one already
    // at its new path. True when anything moved.
    bool remapPaths(const std::string& from, const std::string& to);
};

} // namespace kivo::index
