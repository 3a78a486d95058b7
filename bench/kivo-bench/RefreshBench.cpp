// kivo-bench refresh: a quick refresh of an unchanged 100,000-file library against a bare stat of
// every indexed folder, then a check that a few real changes give exactly the expected delta, and
// the time the store takes to apply them against that same stat ("small refresh ratio").

#include "BenchLibrary.h"
#include "SyntheticIndex.h"
#include "common/Subcommand.h"
#include "index/IndexRefresh.h"
#include "index/IndexScan.h"
#include "index/IndexStoreScan.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/stat.h>

using namespace kivo::index;

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

std::string readAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeAll(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// Removing 20,000 indexed files and adding them back, as two quick-refresh deltas, with the files in
// `folders` folders; 0 when the index did not come out as it was.
double churnSeconds(std::size_t folders)
{
    namespace fs = std::filesystem;
    constexpr std::size_t kFiles = 20000;
    const fs::path root = fs::path(KIVO_BENCH_DATA_DIR) / ("churn-" + std::to_string(folders));
    if (!fs::exists(root / "complete")) {
        fs::remove_all(root);
        for (std::size_t i = 0; i < kFiles; ++i) {
            const fs::path folder = root / ("Folder " + std::to_string(i % folders));
            fs::create_directories(folder);
            writeAll((folder / ("Hit " + std::to_string(i) + " 120 BPM.wav")).string(), "RIFF");
        }
        writeAll((root / "complete").string(), "");
    }
    IndexMaps maps;
    CancelHandle stop;
    FolderScanner scanner(stop, {}, HeaderReader());
    buildIndex(maps, { { "A", { root.string() }, {} } }, scanner, platformFolderAccess());
    QuickRefreshDelta removal, addition;
    for (const auto& [path, file] : maps.fileIndex)
        removal.removedFiles.push_back(path);
    addition.newFiles = removal.removedFiles;
    const std::size_t before = maps.fileIndex.size();
    const double seconds = kivo::bench::secondsOf([&] {
        applyQuickRefreshDelta(maps, removal, scanner);
        applyQuickRefreshDelta(maps, addition, scanner);
    });
    return before == kFiles && maps.fileIndex.size() == kFiles ? seconds : 0.0;
}

// The changes that drop or move a whole root, made to a small root (1,000 files in 10 folders) in a
// store that also holds a 300,000-file library, or in a store of its own: a change that costs what it
// changes takes as long in both. Last, a quick refresh that removes one file of the large library,
// whose tokens ("wav", its pack's words) are held by many files.
struct RootChanges {
    double removeRoot = 0, removeCollection = 0, relocate = 0, removeOneFile = 0;
    bool exact = true;
};

RootChanges rootChangeSeconds(const IndexMaps* library)
{
    namespace fs = std::filesystem;
    const fs::path small = fs::path(KIVO_BENCH_DATA_DIR) / "small-root";
    const fs::path moved = fs::path(KIVO_BENCH_DATA_DIR) / "small-root-moved";
    if (!fs::exists(small / "complete")) {
        fs::remove_all(small);
        for (std::size_t i = 0; i < 1000; ++i) {
            const fs::path folder = small / ("Kit " + std::to_string(i % 10));
            fs::create_directories(folder);
            writeAll((folder / ("Snare " + std::to_string(i) + ".wav")).string(), "RIFF");
        }
        writeAll((small / "complete").string(), "");
    }
    CacheIndexStore store(
        { std::string(KIVO_BENCH_DATA_DIR) + "/root-store.json", [](const std::string&) {}, {} });
    if (library)
        store.replace([&](IndexMaps& into) { into = *library; });
    ScanOptions namesOnly;
    namesOnly.reader = {};
    const GroupID mine = "small";
    const auto addSmall = [&] {
        std::vector<ScanGroup> plan;
        for (const auto& [group, roots] : store.roots())
            if (group != mine)
                plan.push_back({ group, roots, {}, {} });
        plan.push_back({ mine, { small.string() }, {}, {} });
        syncIndex(store, plan, {}, {}, namesOnly);
    };
    const std::size_t before = store.current()->index.fileCount;
    std::vector<double> root, collection, relocation, oneFile;
    RootChanges out;
    for (int i = 0; i < 3; ++i) {
        addSmall();
        out.exact = out.exact && store.current()->index.fileCount == before + 1000;
        root.push_back(kivo::bench::secondsOf([&] { removeRoots(store, { small.string() }, mine); }));
        out.exact = out.exact && store.current()->index.fileCount == before;
        addSmall();
        collection.push_back(kivo::bench::secondsOf([&] { removeGroups(store, { mine }); }));
        out.exact = out.exact && store.current()->index.fileCount == before;
        addSmall();
        fs::rename(small, moved);
        relocation.push_back(kivo::bench::secondsOf(
            [&] { relocateRoot(store, small.string(), moved.string(), {}, namesOnly); }));
        fs::rename(moved, small);
        const SnapshotPtr state = store.current();
        out.exact = out.exact && state->index.fileCount == before + 1000
            && state->index.file((moved / "Kit 3/Snare 3.wav").string())
            && !state->index.file((small / "Kit 3/Snare 3.wav").string());
        removeGroups(store, { mine });
    }
    addSmall();
    // One file of the library (of the small root when alone) after another, each its own refresh.
    std::vector<std::string> victims;
    const auto pick = [&](const std::string& path) {
        if (victims.size() < 3 && path.ends_with(".wav"))
            victims.push_back(path);
    };
    if (library)
        for (auto at = library->fileIndex.begin(); victims.size() < 3; std::advance(at, 997))
            pick(at->first);
    else
        for (int i = 0; i < 3; ++i)
            pick((small / ("Kit 0/Snare " + std::to_string(i * 10) + ".wav")).string());
    for (const auto& victim : victims) {
        QuickRefreshDelta delta;
        delta.removedFiles = { victim };
        oneFile.push_back(
            kivo::bench::secondsOf([&] { applyQuickRefreshDelta(store, delta, {}, namesOnly); }));
        out.exact = out.exact && !store.current()->index.file(victim);
    }
    out.removeRoot = median(root);
    out.removeCollection = median(collection);
    out.relocate = median(relocation);
    out.removeOneFile = median(oneFile);
    return out;
}

int runRefreshBench(const std::vector<std::string>&)
{
    const std::string library = kivo::bench::benchLibrary(100000, 0, 1);
    const FolderAccess access = platformFolderAccess();
    const MountedVolumes noVolumes = [] { return std::set<std::string>(); };
    IndexMaps maps;
    {
        CancelHandle stop;
        FolderScanner scanner(stop, {}, HeaderReader());
        buildIndex(maps, { { "A", { library }, {} } }, scanner, access);
    }
    const std::vector<std::string> roots { library };
    std::vector<std::string> folders;
    for (const auto& [path, info] : maps.directoryIndex)
        folders.push_back(path);
    std::printf("index: %zu files in %zu folders\n", maps.fileIndex.size(), folders.size());

    const SnapshotLists listsOf
        = [&](const std::vector<std::string>& paths) { return directorySnapshots(maps, paths); };
    std::vector<double> ours, baseline;
    std::size_t listed = 0;
    for (int i = 0; i < 5; ++i) {
        baseline.push_back(kivo::bench::secondsOf([&] {
            struct stat st;
            for (const auto& f : folders)
                ::stat(f.c_str(), &st);
        }));
        ours.push_back(kivo::bench::secondsOf([&] {
            const auto delta = computeQuickRefreshDelta(
                directorySnapshots(maps, SnapshotContent::timesOnly), roots, {}, noVolumes, listsOf);
            listed = delta.freshMTimes.size() + delta.newFiles.size() + delta.removedFiles.size();
        }));
    }
    const double o = median(ours), b = median(baseline);
    std::printf("no-change refresh: ours %.4f s, baseline (stat every folder) %.4f s; folders listed: %zu\n",
        o, b, listed);
    const double refreshRatio = o / b;

    // Real changes: 10 files added, 10 removed, one folder renamed. The library is restored afterwards.
    std::vector<std::string> files;
    for (const auto& [path, info] : maps.fileIndex)
        files.push_back(path);
    std::sort(files.begin(), files.end());
    std::string renamed;
    for (const auto& [path, info] : maps.directoryIndex)
        if (info.subdirectories.empty() && !info.files.empty() && (renamed.empty() || path < renamed))
            renamed = path;
    const std::string renamedTo = renamed + " (renamed)";
    std::vector<std::string> removed, added;
    for (const auto& f : files) {
        if (removed.size() == 10)
            break;
        if (f.rfind(renamed + "/", 0) != 0)
            removed.push_back(f);
    }
    const std::string addFolder = files.back().substr(0, files.back().rfind('/'));
    for (int i = 0; i < 10; ++i)
        added.push_back(addFolder + "/zz Added " + std::to_string(i) + " 128 BPM.wav");
    std::vector<std::string> saved;
    for (const auto& f : removed) {
        saved.push_back(readAll(f));
        std::remove(f.c_str());
    }
    for (const auto& f : added)
        writeAll(f, "RIFF");
    std::rename(renamed.c_str(), renamedTo.c_str());

    const auto delta = computeQuickRefreshDelta(
        directorySnapshots(maps, SnapshotContent::timesOnly), roots, {}, noVolumes, listsOf);
    std::sort(added.begin(), added.end());
    std::sort(removed.begin(), removed.end());
    const bool exact = delta.newFiles == added && delta.removedFiles == removed
        && delta.newFolders == std::vector<std::string> { renamedTo }
        && delta.removedFolders == std::vector<std::string> { renamed }
        && delta.movedFolders == std::vector<FolderMove> { { renamed, renamedTo } };
    std::printf("after +10 files, -10 files, 1 folder renamed: new %zu, removed %zu, new folders %zu, "
                "removed folders "
                "%zu, moved %zu, folders listed %zu: %s\n",
        delta.newFiles.size(), delta.removedFiles.size(), delta.newFolders.size(),
        delta.removedFolders.size(), delta.movedFolders.size(), delta.freshMTimes.size(),
        exact ? "exactly as expected" : "NOT as expected");

    // The same changes applied by the store, which patches its compact form: against the stat of every
    // folder that any refresh costs, and beside a rebuild of the compact form through maps.
    std::vector<double> patchTimes;
    bool patchedExactly = true;
    for (int i = 0; i < 3; ++i) {
        CacheIndexStore store(
            { std::string(KIVO_BENCH_DATA_DIR) + "/refresh-store.json", [](const std::string&) {}, {} });
        store.replace([&](IndexMaps& into) { into = maps; });
        ScanOptions namesOnly;
        namesOnly.reader = {};
        namesOnly.access = access;
        patchTimes.push_back(
            kivo::bench::secondsOf([&] { applyQuickRefreshDelta(store, delta, {}, namesOnly); }));
        const SnapshotPtr state = store.current();
        patchedExactly = patchedExactly && state->index.fileCount == maps.fileIndex.size()
            && state->index.file(added.front()) && !state->index.file(removed.front());
        if (i == 0) {
            const double rebuild
                = kivo::bench::secondsOf([&] { (void)compactIndexOf(mapsOf(state->index)); });
            std::printf(
                "rebuilding the compact form through maps (what a change cost before): %.4f s\n", rebuild);
        }
    }
    const double patch = median(patchTimes);
    std::printf("applying +10, -10 files and a renamed folder in the store: %.4f s (%s)\n", patch,
        patchedExactly ? "as expected" : "NOT as expected");

    std::rename(renamedTo.c_str(), renamed.c_str());
    for (const auto& f : added)
        std::remove(f.c_str());
    for (std::size_t i = 0; i < removed.size(); ++i)
        writeAll(removed[i], saved[i]);

    const RootChanges alone = rootChangeSeconds(nullptr);
    RootChanges inLibrary;
    {
        kivo::bench::SyntheticIndexShape shape;
        const IndexMaps library = kivo::bench::makeSyntheticIndex(shape);
        inLibrary = rootChangeSeconds(&library);
    }
    std::printf("1,000-file root, in a 300,000-file index / alone: removal %.4f / %.4f s, collection removal "
                "%.4f / %.4f s, relocation %.4f / %.4f s; one file removed %.4f / %.4f s (%s)\n",
        inLibrary.removeRoot, alone.removeRoot, inLibrary.removeCollection, alone.removeCollection,
        inLibrary.relocate, alone.relocate, inLibrary.removeOneFile, alone.removeOneFile,
        inLibrary.exact && alone.exact ? "as expected" : "NOT as expected");
    const double rootRatio = std::max({ inLibrary.removeRoot / alone.removeRoot,
        inLibrary.removeCollection / alone.removeCollection, inLibrary.relocate / alone.relocate });

    const double churn = churnSeconds(1), spread = churnSeconds(100);
    std::printf(
        "remove and re-add 20,000 files: in one folder %.3f s, over 100 folders %.3f s\n", churn, spread);
    std::printf("peak resident memory: %.0f MB\n", kivo::bench::peakResidentMB());
    std::printf("refresh ratio: %.2f\n", refreshRatio);
    std::printf("churn ratio: %.2f\n", churn / spread);
    std::printf("small refresh ratio: %.2f\n", patch / b);
    std::printf("root change ratio: %.2f\n", rootRatio);
    return exact && patchedExactly && inLibrary.exact && alone.exact && churn > 0 && spread > 0 ? 0 : 1;
}

const kivo::tools::SubcommandRegistrar registrar("refresh",
    "refresh         quick refresh of an unchanged 100,000-file library vs a stat of every folder; delta "
    "check",
    runRefreshBench);

} // namespace
