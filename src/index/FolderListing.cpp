#include "index/FolderListing.h"

#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace kivo::index {

namespace {

std::optional<EntryKind> kindOfStat(const struct stat& st)
{
    if (S_ISDIR(st.st_mode))
        return EntryKind::folder;
    if (S_ISREG(st.st_mode))
        return EntryKind::file;
    return std::nullopt;
}

} // namespace

bool listFolder(const std::string& path, std::vector<FolderEntry>& out)
{
    out.clear();
    DIR* dir = ::opendir(path.empty() ? "/" : path.c_str());
    if (!dir)
        return false;
    const int dirFd = ::dirfd(dir);
    while (const dirent* e = ::readdir(dir)) {
        const char* name = e->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
            continue;
        std::optional<EntryKind> kind;
        bool viaLink = e->d_type == DT_LNK;
        switch (e->d_type) {
        case DT_DIR:
            kind = EntryKind::folder;
            break;
        case DT_REG:
            kind = EntryKind::file;
            break;
        case DT_UNKNOWN: {
            // File systems that do not report entry types: one lstat, and a stat more for links.
            struct stat st;
            if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                break;
            if (!S_ISLNK(st.st_mode)) {
                kind = kindOfStat(st);
                break;
            }
            viaLink = true;
            [[fallthrough]];
        }
        case DT_LNK: {
            // Links are followed; a dangling link or a vanished entry counts as nothing there.
            struct stat st;
            if (::fstatat(dirFd, name, &st, 0) == 0)
                kind = kindOfStat(st);
            break;
        }
        default:
            break; // sockets, devices, pipes
        }
        if (kind && !isMacMetadata(name, *kind))
            out.push_back({ std::string(name), *kind, viaLink });
    }
    ::closedir(dir);
    return true;
}

bool isMacMetadata(std::string_view name, EntryKind kind)
{
    if (kind == EntryKind::file)
        return name.starts_with("._");
    return name == "__MACOSX";
}

std::optional<FolderStamp> folderStamp(const std::string& path)
{
    struct stat st;
    if (::stat(path.empty() ? "/" : path.c_str(), &st) != 0)
        return std::nullopt;
    FolderStamp stamp;
    stamp.contentModified
        = double(st.st_mtim.tv_sec) + double(st.st_mtim.tv_nsec) * 1e-9 - kReferenceDateOffset;
    stamp.inode = std::uint64_t(st.st_ino);
    stamp.device = std::uint64_t(st.st_dev);
    return stamp;
}

std::optional<std::uint64_t> fileNumber(const std::string& path)
{
    struct stat st;
    if (::stat(path.empty() ? "/" : path.c_str(), &st) != 0)
        return std::nullopt;
    return std::uint64_t(st.st_ino);
}

bool hasCompatibleExtension(std::string_view name)
{
    const auto slash = name.rfind('/');
    if (slash != std::string_view::npos)
        name.remove_prefix(slash + 1);
    const auto dot = name.rfind('.');
    // A leading dot makes a hidden name, not an extension.
    if (dot == std::string_view::npos || dot == 0)
        return false;
    const std::size_t length = name.size() - dot - 1;
    if (length < 3 || length > 4)
        return false;
    char ext[5] = {};
    for (std::size_t i = 0; i < length; ++i) {
        const char c = name[dot + 1 + i];
        ext[i] = (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
    }
    if (length == 3)
        return !std::memcmp(ext, "wav", 3) || !std::memcmp(ext, "mp3", 3) || !std::memcmp(ext, "aac", 3)
            || !std::memcmp(ext, "m4a", 3) || !std::memcmp(ext, "mid", 3);
    return !std::memcmp(ext, "aiff", 4) || !std::memcmp(ext, "flac", 4) || !std::memcmp(ext, "midi", 4);
}

std::string displayNameOfPath(std::string_view path)
{
    const auto slash = path.rfind('/');
    std::string name(slash == std::string_view::npos ? path : path.substr(slash + 1));
    for (char& c : name)
        if (c == ':')
            c = '/';
    return name;
}

} // namespace kivo::index
