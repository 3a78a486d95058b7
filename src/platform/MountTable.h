#pragma once

// The mounted file systems as the kernel lists them in /proc/self/mountinfo, and the path rules of
// removable media. Plain C++ so the index's background work can read the table on any thread.

#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace kivo::platform {

struct MountEntry {
    int id = 0;
    int parentId = 0;
    unsigned deviceMajor = 0;
    unsigned deviceMinor = 0;
    std::string root; // the folder of the file system that is mounted here ("/" unless a bind mount)
    std::string mountPoint;
    std::string fileSystemType;
    std::string source; // the device or server, "none" for most kernel file systems
    bool readOnly = false;

    // Kernel interfaces and automount triggers: mount points, but not places that hold samples.
    bool isPseudo() const;
    bool operator==(const MountEntry&) const = default;
};

class MountTable {
public:
    MountTable() = default;
    explicit MountTable(std::vector<MountEntry> entries);

    // Malformed lines are skipped; escapes (\040 for a space, \011, \012, \134) are decoded.
    static MountTable parse(std::string_view mountInfo);
    // The table of this process now; none when the file cannot be read.
    static std::optional<MountTable> read(const std::string& file = kMountInfoPath);
    static constexpr const char* kMountInfoPath = "/proc/self/mountinfo";

    const std::vector<MountEntry>& entries() const { return m_entries; }
    // The mount points of the mounted volumes (pseudo file systems left out), each once.
    std::set<std::string> mountPoints() const;
    // The mount points where a whole file system is visible: a folder bind-mounted elsewhere is a
    // mount point but no drive of its own.
    std::set<std::string> volumeRoots() const;
    bool isMountPoint(const std::string& path) const;
    // The entry mounted last at `path` (the one that is visible), or null.
    const MountEntry* entryAt(const std::string& path) const;

    bool operator==(const MountTable&) const = default;

private:
    std::vector<MountEntry> m_entries;
};

// Decodes the octal escapes the kernel writes for space, tab, newline and backslash in paths.
std::string unescapeMountField(std::string_view field);

// Removable media are mounted one level below a parent folder: "/Volumes/<name>", "/mnt/<name>",
// "/media/<user>/<name>" and "/run/media/<user>/<name>". For a path on such media: the mount point
// of its volume (the parent plus the next component), else none.
std::optional<std::string> removableVolumeOf(const std::string& path);
// True for the folders below "/" under which removable volumes are mounted, at any depth: "/Volumes",
// "/mnt", "/media", "/media/<user>", "/run", "/run/media" and "/run/media/<user>".
bool holdsRemovableMedia(const std::string& path);

} // namespace kivo::platform
