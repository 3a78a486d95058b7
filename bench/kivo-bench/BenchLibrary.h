#pragma once

// Synthetic libraries the benchmarks share, written once under the build tree and reused by later
// runs (a marker file says a library was written completely).

#include "LibraryGenerator.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <sys/resource.h>

namespace kivo::bench {

inline std::string benchLibrary(
    std::size_t files, std::size_t folders, std::uint64_t seed, std::size_t taggedPercent = 0)
{
    namespace fs = std::filesystem;
    const std::string name = "library-" + std::to_string(files) + "-" + std::to_string(folders) + "-s"
        + std::to_string(seed) + (taggedPercent ? "-tagged" + std::to_string(taggedPercent) : "");
    const fs::path dir = fs::path(KIVO_BENCH_DATA_DIR) / name;
    const fs::path marker = fs::path(KIVO_BENCH_DATA_DIR) / (name + ".complete");
    if (fs::exists(marker))
        return dir.string();
    fs::create_directories(KIVO_BENCH_DATA_DIR);
    const fs::path partial = fs::path(KIVO_BENCH_DATA_DIR) / (name + ".partial");
    fs::remove_all(partial);
    fs::remove_all(dir);
    std::fprintf(stderr, "writing %zu-file library to %s (once)...\n", files, dir.c_str());
    LibraryOptions options;
    options.directory = partial.string();
    options.files = files;
    options.folders = folders;
    options.seed = seed;
    options.taggedPercent = taggedPercent;
    makeLibrary(options);
    fs::rename(partial, dir);
    std::FILE* f = std::fopen(marker.c_str(), "w");
    if (f)
        std::fclose(f);
    return dir.string();
}

inline double clockSeconds(clockid_t clock)
{
    timespec ts {};
    clock_gettime(clock, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

template <typename F> double secondsOf(F&& f)
{
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The calling thread's CPU time for f. On a shared machine a pass that outlasts a scheduler slice is
// preempted in every round, so wall time penalises the longer of two passes by the neighbours' load.
template <typename F> double cpuSecondsOf(F&& f)
{
    const double start = clockSeconds(CLOCK_THREAD_CPUTIME_ID);
    f();
    return clockSeconds(CLOCK_THREAD_CPUTIME_ID) - start;
}

// The whole process's CPU time for f, its threads and its system calls included: a store change runs
// partly on the store's worker, and a refresh is mostly system calls. Steadier than wall time on a
// loaded machine, where every pass waits for the neighbours for as long as they run.
template <typename F> double processCpuSecondsOf(F&& f)
{
    const double start = clockSeconds(CLOCK_PROCESS_CPUTIME_ID);
    f();
    return clockSeconds(CLOCK_PROCESS_CPUTIME_ID) - start;
}

inline double peakResidentMB()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0;
}

} // namespace kivo::bench
