// kivo-index refresh [--cache FILE]: a quick refresh of the cached index against disk; prints the
// delta (new, removed, moved) and saves the patched index.

#include "ScanRunner.h"
#include "common/Subcommand.h"
#include "index/IndexStoreScan.h"

#include <chrono>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

using namespace kivo::index;

namespace {

int refreshCommand(const std::vector<std::string>& args)
{
    std::string cache;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--cache" && i + 1 < args.size()) {
            cache = args[++i];
        } else {
            std::fprintf(stderr, "usage: kivo-index refresh [--cache FILE]\n");
            return 2;
        }
    }
    CacheIndexStoreOptions options;
    options.cacheFilePath = cache;
    CacheIndexStore store(options);
    cache = store.cacheFilePath();
    if (!store.loadCache().hasData) {
        std::fprintf(stderr, "kivo-index: no usable index in %s\n", cache.c_str());
        return 1;
    }
    QuickRefreshDelta delta;
    const bool completed = kivo::tools::runCancellable([&](CancelHandle stop) {
        delta = computeQuickRefreshDelta(store, allRoots(store), {}, kivo::tools::mountedVolumes());
        applyQuickRefreshDelta(store, delta, stop);
    });
    if (!completed) {
        std::fprintf(stderr, "cancelled: nothing was saved, %s is as it was\n", cache.c_str());
        return 130;
    }
    for (const auto& p : delta.newFiles)
        std::printf("new file: %s\n", p.c_str());
    for (const auto& p : delta.newFolders)
        std::printf("new folder: %s\n", p.c_str());
    for (const auto& p : delta.removedFiles)
        std::printf("removed file: %s\n", p.c_str());
    for (const auto& p : delta.removedFolders)
        std::printf("removed folder: %s\n", p.c_str());
    for (const auto& m : delta.movedFolders)
        std::printf("moved: %s -> %s\n", m.from.c_str(), m.to.c_str());
    const std::size_t changed = delta.freshMTimes.size();
    std::printf("%zu new, %zu removed, %zu moved; %zu %s changed\n",
        delta.newFiles.size() + delta.newFolders.size(),
        delta.removedFiles.size() + delta.removedFolders.size(), delta.movedFolders.size(), changed,
        changed == 1 ? "folder" : "folders");
    store.saveCache(nowReferenceDate());
    return 0;
}

const kivo::tools::SubcommandRegistrar registrar("refresh",
    "refresh [--cache FILE]   quick refresh of the cached index; prints new, removed and moved items",
    refreshCommand);

} // namespace
