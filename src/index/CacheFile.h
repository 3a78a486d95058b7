#pragma once

// The cache file "SearchIndex.json": decoding with simdjson On-Demand straight into the index's compact
// form, encoding from it with our own streaming writer, and the atomic write. Pure apart from the file
// reads and writes.

#include "index/CompactIndex.h"

#include <functional>
#include <string>
#include <string_view>

namespace kivo::index {

inline constexpr std::string_view kCacheVersion = "2.9";

// The decoded file: its folders, files, name tokens and roots, with the file index and the keyword
// index already derived from them.
struct CacheData {
    CompactIndex index;
    double lastUpdate = 0;
    std::string version;
};

struct DiskSnapshot {
    GroupRoots roots;
    std::optional<double> lastUpdate;
    bool hasData = false;
};

// $XDG_DATA_HOME (default ~/.local/share) + "/KIVO Browser/SearchIndex.json"; the folder is created on
// the way, a failure to create it is left for the following read or write to report.
std::string defaultCachePath();

// Throws std::runtime_error with a readable description when the text is not a cache file: bad
// JSON, a missing or mistyped member, a malformed id.
CacheData decodeCacheData(std::string_view json);
// Reads the file straight into simdjson's padded buffer and decodes it; throws as above.
CacheData decodeCacheFile(const std::string& path);
// The file's text for `index`, handed to `sink` a piece at a time.
void encodeCacheData(
    const CompactIndex& index, double lastUpdate, const std::function<void(std::string_view)>& sink);
std::string encodeCacheData(const CompactIndex& index, double lastUpdate);

// Whole-file read; throws std::runtime_error naming the failure.
std::string readWholeFile(const std::string& path);
// Temporary file in the same folder, then rename over the old one; throws std::runtime_error.
void writeFileAtomically(const std::string& path, std::string_view bytes);
// The same for text made a piece at a time: `produce` is given the function that writes each piece.
void writeFileAtomically(const std::string& path,
    const std::function<void(const std::function<void(std::string_view)>&)>& produce);

} // namespace kivo::index
