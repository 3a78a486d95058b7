// kivo-bench refresh: a quick refresh of an unchanged 100,000-file library against a bare stat of
// every indexed folder, then a check that a few real changes give exactly the expected delta, and
// the time the store takes to apply them against that same stat ("small refresh ratio"). Changes of
// one root and of one file are timed in a 300,000-file index against the same in an index of that
// root or folder alone. Times are the process's CPU time, medians of several passes.

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

using kivo::bench::processCpuSecondsOf;

// Removing 20,000 indexed files and adding them back, as two quick-refresh deltas, with the files in
// `folders` folders (the median of three passes); 0 when the index did not come out as it was.
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
    std::vector<double> times;
    for (int i = 0; i < 3; ++i)
        times.push_back(processCpuSecondsOf([&] {
            applyQuickRefreshDelta(maps, removal, scanner);
            applyQuickRefreshDelta(maps, addition, scanner);
        }));
    return before == kFiles && maps.fileIndex.size() == kFiles ? median(times) : 0.0;
}

// The changes that drop or move a whole root, made to a small root (1,000 files in 10 folders) in a
// store that also holds a 300,000-file library, or in a store of its own: a change that costs what it
// changes takes as long in both.
struct RootChanges {
    double removeRoot = 0, removeCollection = 0, relocate = 0;
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
    std::vector<double> root, collection, relocation;
    RootChanges out;
    for (int i = 0; i < 5; ++i) {
        addSmall();
        out.exact = out.exact && store.current()->index.fileCount == before + 1000;
        root.push_back(processCpuSecondsOf([&] { removeRoots(store, { small.string() }, mine); }));
        out.exact = out.exact && store.current()->index.fileCount == before;
        addSmall();
        collection.push_back(processCpuSecondsOf([&] { removeGroups(store, { mine }); }));
        out.exact = out.exact && store.current()->index.fileCount == before;
        addSmall();
        fs::rename(small, moved);
        relocation.push_back(
            processCpuSecondsOf([&] { relocateRoot(store, small.string(), moved.string(), {}, namesOnly); }));
        fs::rename(moved, small);
        const SnapshotPtr state = store.current();
        out.exact = out.exact && state->index.fileCount == before + 1000
            && state->index.file((moved / "Kit 3/Snare 3.wav").string())
            && !state->index.file((small / "Kit 3/Snare 3.wav").string());
        removeGroups(store, { mine });
    }
    out.removeRoot = median(root);
    out.removeCollection = median(collection);
    out.relocate = median(relocation);
    return out;
}

// The files of one folder of `library` as an index of their own, rooted at the folder.
IndexMaps folderAlone(const IndexMaps& library, const std::string& folder)
{
    IndexMaps alone;
    DirectoryInfo record = library.directoryIndex.at(folder);
    record.subdirectories.clear();
    for (const auto& group : groupsContaining(library, folder)) {
        alone.groupRoots[group] = { folder };
        for (const auto& file : record.files)
            for (auto& token : tokenize(file.name, 1))
                alone.searchIndex[group][std::move(token)].insert(file.path);
    }
    for (const auto& file : record.files)
        alone.fileIndex.emplace(file.path, file);
    alone.directoryIndex.emplace(folder, std::move(record));
    rebuildKeywordIndex(alone);
    return alone;
}

// One file removed and added back, each its own quick refresh, file after file of `folder`; the
// median of every such change. The file's tokens ("wav", its pack's words) are held by many files of
// a large library and by few of the folder alone: a change that costs what it changes takes as long
// in both.
double oneFileSeconds(const IndexMaps& maps, const std::string& folder, bool& exact)
{
    CacheIndexStore store(
        { std::string(KIVO_BENCH_DATA_DIR) + "/one-file-store.json", [](const std::string&) {}, {} });
    store.replace([&](IndexMaps& into) { into = maps; });
    ScanOptions namesOnly;
    namesOnly.reader = {};
    const auto& files = maps.directoryIndex.at(folder).files;
    const std::size_t count = store.current()->index.fileCount;
    std::vector<double> times;
    for (std::size_t i = 0; i < 24; ++i) {
        const std::string& victim = files[i % files.size()].path;
        QuickRefreshDelta removal, addition;
        removal.removedFiles = { victim };
        addition.newFiles = { victim };
        times.push_back(processCpuSecondsOf([&] { applyQuickRefreshDelta(store, removal, {}, namesOnly); }));
        exact
            = exact && !store.current()->index.file(victim) && store.current()->index.fileCount == count - 1;
        times.push_back(processCpuSecondsOf([&] { applyQuickRefreshDelta(store, addition, {}, namesOnly); }));
        exact = exact && store.current()->index.file(victim) && store.current()->index.fileCount == count;
    }
    return median(times);
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
    for (int i = 0; i < 9; ++i) {
        baseline.push_back(processCpuSecondsOf([&] {
            struct stat st;
            for (const auto& f : folders)
                ::stat(f.c_str(), &st);
        }));
        ours.push_back(processCpuSecondsOf([&] {
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
    // folder that any refresh costs.
    std::vector<double> patchTimes;
    bool patchedExactly = true;
    for (int i = 0; i < 5; ++i) {
        CacheIndexStore store(
            { std::string(KIVO_BENCH_DATA_DIR) + "/refresh-store.json", [](const std::string&) {}, {} });
        store.replace([&](IndexMaps& into) { into = maps; });
        ScanOptions namesOnly;
        namesOnly.reader = {};
        namesOnly.access = access;
        patchTimes.push_back(
            processCpuSecondsOf([&] { applyQuickRefreshDelta(store, delta, {}, namesOnly); }));
        const SnapshotPtr state = store.current();
        patchedExactly = patchedExactly && state->index.fileCount == maps.fileIndex.size()
            && state->index.file(added.front()) && !state->index.file(removed.front());
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
    double oneInLibrary = 0, oneAlone = 0;
    bool oneExact = true;
    {
        kivo::bench::SyntheticIndexShape shape;
        const IndexMaps library = kivo::bench::makeSyntheticIndex(shape);
        inLibrary = rootChangeSeconds(&library);
        // A folder of one-shots and loops in the middle of the library.
        std::string folder;
        std::size_t seen = 0;
        for (const auto& [path, info] : library.directoryIndex)
            if (info.files.size() >= 10 && ++seen == library.directoryIndex.size() / 3) {
                folder = path;
                break;
            }
        if (folder.empty())
            folder = library.fileIndex.begin()->second.path.substr(
                0, library.fileIndex.begin()->second.path.rfind('/'));
        oneInLibrary = oneFileSeconds(library, folder, oneExact);
        oneAlone = oneFileSeconds(folderAlone(library, folder), folder, oneExact);
    }
    std::printf("1,000-file root, in a 300,000-file index / alone: removal %.4f / %.4f s, collection removal "
                "%.4f / %.4f s, relocation %.4f / %.4f s (%s)\n",
        inLibrary.removeRoot, alone.removeRoot, inLibrary.removeCollection, alone.removeCollection,
        inLibrary.relocate, alone.relocate,
        inLibrary.exact && alone.exact ? "as expected" : "NOT as expected");
    std::printf(
        "one file removed or added, in a 300,000-file index / in its folder alone: %.5f / %.5f s (%s)\n",
        oneInLibrary, oneAlone, oneExact ? "as expected" : "NOT as expected");
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
    std::printf("one file ratio: %.2f\n", oneInLibrary / oneAlone);
    return exact && patchedExactly && inLibrary.exact && alone.exact && oneExact && churn > 0 && spread > 0
        ? 0
        : 1;
}

const kivo::tools::SubcommandRegistrar registrar("refresh",
    "refresh         quick refresh of an unchanged 100,000-file library vs a stat of every folder; delta "
    "check",
    runRefreshBench);

} // namespace
