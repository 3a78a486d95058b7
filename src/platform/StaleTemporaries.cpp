#include "platform/StaleTemporaries.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <string_view>

namespace kivo::platform {

namespace {

bool isTemporaryOf(std::string_view entry, std::string_view base)
{
    constexpr std::size_t kSuffix = 6;
    if (entry.size() != base.size() + 1 + kSuffix || entry.substr(0, base.size()) != base
        || entry[base.size()] != '.')
        return false;
    for (char c : entry.substr(base.size() + 1)) {
        const bool alnum = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!alnum)
            return false;
    }
    return true;
}

} // namespace

int removeStaleTemporaries(const std::string& filePath, std::chrono::seconds minAge)
{
    const auto slash = filePath.rfind('/');
    const std::string folder = slash == std::string::npos ? "."
        : slash == 0                                      ? "/"
                                                          : filePath.substr(0, slash);
    const std::string base = slash == std::string::npos ? filePath : filePath.substr(slash + 1);
    if (base.empty())
        return 0;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return 0;
    const std::time_t cutoff = std::time(nullptr) - std::time_t(minAge.count());
    int removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (!isTemporaryOf(entry->d_name, base))
            continue;
        struct stat info { };
        if (::fstatat(::dirfd(dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode)
            || info.st_mtime > cutoff)
            continue;
        if (::unlinkat(::dirfd(dir), entry->d_name, 0) == 0)
            ++removed;
    }
    ::closedir(dir);
    return removed;
}

} // namespace kivo::platform
