#pragma once

// The few file-system reads the scanner and the quick refresh make, done the cheap way: one readdir
// pass whose entry types save a stat per entry, a stat only for links and file systems that do not
// say, and a fast lower-case extension test. Plain POSIX, safe on any thread.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kivo::index {

enum class EntryKind : std::uint8_t { folder, file };

struct FolderEntry {
    std::string name;
    EntryKind kind;
    bool viaLink = false; // reached through a symbolic link (where cycles come from)
};

// Lists a folder's entries in the order the file system returns them (raw readdir order, which is
// stable for an unchanged folder; the browser sorts for display, so the index keeps the cheaper
// order). Links are followed; entries that are neither folders nor regular files after following,
// and entries that vanish or dangle, are left out, and so is what isMacMetadata() names. Returns false
// when the folder cannot be listed.
bool listFolder(const std::string& path, std::vector<FolderEntry>& out);
// Libraries copied from macOS drives or unpacked from archives carry AppleDouble companions
// ("._Kick.wav", a few KiB of metadata, never audio) and "__MACOSX" folders full of them; their own
// platform never shows them as files, and neither do we.
bool isMacMetadata(std::string_view name, EntryKind kind);

// What the scanner records of a folder: its content-modification time in seconds since
// 2001-01-01 UTC and its file number, plus the device for link-cycle checks.
struct FolderStamp {
    std::optional<double> contentModified;
    std::optional<std::uint64_t> inode;
    std::uint64_t device = 0;
};

// Follows links; none when the path cannot be stat'ed.
std::optional<FolderStamp> folderStamp(const std::string& path);

// A folder's current file number (links followed), or none.
std::optional<std::uint64_t> fileNumber(const std::string& path);

// True when the name's extension, lower-cased, is one the library indexes: wav, mp3, aiff, flac,
// aac, m4a, mid, midi. "aif" is not.
bool hasCompatibleExtension(std::string_view name);

// The file's display name: its last path component with every ":" shown as "/" (Linux has no
// localized names).
std::string displayNameOfPath(std::string_view path);

// Seconds between 1970-01-01 and 2001-01-01 UTC, the epoch of every stored date.
inline constexpr double kReferenceDateOffset = 978307200.0;

} // namespace kivo::index
