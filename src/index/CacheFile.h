#pragma once

// The cache file "SearchIndex.json": decoding with simdjson On-Demand, encoding with our own streaming
// writer, and the atomic write. Pure apart from the file reads and writes.

#include "index/IndexMaps.h"

#include <string>
#include <string_view>

namespace kivo::index {

inline constexpr std::string_view kCacheVersion = "2.9";

struct CacheData {
    DirectoryIndex directoryIndex;
    GroupTokenIndex searchIndex;
    GroupRoots groupRoots;
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
std::string encodeCacheData(const CacheData& data);
// The same over the store's maps, without copying them into a CacheData first.
std::string encodeCacheData(const IndexMaps& maps, double lastUpdate);

// Whole-file read; throws std::runtime_error naming the failure.
std::string readWholeFile(const std::string& path);
// Temporary file in the same folder, then rename over the old one; throws std::runtime_error.
void writeFileAtomically(const std::string& path, std::string_view bytes);

} // namespace kivo::index
