// kivo-bench search: the search box typed key by key over a 1,000,000-file index loaded from its cache.
// Each of 200 queries (prefixes of 1 to 3 tokens of real names: "k", "ki", "kic", "kick 1", ...) is
// searched as the window does it (matching, the browser order, the count and the first screenful of
// records) and, in the same run, by brute force over all names lower-cased once into one buffer.

#include "common/Subcommand.h"

#include "SampleNames.h"
#include "SyntheticIndex.h"
#include "index/CacheIndexStore.h"
#include "organise/BrowserFileOrder.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <time.h>

using namespace kivo;
using Clock = std::chrono::steady_clock;

namespace {

double since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The processor time this thread has used: what a search costs apart from waiting for a core.
double threadSeconds()
{
    timespec now {};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, std::size_t(p * double(v.size())))];
}

// Typing a name's first one to three tokens: every prefix of the typed text that ends in a letter or
// digit is one query.
std::vector<std::string> typedQueries(const std::vector<std::string>& names, std::size_t count)
{
    bench::Rng rng(42);
    std::vector<std::string> out;
    while (out.size() < count) {
        const auto tokens = index::tokenize(names[rng.below(names.size())], 1);
        if (tokens.empty())
            continue;
        const std::size_t take = std::min<std::size_t>(tokens.size(), 1 + rng.below(3));
        std::string text;
        for (std::size_t t = 0; t < take; ++t)
            text += (t ? " " : "") + tokens[t];
        for (std::size_t length = 1; length <= text.size() && out.size() < count; ++length)
            if (text[length - 1] != ' ')
                out.push_back(text.substr(0, length));
    }
    return out;
}

// The brute-force yardstick: every name lower-cased once into one buffer, one name a line; each query
// token found by a plain substring search over the buffer, the names holding every token collected.
class BruteForce {
public:
    explicit BruteForce(const std::vector<std::string>& names)
    {
        for (const auto& name : names) {
            m_starts.push_back(m_text.size());
            m_text += index::lowerCase(name);
            m_text += '\n';
        }
        m_starts.push_back(m_text.size());
    }

    std::vector<std::uint32_t> match(const std::string& query) const
    {
        const auto tokens = index::tokenize(query, 1);
        std::vector<std::uint32_t> hits;
        if (tokens.empty())
            return hits;
        const char* const begin = m_text.data();
        const char* const end = begin + m_text.size();
        for (const char* at = begin; at < end;) {
            const void* found = ::memmem(at, std::size_t(end - at), tokens[0].data(), tokens[0].size());
            if (!found)
                break;
            const auto offset = std::size_t(static_cast<const char*>(found) - begin);
            const auto name = std::uint32_t(
                std::upper_bound(m_starts.begin(), m_starts.end(), offset) - m_starts.begin() - 1);
            hits.push_back(name);
            at = begin + m_starts[name + 1];
        }
        for (std::size_t t = 1; t < tokens.size(); ++t)
            std::erase_if(hits, [&](std::uint32_t name) {
                const std::string_view text(begin + m_starts[name], m_starts[name + 1] - m_starts[name]);
                return text.find(tokens[t]) == std::string_view::npos;
            });
        return hits;
    }

private:
    std::string m_text;
    std::vector<std::size_t> m_starts;
};

constexpr std::size_t kScreenful = 60;

int searchBench(const std::vector<std::string>& args)
{
    bench::SyntheticIndexShape shape { 1000000, 50000, 1, 7 };
    for (std::size_t i = 0; i + 1 < args.size(); i += 2)
        if (args[i] == "--files")
            shape.files = std::stoul(args[i + 1]), shape.folders = shape.files / 20;
    const std::string folder = std::string(KIVO_BENCH_DATA_DIR) + "/search";
    std::filesystem::create_directories(folder);
    const std::string cachePath = folder + "/SearchIndex.json";
    const auto quiet = [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); };

    index::GroupID group;
    std::vector<std::string> allNames, someNames;
    {
        index::CacheIndexStore writer({ cachePath, quiet, {} });
        writer.modify([&](index::IndexMaps& maps) { maps = bench::makeSyntheticIndex(shape); });
        const index::SnapshotPtr state = writer.current();
        const index::CompactIndex& compact = state->index;
        group = compact.roots.begin()->first;
        allNames.reserve(compact.fileCount);
        for (std::uint32_t id = 0; id < compact.fileOf.size(); ++id) {
            const index::IndexedFile* file = compact.fileByID(id);
            if (!file)
                continue;
            allNames.emplace_back(compact.nameOf(*file));
            if (someNames.size() < 20000)
                someNames.push_back(allNames.back());
        }
        writer.saveCache(index::nowReferenceDate());
    }
    const auto queries = typedQueries(someNames, 200);
    const BruteForce brute(allNames);
    allNames.clear();
    allNames.shrink_to_fit();

    const organise::SortingOptions sorting;
    const index::NamedFileOrder order = organise::namedBrowserOrder(sorting);
    // What the window waits for: the hits in the browser order, their count, the first screenful.
    const auto windowSearch = [&](index::CacheIndexStore& store, const std::string& query) {
        const index::SearchHits hits = store.searchHits(query, group, true, order);
        const auto shown = hits.records(0, kScreenful);
        return hits.size() + shown.size();
    };

    index::CacheIndexStore store({ cachePath, quiet, {} });
    const std::size_t heapBefore = bench::heapBytesInUse();
    if (!store.loadCache().hasData) {
        std::fprintf(stderr, "the cache did not load\n");
        return 1;
    }
    const std::size_t heapIndex = bench::heapBytesInUse() - heapBefore;
    auto start = Clock::now();
    (void)windowSearch(store, queries.front());
    const double firstSearch = since(start);
    const std::size_t heapSearch = bench::heapBytesInUse() - heapBefore - heapIndex;

    std::vector<double> ours, oursBusy, naive;
    std::vector<std::size_t> hitCounts;
    std::size_t mismatches = 0;
    for (const auto& query : queries) {
        start = Clock::now();
        const double busy = threadSeconds();
        const index::SearchHits hits = store.searchHits(query, group, true, order);
        (void)hits.records(0, kScreenful);
        ours.push_back(since(start));
        oursBusy.push_back(threadSeconds() - busy);
        hitCounts.push_back(hits.size());
        start = Clock::now();
        const std::size_t expected = brute.match(query).size();
        naive.push_back(since(start));
        // The baseline matches within the whole name and ignores folder keywords, so it can only find
        // fewer; a query spanning a separator ("kick 1" inside "kick 10") still agrees.
        const auto names = store.searchHits(query, group, false, order).size();
        mismatches += names > expected;
    }
    const double oursMedian = percentile(ours, 0.5), naiveMedian = percentile(naive, 0.5);
    // Where the tail comes from: the slowest queries, with their place in the typing and hit counts.
    std::vector<std::size_t> slowest(ours.size());
    for (std::size_t i = 0; i < slowest.size(); ++i)
        slowest[i] = i;
    std::sort(slowest.begin(), slowest.end(), [&](auto a, auto b) { return ours[a] > ours[b]; });
    for (std::size_t i = 0; i < std::min<std::size_t>(5, slowest.size()); ++i) {
        const std::size_t q = slowest[i];
        std::printf("slow query #%zu \"%s\": %.3f ms (%.3f ms on a core), %zu hits\n", q, queries[q].c_str(),
            ours[q] * 1e3, oursBusy[q] * 1e3, hitCounts[q]);
    }
    std::printf("files: %zu\n", shape.files);
    std::printf("queries: %zu\n", queries.size());
    std::printf("index heap MB: %.0f\n", double(heapIndex) / 1e6);
    std::printf("search structures heap MB: %.1f\n", double(heapSearch) / 1e6);
    std::printf("first search after load ms: %.1f\n", firstSearch * 1e3);
    std::printf("our median ms: %.3f\n", oursMedian * 1e3);
    std::printf("our p99 ms: %.3f\n", percentile(ours, 0.99) * 1e3);
    std::printf("our p99 on a core ms: %.3f\n", percentile(oursBusy, 0.99) * 1e3);
    std::printf("baseline median ms: %.3f\n", naiveMedian * 1e3);
    std::printf("queries where names matched more than the baseline: %zu\n", mismatches);
    std::printf("peak resident MB: %.0f\n", double(bench::peakResidentBytes()) / 1e6);
    std::printf("median ratio: %.4f\n", oursMedian / naiveMedian);
    std::printf("p99 ratio: %.4f\n", percentile(ours, 0.99) / naiveMedian);
    std::printf("first search ratio: %.4f\n", firstSearch / naiveMedian);
    return mismatches == 0 ? 0 : 1;
}

const tools::SubcommandRegistrar registrar("search",
    "search [--files N]   typed queries over a 1,000,000-file index against a naive scan", searchBench);

} // namespace
