// kivo-bench cache: saving and loading the cache file of a 300,000-file index in 15,000 folders and
// two collections, against the least a load can do: read the file and walk every value of it with
// simdjson On-Demand without building anything.

#include "common/Subcommand.h"

#include "SyntheticIndex.h"
#include "index/CacheIndexStore.h"

#include <simdjson.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>

using namespace kivo;
using Clock = std::chrono::steady_clock;

namespace {

double since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::size_t walk(simdjson::ondemand::value value)
{
    using Type = simdjson::ondemand::json_type;
    std::size_t count = 1;
    switch (value.type()) {
    case Type::object:
        for (auto field : value.get_object()) {
            (void)field.unescaped_key().value();
            count += walk(field.value());
        }
        break;
    case Type::array:
        for (auto element : value.get_array())
            count += walk(element.value());
        break;
    case Type::string:
        (void)value.get_string().value();
        break;
    case Type::number:
        (void)value.get_double().value();
        break;
    default:
        break;
    }
    return count;
}

double baselineLoad(const std::string& path, std::size_t& values)
{
    const auto start = Clock::now();
    const auto text = simdjson::padded_string::load(path).value();
    simdjson::ondemand::parser parser;
    auto document = parser.iterate(text).value();
    values = walk(document.get_value().value());
    return since(start);
}

int cacheBench(const std::vector<std::string>& args)
{
    bench::SyntheticIndexShape shape;
    for (std::size_t i = 0; i + 1 < args.size(); i += 2) {
        if (args[i] == "--files")
            shape.files = std::stoul(args[i + 1]);
        else if (args[i] == "--folders")
            shape.folders = std::stoul(args[i + 1]);
    }
    const std::string folder = std::string(KIVO_BENCH_DATA_DIR) + "/cache";
    std::filesystem::create_directories(folder);
    const std::string path = folder + "/SearchIndex.json";
    const auto quiet = [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); };

    constexpr int kRuns = 3;
    std::vector<double> saves, loads, baselines;
    {
        index::CacheIndexStore store({ path, quiet, {} });
        store.modify([&](index::IndexMaps& maps) { maps = bench::makeSyntheticIndex(shape); });
        for (int run = 0; run < kRuns; ++run) {
            const auto start = Clock::now();
            store.saveCache(index::nowReferenceDate());
            saves.push_back(since(start));
        }
    }
    std::size_t values = 0;
    std::size_t residentPerFile = 0;
    for (int run = 0; run < kRuns; ++run) {
        baselines.push_back(baselineLoad(path, values));
        const std::size_t before = bench::heapBytesInUse();
        index::CacheIndexStore store({ path, quiet, {} });
        const auto start = Clock::now();
        const bool loaded = store.loadCache().hasData;
        loads.push_back(since(start));
        if (!loaded) {
            std::fprintf(stderr, "the cache did not load\n");
            return 1;
        }
        residentPerFile = (bench::heapBytesInUse() - std::min(before, bench::heapBytesInUse())) / shape.files;
    }
    const auto best = [](std::vector<double> v) { return *std::min_element(v.begin(), v.end()); };
    const double save = best(saves), load = best(loads), baseline = best(baselines);
    std::printf("files: %zu\n", shape.files);
    std::printf("folders: %zu\n", shape.folders);
    std::printf("file size MB: %.1f\n", double(std::filesystem::file_size(path)) / 1e6);
    std::printf("save seconds: %.3f\n", save);
    std::printf("load seconds: %.3f\n", load);
    std::printf("baseline read+walk seconds: %.3f (%zu values)\n", baseline, values);
    std::printf("heap bytes per indexed file after load: %zu\n", residentPerFile);
    std::printf("peak resident MB: %.0f\n", double(bench::peakResidentBytes()) / 1e6);
    std::printf("load ratio: %.2f\n", load / baseline);
    std::printf("save ratio: %.2f\n", save / load);
    std::printf("memory ratio: %.2f\n", double(residentPerFile) / 1024.0);
    return 0;
}

const tools::SubcommandRegistrar registrar(
    "cache", "cache [--files N --folders N]   cache save and load against a raw simdjson walk", cacheBench);

} // namespace
