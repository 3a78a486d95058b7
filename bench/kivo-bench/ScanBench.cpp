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
#include <dirent.h>
#include <fcntl.h>
#include <string>
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

    // Sync: one new root of 10,000 files added to a 100,000-file index, against scanning that root
    // alone into an empty index.
    std::vector<double> syncs, alone;
    if (wanted("sync")) {
        baselineWalk(library);
        baselineWalk(extra);
        IndexMaps base;
        {
            CancelHandle stop;
            FolderScanner scanner(stop, {}, readHeaderMetadata);
            buildIndex(base, { { "A", { library }, {} } }, scanner, access);
        }
        const std::size_t extraFiles = baselineWalk(extra);
        for (int i = 0; i < 3; ++i) {
            IndexMaps maps = base; // copied outside the timing
            syncs.push_back(kivo::bench::secondsOf([&] {
                CancelHandle stop;
                FolderScanner scanner(
                    stop, [](const IndexProgress&) {}, readHeaderMetadata);
                syncIndex(maps, { { "A", { library, extra }, {} } }, scanner, access);
            }));
            IndexMaps empty;
            alone.push_back(kivo::bench::secondsOf([&] {
                CancelHandle stop;
                FolderScanner scanner(
                    stop, [](const IndexProgress&) {}, readHeaderMetadata);
                buildIndex(empty, { { "A", { extra }, {} } }, scanner, access);
            }));
            if (maps.fileIndex.size() != base.fileIndex.size() + extraFiles
                || empty.fileIndex.size() != extraFiles) {
                std::fprintf(stderr,
                    "sync indexed %zu files (expected %zu), the root alone %zu (expected %zu)\n",
                    maps.fileIndex.size(), base.fileIndex.size() + extraFiles, empty.fileIndex.size(),
                    extraFiles);
                return 1;
            }
        }
        base = IndexMaps();
        print("sync adding one root (baseline: that root alone into an empty index)",
            { median(syncs), median(alone), extraFiles });
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
