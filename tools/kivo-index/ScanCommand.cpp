// kivo-index scan ROOT... [--cache FILE] [--collection NAME]: a full build of the folders as one
// collection, saved to the cache file. Ctrl-C cancels and leaves the previous cache file as it was.

#include "ScanRunner.h"
#include "common/Subcommand.h"
#include "index/IndexStoreScan.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

using namespace kivo::index;

namespace {

// The same name always gives the same collection identifier, so scanning again replaces the collection
// instead of adding one.
std::string collectionIdForName(const std::string& name)
{
    std::uint64_t a = 0xcbf29ce484222325ull, b = 0x84222325cbf29ce4ull;
    for (unsigned char c : name) {
        a = (a ^ c) * 0x100000001b3ull;
        b = (b ^ c) * 0x100000001b3ull + 0x9e3779b97f4a7c15ull;
    }
    unsigned char bytes[16];
    for (int i = 0; i < 8; ++i) {
        bytes[i] = (a >> (56 - 8 * i)) & 0xff;
        bytes[8 + i] = (b >> (56 - 8 * i)) & 0xff;
    }
    bytes[6] = (bytes[6] & 0x0f) | 0x50; // name-based
    bytes[8] = (bytes[8] & 0x3f) | 0x80;
    char text[37];
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X",
        bytes[0], bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8], bytes[9],
        bytes[10], bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
    return text;
}

int scanCommand(const std::vector<std::string>& args)
{
    std::vector<std::string> roots;
    std::string cache;
    std::string collection = "Command Line";
    for (std::size_t i = 0; i < args.size(); ++i) {
        if ((args[i] == "--cache" || args[i] == "--collection") && i + 1 < args.size()) {
            (args[i] == "--cache" ? cache : collection) = args[i + 1];
            ++i;
        } else if (!args[i].empty() && args[i][0] != '-') {
            roots.push_back(kivo::tools::absoluteFolderPath(args[i]));
        } else {
            std::fprintf(stderr, "usage: kivo-index scan ROOT... [--cache FILE] [--collection NAME]\n");
            return 2;
        }
    }
    if (roots.empty()) {
        std::fprintf(stderr, "usage: kivo-index scan ROOT... [--cache FILE] [--collection NAME]\n");
        return 2;
    }

    const std::vector<ScanGroup> groups { { collectionIdForName(collection), roots, {} } };
    CacheIndexStoreOptions options;
    options.cacheFilePath = cache;
    CacheIndexStore store(options);
    cache = store.cacheFilePath();
    std::size_t files = 0, folders = 0;
    double seconds = 0;
    const bool completed = kivo::tools::runCancellable([&](CancelHandle stop) {
        const auto start = std::chrono::steady_clock::now();
        buildIndex(store, groups, kivo::tools::printProgress, stop);
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    });
    std::fprintf(stderr, "\n");
    if (!completed) {
        std::fprintf(stderr, "cancelled: nothing was saved, %s is as it was\n", cache.c_str());
        return 130;
    }
    const SnapshotPtr state = store.current();
    files = decltype(files)(state->index.fileCount);
    folders = decltype(folders)(state->index.folderCount);
    store.saveCache(nowReferenceDate());
    std::printf("files %lld, folders %lld, seconds %.3f, files/s %.0f\n", (long long)files,
        (long long)folders, seconds, seconds > 0 ? double(files) / seconds : 0.0);
    return 0;
}

const kivo::tools::SubcommandRegistrar registrar("scan",
    "scan ROOT... [--cache FILE] [--collection NAME]   full build of the folders as one collection",
    scanCommand);

} // namespace
