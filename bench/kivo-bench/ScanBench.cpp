// kivo-bench scan: our full scan and a sync adding one root, header reads included, each against a
// bare walk of the same folders measured in the same run.

#include "BenchLibrary.h"
#include "common/Subcommand.h"
#include "index/FolderListing.h"
#include "index/HeaderMetadata.h"
#include "index/IndexScan.h"

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
        if (S_ISDIR(st.st_mode)) {
            subfolders.push_back(path);
        } else if (S_ISREG(st.st_mode) && hasCompatibleExtension(e->d_name)) {
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
    std::printf(
        "%s: %zu files; ours %.3f s (%.0f files/s), baseline %.3f s (%.0f files/s), ratio ours/baseline %.2f "
        "(target <= 1.5)\n",
        what, t.files, t.ours, double(t.files) / t.ours, t.baseline, double(t.files) / t.baseline,
        t.ours / t.baseline);
}

int runScanBench(const std::vector<std::string>& args)
{
    const std::string library = kivo::bench::benchLibrary(100000, 0, 1);
    const std::string extra = kivo::bench::benchLibrary(5000, 0, 2);
    const FolderAccess access = platformFolderAccess();
    const std::vector<ScanGroup> one { { "A", { library }, {} } };
    const std::vector<ScanGroup> two { { "A", { library, extra }, {} } };

    baselineWalk(library); // warm the page cache
    baselineWalk(extra);
    // The sync first: freeing the indexes the full scans replace runs in the background afterwards.
    IndexMaps base;
    {
        CancelHandle stop;
        FolderScanner scanner(stop, {}, readHeaderMetadata);
        buildIndex(base, one, scanner, access);
    }
    std::vector<double> ours, baseline;
    std::size_t files = 0;
    for (int i = 0; i < 3; ++i) {
        IndexMaps maps = base; // copied outside the timing
        baseline.push_back(kivo::bench::secondsOf([&] { files = baselineWalk(extra); }));
        ours.push_back(kivo::bench::secondsOf([&] {
            CancelHandle stop;
            FolderScanner scanner(
                stop, [](const IndexProgress&) {}, readHeaderMetadata);
            syncIndex(maps, two, scanner, access);
        }));
        if (maps.fileIndex.size() != base.fileIndex.size() + files) {
            std::fprintf(stderr, "sync indexed %zu files, expected %zu\n", maps.fileIndex.size(),
                base.fileIndex.size() + files);
            return 1;
        }
    }
    print("sync adding one root", { median(ours), median(baseline), files });
    std::int64_t reports = 0;
    // Like the store, one index lives on and each scan replaces it.
    IndexMaps current;
    auto scan = [&] {
        CancelHandle stop;
        FolderScanner scanner(
            stop, [&](const IndexProgress&) { ++reports; }, readHeaderMetadata);
        buildIndex(current, one, scanner, access);
    };
    const Timed full = compare(3, scan, [&] { return baselineWalk(library); });
    std::printf("(every sample file's header read as a real scan reads it)\n");
    print("full scan", full);
    std::printf("progress reports per scan: %lld\n", (long long)(reports / 3));

    std::printf("peak resident memory: %.0f MB\n", kivo::bench::peakResidentMB());
    return 0;
}

const kivo::tools::SubcommandRegistrar registrar("scan",
    "scan            full scan and one-root sync of a 100,000-file library vs a bare readdir/stat/read walk",
    runScanBench);

} // namespace
