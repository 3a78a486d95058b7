// kivo-index search: the browser's search over a cache file, one path per line in result order.

#include "common/Subcommand.h"

#include "index/CacheIndexStore.h"
#include "organise/BrowserFileOrder.h"

#include <cstdio>
#include <set>

using namespace kivo;

namespace {

constexpr const char* kUsage = "search QUERY [--cache FILE] [--collection ID] [--folders] "
                               "[--no-folder-names]   files (or folders) matching";

int searchCommand(const std::vector<std::string>& args)
{
    std::string query, cache, collection;
    bool folders = false, folderNames = true, haveQuery = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--cache" && i + 1 < args.size())
            cache = args[++i];
        else if (args[i] == "--collection" && i + 1 < args.size())
            collection = args[++i];
        else if (args[i] == "--folders")
            folders = true;
        else if (args[i] == "--no-folder-names")
            folderNames = false;
        else if (!haveQuery && !args[i].starts_with("--")) {
            query = args[i];
            haveQuery = true;
        } else {
            std::fprintf(stderr, "usage: kivo-index %s\n", kUsage);
            return 2;
        }
    }
    if (!haveQuery) {
        std::fprintf(stderr, "usage: kivo-index %s\n", kUsage);
        return 2;
    }
    index::CacheIndexStore store(
        { cache, [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); }, {} });
    const index::DiskSnapshot snapshot = store.loadCache();
    if (!snapshot.hasData)
        return 1;

    const organise::SortingOptions sorting;
    const index::FileOrder order
        = [&](std::vector<index::FileInfo>& files) { organise::sortInBrowserOrder(files, sorting); };
    // Every collection in turn unless one is named; a file in overlapping collections is shown once.
    std::set<std::string> shown;
    for (const auto& [group, roots] : snapshot.roots) {
        if (!collection.empty() && index::Uuid::parse(collection)
            && index::Uuid::parse(collection)->text() != group)
            continue;
        if (folders) {
            for (const auto& hit : store.searchFolders(query, group))
                if (shown.insert(hit.path).second)
                    std::printf("%s\n", hit.path.c_str());
        } else {
            for (const auto& file : store.search(query, group, folderNames, order))
                if (shown.insert(file.path).second)
                    std::printf("%s\n", file.path.c_str());
        }
    }
    return 0;
}

const tools::SubcommandRegistrar registrar("search", kUsage, searchCommand);

} // namespace
