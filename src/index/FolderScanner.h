#pragma once

// The walk of one scan: the counting pass, the per-folder indexing into a private builder, the tempo
// and key found in ancestor folder names, and the progress counters. Strictly sequential, depth first,
// in listing order; cancellation is checked before every folder and every entry. Only the making of
// file records (header reads above all) may run ahead on reader threads, which changes nothing the
// walk produces or reports.

#include "index/FileReadAhead.h"
#include "index/FolderListing.h"
#include "index/HeaderMetadata.h"
#include "index/IndexBuilder.h"
#include "index/IndexRecords.h"
#include "index/SerialExecutor.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kivo::index {

// What a file's own header says about it; each value absent when unknown.
using HeaderValues = HeaderMetadata;
// Reads one file's header (`readHeaderMetadata` in real scans); an empty reader gives no header
// values, so names and folders decide. It may be called from reader threads, several files at once.
using HeaderReader = std::function<HeaderValues(const std::string& path)>;
// Called on whatever thread the scan reports from; wrap it with `onMainThread` for observers that
// must run there.
using ProgressObserver = std::function<void(const IndexProgress&)>;
// Seconds since 2001-01-01 UTC, for the moment a folder was indexed.
using ReferenceClock = std::function<double()>;

// Begin and end access to a root folder (the platform's security scope); a root whose access cannot
// begin is neither counted nor indexed.
struct FolderAccess {
    std::function<bool(const std::string&)> begin;
    std::function<void(const std::string&)> end;
};
FolderAccess platformFolderAccess();

// Posts each report to the application's main thread (queued, never awaited). Without an
// application object the report is made at once.
ProgressObserver onMainThread(ProgressObserver observer);

struct ScanCounters {
    std::int64_t indexed = 0;
    std::int64_t total = 0;
    std::int64_t folders = 0;
    std::int64_t step = 1;
    std::int64_t nextReport = 0;
};

struct FolderValues {
    std::optional<std::int64_t> bpm;
    std::optional<std::string> key;
};

// Threads reading headers ahead of the walk where headers are read; 0 reads each one in the walk.
unsigned defaultReadAheadThreads();

class FolderScanner {
public:
    FolderScanner(
        CancelHandle cancel, ProgressObserver progress, HeaderReader reader, ReferenceClock clock = {});
    ~FolderScanner();

    bool cancelled() const { return m_cancel.isCancelled(); }
    bool hasObserver() const { return bool(m_progress); }
    ScanCounters& counters() { return m_counters; }
    void report(const IndexProgress& progress) const;

    void resetCounters()
    {
        m_counters = ScanCounters();
        m_listed.clear();
        m_listedEntries = 0;
    }
    void setReadAheadThreads(unsigned threads) { m_readAheadThreads = threads; }
    // About 200 reports per scan: one every total/200 files.
    void startIndexingPhase();

    // Also keeps what it lists (up to a bound), so that the walk that follows lists no folder again.
    void countFiles(const std::string& folder);
    void indexDirectory(
        const std::string& folder, const GroupID& groupID, const std::string& root, IndexBuilder& builder);

    // A file's record exactly as the scan makes it: name values, header values, then (only for what is
    // still missing) the folder values. `folderValues` caches the last argument's lookup per folder.
    FileInfo fileInfoFor(
        const std::string& path, const std::string& root, std::optional<FolderValues>& folderValues) const;

    static FolderValues folderMetadata(std::string_view filePath, std::string_view root);

private:
    class FolderFiles;
    template <typename Folder>
    FileInfo makeFileInfo(const std::string& path, const std::string& root, Folder&& folderValues) const;
    struct Prefetch;
    // `nextFolder`: the folder walked right after this one, when that is known.
    void walkFolder(const std::string& folder, const GroupID& groupID, const std::string& root,
        IndexBuilder& builder, const std::string* nextFolder = nullptr);
    void prefetch(const std::string& folder, const std::string& root);
    // Queues the compatible files from `from` up to the next folder entry, as many as the queue takes.
    std::size_t queueFiles(const std::string& folder, const std::vector<FolderEntry>& entries,
        std::size_t from, FolderWork& work);

    struct FolderIdentity {
        std::uint64_t device;
        std::uint64_t inode;
    };
    bool revisits(const std::string& folder, std::optional<FolderIdentity> identity);
    // What the counting pass read of a folder: its stamp, read before its entries, so that a change
    // made in between shows as a newer time to the next quick refresh.
    struct Listing {
        std::optional<FolderStamp> stamp;
        std::vector<FolderEntry> entries;
    };
    // The folder's kept listing, handed over once; none when the counting pass kept none.
    std::optional<Listing> takeListing(const std::string& folder);

    CancelHandle m_cancel;
    ProgressObserver m_progress;
    HeaderReader m_reader;
    ReferenceClock m_clock;
    ScanCounters m_counters;
    std::vector<std::string> m_countPath; // folders being counted, outermost first
    std::vector<std::optional<FolderIdentity>> m_countIds; // their identities, read only when a link shows up
    std::vector<FolderIdentity> m_indexIds; // folders being indexed
    unsigned m_readAheadThreads = defaultReadAheadThreads();
    std::unique_ptr<FileReadAhead> m_readAhead; // while a walk with header reads is under way
    std::unique_ptr<Prefetch> m_prefetch; // the next folder, listed early, its first files queued
    std::unordered_map<std::string, Listing> m_listed; // by the counting pass, for the walk
    std::size_t m_listedEntries = 0;
};

} // namespace kivo::index
