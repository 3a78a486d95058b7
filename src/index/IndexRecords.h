#pragma once

// The index's records and the text rules every part of the index shares. Pure, no Qt, safe from any
// thread. Dates are seconds since 2001-01-01 00:00:00 UTC, the form the cache file stores.

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace kivo::index {

struct Uuid {
    std::array<std::uint8_t, 16> bytes {};
    bool operator==(const Uuid&) const = default;

    // Canonical upper-case 8-4-4-4-12 text.
    std::string text() const;
    // Accepts either case; none for anything that is not 32 hex digits in 8-4-4-4-12 groups.
    static std::optional<Uuid> parse(std::string_view text);
};

struct FileInfo {
    Uuid id;
    std::string path;
    std::string name;
    std::optional<std::int64_t> bpm;
    std::optional<std::string> key;
    std::optional<double> duration;

    // The file URL is derived from the path rather than stored: one less copy of every path.
    std::string url() const;
    // Records stand for files: only the path identifies one.
    bool operator==(const FileInfo& other) const { return path == other.path; }
};

struct DirectoryInfo {
    std::string path;
    std::vector<FileInfo> files;
    std::vector<std::string> subdirectories;
    double lastModified = 0; // when the folder was indexed
    std::optional<double> contentModified;
    std::optional<std::uint64_t> inode;
    // Files compare by path, as FileInfo does.
    bool operator==(const DirectoryInfo&) const = default;
};

struct IndexProgress {
    double fraction = 0;
    std::int64_t processed = 0;
    std::int64_t total = 0;
    std::int64_t folders = 0;
    bool scanning = false;
    bool operator==(const IndexProgress&) const = default;
};

// A folder found by name: its path and its last component with ":" shown as "/".
struct FolderHit {
    std::string path;
    std::string name;
    bool operator==(const FolderHit&) const = default;
};

// A collection identifier: the UUID's canonical upper-case text.
using GroupID = std::string;
using PathSet = std::unordered_set<std::string>;
using TokenIndex = std::unordered_map<std::string, PathSet>;
// Ordered by collection so "every collection containing a path" comes out the same on every run.
using GroupTokenIndex = std::map<GroupID, TokenIndex>;
using DirectoryIndex = std::unordered_map<std::string, DirectoryInfo>;
using FileIndex = std::unordered_map<std::string, FileInfo>;
using GroupRoots = std::map<GroupID, std::vector<std::string>>;

// The text in Unicode normalisation form C (composed); bytes that are not UTF-8 are kept as they are.
std::string toNFC(std::string_view text);
// Lower-cased pieces (of the text composed first, as toNFC) between characters that are neither letters nor
// digits (any script), each once, in order of first appearance; pieces shorter than `minLength` characters
// are dropped.
std::vector<std::string> tokenize(std::string_view text, std::size_t minLength);
// Every character lower-cased (simple case mapping), nothing removed.
std::string lowerCase(std::string_view text);
// Tokens of the folder names from the root folder down to the file's own folder.
std::vector<std::string> keywordsForPath(std::string_view filePath, std::string_view rootPath);
// True when `path` is `root` or lies inside it.
bool isUnderRoot(std::string_view path, std::string_view root);
Uuid stableFileID(std::string_view path);
// "file://" and the percent-encoded absolute path.
std::string fileURL(std::string_view path);
// The path again from a file URL; none when it is not one.
std::optional<std::string> pathFromFileURL(std::string_view url);

// A component ".Trash" or ".Trashes", or anything under the user's trash folder.
bool isInTrash(std::string_view path);
bool isInTrash(std::string_view path, std::string_view userTrashFolder);
// $XDG_DATA_HOME/Trash, by default ~/.local/share/Trash.
std::string userTrashFolder();

// The path without its last component ("" when it has none).
std::string_view parentPath(std::string_view path);

double nowReferenceDate();

} // namespace kivo::index
