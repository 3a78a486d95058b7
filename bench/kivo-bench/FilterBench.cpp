// kivo-bench filter: the result list of an empty query with a key filter (A minor with its relative
// major), a BPM range and one tag over a 1,000,000-file collection, made as the window makes it (the
// filter pass with the user's overrides and folder tags, the passing files in the browser's order)
// against, in the same run, a pass that only copies the candidate list (every file of the collection).

#include "common/Subcommand.h"

#include "BenchLibrary.h"
#include "SampleNames.h"
#include "SyntheticIndex.h"
#include "index/CacheIndexStore.h"
#include "organise/FilterResults.h"
#include "organise/MetadataInheritance.h"

#include <algorithm>
#include <cstdio>

using namespace kivo;

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

int filterBench(const std::vector<std::string>& args)
{
    std::size_t files = 1000000;
    int rounds = 9;
    for (std::size_t i = 0; i + 1 < args.size(); i += 2) {
        if (args[i] == "--files")
            files = std::stoul(args[i + 1]);
        else if (args[i] == "--rounds")
            rounds = std::max(1, std::stoi(args[i + 1]));
    }
    index::IndexMaps maps = bench::makeSyntheticIndex({ files, files / 20, 1, 7 });
    const index::GroupID group = maps.groupRoots.begin()->first;

    // A third of the folders tagged, some exclusions below them, and folder tempo overrides.
    std::vector<std::string> folders;
    for (const auto& [path, folder] : maps.directoryIndex)
        folders.push_back(path);
    std::sort(folders.begin(), folders.end());
    organise::TagMaps tags;
    const organise::TagId tag = *index::Uuid::parse("5EED0000-0000-4000-8000-000000000001");
    index::MetadataOverrides overrides;
    bench::Rng rng(3);
    for (std::size_t i = 0; i < folders.size(); ++i) {
        if (i % 3 == 0)
            organise::applySetTag(tags, tag, organise::TagChoice::on, { folders[i] });
        if (i % 50 == 1)
            overrides.setBPM(rng.between(90, 140), { folders[i] });
    }
    const auto overridesSnapshot = std::make_shared<const index::MetadataOverrides>(overrides);
    const auto tagsSnapshot = std::make_shared<const organise::TagMaps>(tags);

    index::CacheIndexStore store({ "/nonexistent/filter-bench.json", [](const std::string&) {}, {} });
    store.replace([&](index::IndexMaps& into) { into = std::move(maps); });

    organise::SearchRequest request;
    request.groups = { group };
    request.filters.minBPM = 100;
    request.filters.maxBPM = 130;
    request.filters.key = organise::KeyFilter { 9, true, true };
    request.filters.tags = { tag };
    request.order = organise::effectiveFileOrder(organise::SortingOptions {}, overridesSnapshot);

    std::vector<double> copying, filtering;
    std::size_t candidates = 0, passed = 0;
    for (int round = 0; round < rounds; ++round) {
        copying.push_back(bench::secondsOf([&] { candidates = store.allFiles(group).size(); }));
        filtering.push_back(bench::secondsOf([&] {
            organise::MetadataInheritance pass(overridesSnapshot, tagsSnapshot);
            passed = organise::buildResults(store, request, pass)->size();
        }));
    }
    const double copy = median(copying), filter = median(filtering);
    std::printf("files: %zu in %zu folders; tagged folders: %zu\n", candidates, folders.size(),
        (folders.size() + 2) / 3);
    std::printf("filter: BPM 100-130, A minor with its relative, one tag; passing: %zu\n", passed);
    std::printf("copying the candidate list ms (median of %d): %.2f\n", rounds, copy * 1e3);
    std::printf("filtered list ms (median of %d): %.2f\n", rounds, filter * 1e3);
    std::printf("filter ratio: %.3f (target <= 3.0)\n", filter / copy);
    return 0;
}

const tools::SubcommandRegistrar registrar("filter",
    "filter [--files N] [--rounds N]   an empty query's filtered list against copying its candidates",
    filterBench);

} // namespace
