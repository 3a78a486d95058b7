// kivo-index cache-info: what a cache file holds, read the way the store reads it.

#include "common/Subcommand.h"

#include "index/CacheFile.h"
#include "platform/ReferenceDate.h"

#include <cstdio>
#include <set>
#include <stdexcept>
#include <sys/stat.h>

using namespace kivo::index;

namespace {

std::string describeDate(double referenceSeconds)
{
    const auto date = kivo::platform::isoDateFromReference(referenceSeconds);
    if (!date.outOfRange)
        return date.iso;
    char seconds[64];
    std::snprintf(seconds, sizeof seconds, "%g", referenceSeconds);
    return date.iso + " (out of range: the file says " + seconds + " s from 2001-01-01)";
}

int cacheInfo(const std::vector<std::string>& args)
{
    std::string path;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--cache" && i + 1 < args.size()) {
            path = args[++i];
        } else {
            std::fprintf(stderr, "usage: kivo-index cache-info [--cache FILE]\n");
            return 2;
        }
    }
    if (path.empty())
        path = defaultCachePath();

    CacheData data;
    try {
        data = decodeCacheFile(path);
    } catch (const std::exception& error) {
        std::printf("❌ Failed to load cache: %s\n", error.what());
        return 1;
    }
    std::size_t roots = 0;
    for (const auto& [group, list] : data.index.roots)
        roots += list.size();
    struct stat info { };
    const long long size = ::stat(path.c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : -1;

    std::printf("cache: %s\n", path.c_str());
    std::printf("version: %s%s\n", data.version.c_str(),
        data.version == kCacheVersion ? "" : " (not this program's version: the store ignores it)");
    std::printf("last update: %s\n", describeDate(data.lastUpdate).c_str());
    std::printf("collections: %zu\n", data.index.roots.size());
    std::printf("roots: %zu\n", roots);
    std::printf("folders: %zu\n", data.index.folderCount);
    std::printf("files: %zu\n", data.index.fileCount);
    std::printf("token collections: %zu\n", data.index.names.size());
    std::printf("file size: %lld bytes\n", size);
    return 0;
}

const kivo::tools::SubcommandRegistrar registrar(
    "cache-info", "cache-info [--cache FILE]   version, date and counts of a cache file", cacheInfo);

} // namespace
