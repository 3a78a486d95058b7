#include "platform/MountTable.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <unistd.h>

namespace kivo::platform {

namespace {

std::vector<std::string_view> splitFields(std::string_view line)
{
    std::vector<std::string_view> fields;
    while (!line.empty()) {
        const auto end = line.find(' ');
        if (end != 0)
            fields.push_back(line.substr(0, end));
        if (end == std::string_view::npos)
            break;
        line.remove_prefix(end + 1);
    }
    return fields;
}

template <typename T> bool parseNumber(std::string_view text, T& out)
{
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size();
}

std::optional<MountEntry> parseLine(std::string_view line)
{
    // id parent major:minor root mount-point options [optional fields...] - type source super-options
    const auto fields = splitFields(line);
    const auto separator = std::find(fields.begin(), fields.end(), std::string_view("-"));
    if (separator == fields.end() || separator - fields.begin() < 6 || fields.end() - separator < 3)
        return std::nullopt;

    MountEntry entry;
    const std::string_view device = fields[2];
    const auto colon = device.find(':');
    if (!parseNumber(fields[0], entry.id) || !parseNumber(fields[1], entry.parentId) || colon == device.npos
        || !parseNumber(device.substr(0, colon), entry.deviceMajor)
        || !parseNumber(device.substr(colon + 1), entry.deviceMinor))
        return std::nullopt;
    entry.root = unescapeMountField(fields[3]);
    entry.mountPoint = unescapeMountField(fields[4]);
    if (entry.mountPoint.empty() || entry.mountPoint[0] != '/')
        return std::nullopt;
    const std::string_view options = fields[5];
    entry.readOnly = options.substr(0, options.find(',')) == "ro";
    entry.fileSystemType = unescapeMountField(separator[1]);
    entry.source = unescapeMountField(separator[2]);
    return entry;
}

std::vector<std::string_view> components(std::string_view path)
{
    std::vector<std::string_view> parts;
    while (!path.empty()) {
        const auto start = path.find_first_not_of('/');
        if (start == std::string_view::npos)
            break;
        path.remove_prefix(start);
        const auto end = path.find('/');
        parts.push_back(path.substr(0, end));
        path.remove_prefix(end == std::string_view::npos ? path.size() : end);
    }
    return parts;
}

std::string joined(const std::vector<std::string_view>& parts, std::size_t count)
{
    std::string out;
    for (std::size_t i = 0; i < count; ++i) {
        out += '/';
        out += parts[i];
    }
    return out;
}

// How many components the mount point of a removable volume has under the parent the path starts
// with; 0 when the path is not under such a parent.
std::size_t removableVolumeDepth(const std::vector<std::string_view>& parts)
{
    if (parts.empty())
        return 0;
    if (parts[0] == "Volumes" || parts[0] == "mnt")
        return 2;
    if (parts[0] == "media")
        return 3;
    if (parts[0] == "run" && parts.size() >= 2 && parts[1] == "media")
        return 4;
    return 0;
}

} // namespace

bool MountEntry::isPseudo() const
{
    static constexpr std::array<std::string_view, 21> kPseudo = { "autofs", "binfmt_misc", "bpf", "cgroup",
        "cgroup2", "configfs", "debugfs", "devpts", "devtmpfs", "efivarfs", "fusectl", "hugetlbfs", "mqueue",
        "nsfs", "proc", "pstore", "rpc_pipefs", "securityfs", "selinuxfs", "sysfs", "tracefs" };
    return std::find(kPseudo.begin(), kPseudo.end(), fileSystemType) != kPseudo.end();
}

MountTable::MountTable(std::vector<MountEntry> entries)
    : m_entries(std::move(entries))
{
}

MountTable MountTable::parse(std::string_view mountInfo)
{
    std::vector<MountEntry> entries;
    while (!mountInfo.empty()) {
        const auto end = mountInfo.find('\n');
        if (auto entry = parseLine(mountInfo.substr(0, end)))
            entries.push_back(std::move(*entry));
        if (end == std::string_view::npos)
            break;
        mountInfo.remove_prefix(end + 1);
    }
    return MountTable(std::move(entries));
}

std::optional<MountTable> MountTable::read(const std::string& file)
{
    // Files under /proc report no size: read until the end.
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::string text;
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0)
            break;
        text.append(buffer, std::size_t(n));
    }
    ::close(fd);
    return parse(text);
}

std::set<std::string> MountTable::mountPoints() const
{
    std::set<std::string> points;
    for (const auto& entry : m_entries) {
        if (!entry.isPseudo())
            points.insert(entry.mountPoint);
    }
    return points;
}

std::set<std::string> MountTable::volumeRoots() const
{
    std::set<std::string> roots;
    for (const auto& point : mountPoints()) {
        const MountEntry* entry = entryAt(point);
        if (entry && !entry->isPseudo() && entry->root == "/")
            roots.insert(point);
    }
    return roots;
}

bool MountTable::isMountPoint(const std::string& path) const
{
    const MountEntry* entry = entryAt(path);
    return entry && !entry->isPseudo();
}

const MountEntry* MountTable::entryAt(const std::string& path) const
{
    // Later lines are mounted over earlier ones at the same place.
    for (auto it = m_entries.rbegin(); it != m_entries.rend(); ++it) {
        if (it->mountPoint == path)
            return &*it;
    }
    return nullptr;
}

std::string unescapeMountField(std::string_view field)
{
    std::string out;
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        const auto isOctal
            = [&](std::size_t k) { return k < field.size() && field[k] >= '0' && field[k] <= '7'; };
        if (field[i] == '\\' && isOctal(i + 1) && isOctal(i + 2) && isOctal(i + 3)) {
            const int value = (field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0');
            if (value <= 0xFF) {
                out += char(value);
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

std::optional<std::string> removableVolumeOf(const std::string& path)
{
    const auto parts = components(path);
    const std::size_t depth = removableVolumeDepth(parts);
    if (depth == 0 || parts.size() < depth)
        return std::nullopt;
    return joined(parts, depth);
}

bool holdsRemovableMedia(const std::string& path)
{
    const auto parts = components(path);
    if (parts.size() == 1 && parts[0] == "run")
        return true;
    const std::size_t depth = removableVolumeDepth(parts);
    return depth != 0 && parts.size() < depth;
}

} // namespace kivo::platform
