// kivo-bench scan: our full scan and a sync adding one root, header reads included, each against a
// bare walk of the same folders measured in the same run.

#include "BenchLibrary.h"
#include "common/Subcommand.h"
#include "index/FolderListing.h"
#include "index/HeaderMetadata.h"
#include "index/IndexScan.h"
#include "index/IndexStoreScan.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace kivo::index;

namespace {

// The yardstick: opendir/readdir, a stat of every entry and the first 4 KiB of every compatible file.
std::size_t baselineWalk(const std::string& folder)
{
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return 0;
    std::size_t files = 0;
    std::vector<std::string> subfolders;
    char buffer[4096];
    while (const dirent* e = ::readdir(dir)) {
        if (!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, ".."))
            continue;
        const std::string path = folder + "/" + e->d_name;
        struct stat st;
        if (::stat(path.c_str(), &st) != 0)
            continue;
        // The files the library holds as samples: AppleDouble companions are metadata, as in a scan.
        if (S_ISDIR(st.st_mode)) {
            if (!isMacMetadata(e->d_name, EntryKind::folder))
                subfolders.push_back(path);
        } else if (S_ISREG(st.st_mode) && hasCompatibleExtension(e->d_name)
            && !isMacMetadata(e->d_name, EntryKind::file)) {
            const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd >= 0) {
                if (::read(fd, buffer, sizeof buffer) > 0)
                    ++files;
                ::close(fd);
            }
        }
    }
    ::closedir(dir);
    for (const auto& sub : subfolders)
        files += baselineWalk(sub);
    return files;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct Timed {
    double ours;
    double baseline;
    std::size_t files;
};

template <typename Ours, typename Base> Timed compare(int rounds, Ours&& ours, Base&& base)
{
    std::vector<double> a, b;
    std::size_t files = 0;
    for (int i = 0; i < rounds; ++i) {
        b.push_back(kivo::bench::secondsOf([&] { files = base(); }));
        a.push_back(kivo::bench::secondsOf(ours));
    }
    return { median(a), median(b), files };
}

struct Seconds {
    double wall, cpu;
};

// Wall time and the CPU time of every thread of the process.
template <typename F> Seconds timeOf(F&& f)
{
    const double start = kivo::bench::clockSeconds(CLOCK_PROCESS_CPUTIME_ID);
    const double wall = kivo::bench::secondsOf(f);
    return { wall, kivo::bench::clockSeconds(CLOCK_PROCESS_CPUTIME_ID) - start };
}

void print(const char* what, const Timed& t)
{
    std::printf("%s: %zu files; ours %.3f s (%.0f files/s), baseline %.3f s (%.0f files/s)\n", what, t.files,
        t.ours, double(t.files) / t.ours, t.baseline, double(t.files) / t.baseline);
}

// A full scan of `library` as the window has one made (the walk, and the new state made and published
// by the store) against the bare walk over it; fails when the scan did not index exactly the files the
// walk found.
bool fullScan(const std::string& library, const FolderAccess& access, Timed& timed, std::int64_t& reports)
{
    baselineWalk(library); // warm the page cache
    // Like the window's, one store lives on and each scan replaces its index.
    CacheIndexStore store({ std::string(KIVO_BENCH_DATA_DIR) + "/scan-cache/SearchIndex.json",
        [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); }, {} });
    ScanOptions options;
    options.access = access;
    std::size_t walked = 0;
    timed = compare(
        3,
        [&] {
            buildIndex(
                store, { { "A", { library }, {} } }, [&](const IndexProgress&) { ++reports; }, {}, options);
        },
        [&] { return walked = baselineWalk(library); });
    QCoreApplication::processEvents(); // the progress reports, posted to this thread
    const std::size_t indexed = store.current()->index.fileCount;
    if (indexed != walked) {
        std::fprintf(stderr, "the scan of %s indexed %zu files, the library holds %zu\n", library.c_str(),
            indexed, walked);
        return false;
    }
    return true;
}

// Arguments pick parts ("sync", "full", "mixed"), for profiling one alone; none runs all three.
int runScanBench(const std::vector<std::string>& args)
{
    const auto wanted = [&](const char* part) {
        return args.empty() || std::find(args.begin(), args.end(), part) != args.end();
    };
    const std::string library = kivo::bench::benchLibrary(100000, 0, 1);
    const std::string extra = kivo::bench::benchLibrary(10000, 0, 2);
    const std::string mixed = kivo::bench::benchLibrary(100000, 0, 3, 50);
    const FolderAccess access = platformFolderAccess();

    // Sync: one new root of 10,000 files added to a store holding a 100,000-file index, against the
    // same sync of that root alone into an empty store: the store path the window takes when a folder
    // is added. Timed in CPU time of the whole process (the walk's read-ahead and the store's worker
    // included): on a shared machine, wall time charges each pass for its neighbours' load.
    std::vector<double> syncs, alone, syncWalls, aloneWalls;
    if (wanted("sync")) {
        baselineWalk(library);
        const std::size_t libraryFiles = baselineWalk(library);
        const std::size_t extraFiles = baselineWalk(extra);
        ScanOptions options;
        options.access = access;
        const auto log = [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); };
        for (int i = 0; i < 5; ++i) {
            // A fresh store each round, built outside the timing as a scan leaves it, so that no round
            // starts from arrays an earlier round's state shares.
            CacheIndexStore big({ std::string(KIVO_BENCH_DATA_DIR) + "/scan-cache/SyncBig.json", log, {} });
            buildIndex(big, { { "A", { library }, {} } }, {}, {}, options);
            const std::size_t before = big.current()->index.fileCount;
            // Each timed pass starts with the new root's folders and headers just read, as the other's.
            baselineWalk(extra);
            const Seconds sync = timeOf([&] {
                syncIndex(big, { { "A", { library, extra }, {} } }, {}, {}, options);
            });
            CacheIndexStore empty(
                { std::string(KIVO_BENCH_DATA_DIR) + "/scan-cache/SyncAlone.json", log, {} });
            baselineWalk(extra);
            const Seconds root = timeOf([&] {
                syncIndex(empty, { { "A", { extra }, {} } }, {}, {}, options);
            });
            QCoreApplication::processEvents();
            const std::size_t synced = big.current()->index.fileCount,
                              single = empty.current()->index.fileCount;
            if (before != libraryFiles || synced != libraryFiles + extraFiles || single != extraFiles) {
                std::fprintf(stderr,
                    "the library scan indexed %zu files (it holds %zu); the sync %zu (expected %zu), the "
                    "root "
                    "alone %zu (expected %zu)\n",
                    before, libraryFiles, synced, libraryFiles + extraFiles, single, extraFiles);
                return 1;
            }
            syncs.push_back(sync.cpu);
            alone.push_back(root.cpu);
            syncWalls.push_back(sync.wall);
            aloneWalls.push_back(root.wall);
        }
        std::printf(
            "sync adding one root of %zu files to %zu (store path, medians of %zu): cpu %.3f s against "
            "%.3f s for that root alone into an empty store; wall %.3f s against %.3f s\n",
            extraFiles, libraryFiles, syncs.size(), median(syncs), median(alone), median(syncWalls),
            median(aloneWalls));
        std::printf("sync ratio is timed in: process CPU time\n");
    }

    std::int64_t reports = 0;
    Timed full {}, mixedFull {};
    if (wanted("full")) {
        if (!fullScan(library, access, full, reports))
            return 1;
        print("full scan", full);
        std::printf("progress reports per scan: %lld\n", (long long)(reports / 3));
    }
    if (wanted("mixed")) {
        if (!fullScan(mixed, access, mixedFull, reports))
            return 1;
        print("full scan, half the samples tagged mp3, flac, m4a and aiff", mixedFull);
    }
    std::printf("peak resident memory: %.0f MB\n", kivo::bench::peakResidentMB());
    if (wanted("full"))
        std::printf("scan ratio: %.2f\n", full.ours / full.baseline);
    if (wanted("mixed"))
        std::printf("mixed scan ratio: %.2f\n", mixedFull.ours / mixedFull.baseline);
    if (wanted("sync"))
        std::printf("sync ratio: %.2f\n", median(syncs) / median(alone));
    return 0;
}

const kivo::tools::SubcommandRegistrar registrar("scan",
    "scan            full scan and one-root sync of a 100,000-file library vs a bare readdir/stat/read walk",
    runScanBench);

} // namespace
