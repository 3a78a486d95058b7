// kivo-index refresh [--cache FILE]: a quick refresh of the cached index against disk; prints the
// delta (new, removed, moved) and saves the patched index.

#include "ScanRunner.h"
#include "common/Subcommand.h"
#include "index/IndexRefresh.h"

#include <chrono>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

using namespace kivo::index;

namespace {

int refreshCommand(const std::vector<std::string>& args)
{
    std::string cache = defaultCachePath();
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--cache" && i + 1 < args.size()) {
            cache = args[++i];
        } else {
            std::fprintf(stderr, "usage: kivo-index refresh [--cache FILE]\n");
            return 2;
        }
    }
    IndexMaps maps;
    if (!loadIndexFile(cache, maps)) {
        std::fprintf(stderr, "kivo-index: no usable index in %s\n", cache.c_str());
        return 1;
    }
    std::vector<std::string> roots;
    std::set<std::string> seen;
    for (const auto& [group, list] : maps.groupRoots)
        for (const auto& r : list)
            if (seen.insert(r).second)
                roots.push_back(r);

    QuickRefreshDelta delta;
    const bool completed = kivo::tools::runCancellable([&](std::stop_token stop) {
        const SnapshotLists listsOf
            = [&](const std::vector<std::string>& folders) { return directorySnapshots(maps, folders); };
        delta = computeQuickRefreshDelta(directorySnapshots(maps, SnapshotContent::timesOnly), roots, {},
            kivo::tools::mountedVolumes(), listsOf);
        FolderScanner scanner(stop, {}, readHeaderMetadata);
        applyQuickRefreshDelta(maps, delta, scanner);
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
    std::printf("%zu new, %zu removed, %zu moved; %zu folders changed\n",
        delta.newFiles.size() + delta.newFolders.size(),
        delta.removedFiles.size() + delta.removedFolders.size(), delta.movedFolders.size(),
        delta.freshMTimes.size());
    using namespace std::chrono;
    const double now = duration<double>(system_clock::now().time_since_epoch()).count() - 978307200.0;
    return saveIndexFile(cache, maps, now) ? 0 : 1;
}

const kivo::tools::SubcommandRegistrar registrar("refresh",
    "refresh [--cache FILE]   quick refresh of the cached index; prints new, removed and moved items",
    refreshCommand);

} // namespace
