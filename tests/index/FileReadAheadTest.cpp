#include "index/FileReadAhead.h"
#include "IndexTestSupport.h"
#include "LibraryGenerator.h"

#include <atomic>
#include <dirent.h>
#include <set>

using namespace kivo::index;
using kivo::test::ScratchDir;
using namespace kivo::index::test;

namespace {

std::size_t threadCount()
{
    std::size_t n = 0;
    if (DIR* dir = ::opendir("/proc/self/task")) {
        while (const dirent* e = ::readdir(dir))
            n += e->d_name[0] != '.';
        ::closedir(dir);
    }
    return n;
}

struct Scan {
    IndexMaps maps;
    std::vector<IndexProgress> reports;
};

// A full build of `first`, then a sync that adds `second`, with `threads` readers ahead of the walk.
Scan scanWith(unsigned threads, const std::vector<ScanGroup>& first, const std::vector<ScanGroup>& second)
{
    Scan scan;
    CancelHandle stop;
    FolderScanner scanner(
        stop, [&](const IndexProgress& p) { scan.reports.push_back(p); }, readHeaderMetadata,
        [] { return 7.5; });
    scanner.setReadAheadThreads(threads);
    buildIndex(scan.maps, first, scanner, kOpen);
    syncIndex(scan.maps, second, scanner, kOpen);
    return scan;
}

} // namespace

TEST(FileReadAhead, ScansExactlyAsTheSequentialWalk)
{
    ScratchDir dir;
    kivo::bench::LibraryOptions options;
    options.directory = dir.str() + "/Library";
    options.files = 1500;
    options.seed = 11;
    const auto stats = kivo::bench::makeLibrary(options);
    ASSERT_GT(stats.ignoredFiles, 0u);
    // Files on both sides of sub-folders in one listing, and a second root with tagged files.
    for (int i = 0; i < 12; ++i)
        dir.write("Library/Mixed 120 BPM/Loop " + std::to_string(i) + " Am.wav", "RIFF");
    for (int i = 0; i < 8; ++i)
        dir.mkdir("Library/Mixed 120 BPM/Part " + std::to_string(i));
    dir.write("Library/Mixed 120 BPM/Part 3/Top.flac", "fLaC");
    dir.write("Extra/Vox Dm/Hook.mp3", "ID3");
    const std::string extra = dir.str() + "/Extra";
    const std::vector<ScanGroup> first { { "G", { options.directory }, {} },
        { "H", { extra }, { "/Gone" } } };
    const std::vector<ScanGroup> second { { "G", { options.directory, extra }, {} },
        { "H", { extra }, { "/Gone" } } };

    const std::size_t threadsBefore = threadCount();
    const Scan sequential = scanWith(0, first, second);
    // Every sample and nothing else; loops, MIDI and folders named after their tempo give many a tempo.
    ASSERT_EQ(sequential.maps.fileIndex.size(), 1500u + 12 + 1 + 1);
    EXPECT_EQ(sequential.maps.directoryIndex.size(), stats.folders + 1 + 9 + 1 + 1);
    std::size_t withTempo = 0, withLength = 0;
    for (const auto& [path, file] : sequential.maps.fileIndex) {
        withTempo += file.bpm.has_value();
        withLength += file.duration.has_value();
    }
    EXPECT_GT(withTempo, 400u);
    // Every generated audio sample has a length read from its header.
    EXPECT_EQ(withLength, stats.compatibleFiles - stats.midi);
    ASSERT_GT(stats.mp3 + stats.flac + stats.aiff, 0u);
    for (unsigned threads : { 1u, 2u }) {
        SCOPED_TRACE(threads);
        const Scan ahead = scanWith(threads, first, second);
        expectSameIndex(ahead.maps, sequential.maps);
        EXPECT_EQ(ahead.reports, sequential.reports);
    }
    // The readers end with the walk that started them.
    EXPECT_EQ(threadCount(), threadsBefore);
}

TEST(FileReadAhead, CancelledScanCommitsNothingAndLeavesNoReaderRunning)
{
    ScratchDir dir;
    kivo::bench::LibraryOptions options;
    options.directory = dir.str() + "/Library";
    options.files = 400;
    options.seed = 5;
    kivo::bench::makeLibrary(options);
    IndexMaps maps = scanned({ { "Old", { options.directory }, {} } });
    const IndexMaps before = maps;
    const std::size_t threadsBefore = threadCount();

    // Stopped early, half-way and at the very end of the walk, with and without readers ahead.
    for (const auto& [threads, stopAt] :
        { std::pair { 0u, 7 }, { 2u, 2 }, { 2u, 100 }, { 2u, 250 }, { 2u, 399 } }) {
        SCOPED_TRACE(stopAt);
        SCOPED_TRACE(threads);
        std::atomic<int> reads { 0 };
        std::atomic<bool> returned { false };
        std::atomic<bool> readAfterReturn { false };
        HeaderReader reader = [&](const std::string& path) {
            ++reads;
            if (returned)
                readAfterReturn = true;
            return readHeaderMetadata(path);
        };
        CancelHandle stop;
        std::vector<IndexProgress> reports;
        FolderScanner scanner(
            stop,
            [&, stopAt = stopAt](const IndexProgress& p) {
                reports.push_back(p);
                if (!p.scanning && p.processed >= stopAt)
                    stop.cancel();
            },
            reader);
        scanner.setReadAheadThreads(threads);
        const auto roots = buildIndex(maps, { { "New", { options.directory }, {} } }, scanner, kOpen);
        returned = true;

        EXPECT_EQ(roots, before.groupRoots);
        expectSameIndex(maps, before);
        EXPECT_EQ(threadCount(), threadsBefore);
        // The walk stopped at the first report past `stopAt` files; the readers were not far ahead.
        ASSERT_FALSE(reports.empty());
        EXPECT_LE(reports.back().processed, stopAt + 2);
        EXPECT_LE(reads.load(), stopAt + 2 + 128);
        EXPECT_FALSE(readAfterReturn);
    }
}
