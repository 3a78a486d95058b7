#pragma once

// The library index: its compact resident form (CompactIndex), the cache file behind it, and the
// operations over both. Writers work on the five maps of IndexMaps, made from the current state for
// them and compacted again when they commit; readers work on the compact form.
//
// Writers and readers never meet. Every change runs on the store's own worker, one at a time, builds
// the next state of the index beside the current one and publishes it as an immutable snapshot; a
// reader (search, listings, the browser tree, a cache save) takes the latest snapshot and works on it
// on its own thread, so it never queues behind a scan, a sync or a quick refresh. Multi-step writes (a
// scan's walk and its commit, a quick refresh) also hold the writer's turn, so that two of them never
// interleave and one never overwrites what the other committed.

#include "index/CacheFile.h"
#include "index/SerialExecutor.h"

#include <map>
#include <optional>

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace kivo::index {

struct CacheIndexStoreOptions {
    // Empty: defaultCachePath(), computed when first needed.
    std::string cacheFilePath;
    // The diagnostic log; standard output when empty.
    std::function<void(const std::string&)> log;
    // Hands a callable to the main thread (a queued call); results of async() come back through it.
    // When empty they are delivered on the store's worker.
    std::function<void(std::function<void()>)> postToMainThread;
};

// The preference keys of the older storage of the cache, removed on every load and never read.
inline constexpr std::string_view kLegacyCacheDataKey = "KIVOCacheData";
inline constexpr std::string_view kLegacyCacheLastUpdateKey = "KIVOCacheLastUpdate";

// Puts files in the browser's file order (a stable sort). The order's rules and the user's sorting
// options live above the index, so callers hand it in.
using FileOrder = std::function<void(std::vector<FileInfo>&)>;

class SearchCache;
struct GroupSearchData;
struct OrderRanks;
struct IndexSnapshot;

// What a file order looks at in a file, read from the index without a record made for it.
struct FileSortKey {
    std::string_view name;
    // What follows the last dot of the path's last component (none for a name whose only dot leads).
    std::string_view extension;
    std::optional<std::int64_t> bpm;
};
// The part of an order that comes before the natural order of names, compared element by element.
using LeadingKey = std::array<std::int64_t, 5>;

// The browser's file order under a name that tells one set of sorting options from another, so that
// a state can keep the ranks it gives its files.
struct NamedFileOrder {
    std::string name;
    FileOrder order;
    // When given, `order` must be the same as sorting by this key, then by natural name order, then
    // keeping the order it was handed; a search then puts in order only the part it shows until the
    // whole order is worked out (in the background, once per state). An empty `order`, natural name
    // order, needs none.
    std::function<LeadingKey(const FileSortKey&)> leadingKey {};
    // Whether the leading key looks at the name. When it does not, it is worked out once per distinct
    // extension and tempo rather than once per file, and is handed an empty name.
    bool leadingKeyReadsName = true;
};

// The outcome of one search over one published state: how many hits there are, and records for the
// part the caller shows, put in order only as far as it is shown.
class SearchHits {
public:
    std::size_t size() const { return m_exact.size() + m_restCount; }
    bool empty() const { return size() == 0; }
    std::vector<FileInfo> records(std::size_t first, std::size_t count) const;
    // The path ids of the same hits; a record is made for one with record().
    std::vector<std::uint32_t> ids(std::size_t first, std::size_t count) const;
    FileInfo record(std::uint32_t id) const;
    // The state the ids belong to (none for hits of an empty query).
    const CompactIndex* index() const;
    // Keeps only the hits `keep` accepts, in the same order; before any record or id is asked for.
    void retain(const std::function<bool(std::uint32_t)>& keep);
    // Every hit, in no particular order.
    void forEach(const std::function<void(std::uint32_t)>& visit) const;

private:
    friend class CacheIndexStore;
    // Puts the first `count` of the hits not named exactly as the query in m_shown, in order.
    void showUpTo(std::size_t count) const;
    // The same before the whole order is worked out, comparing the names of the hits that can be next.
    void showMoreUpTo(std::size_t count) const;
    // The leading key of a file as a number that compares as the keys do.
    std::uint64_t leadOf(std::uint32_t id) const;
    // Sorts ids by the order, comparing names where the leading keys agree.
    void sortByOrder(std::vector<std::pair<std::uint64_t, std::uint32_t>>& items, std::size_t take) const;

    std::shared_ptr<const IndexSnapshot> m_state;
    std::function<LeadingKey(const FileSortKey&)> m_leadingKey;
    OrderRanks* m_ranks = nullptr; // none: m_shown already holds every other hit in order
    std::vector<std::uint32_t> m_exact; // the hits named exactly as the query, in order
    FileBitmap m_rest; // the other hits, by path id
    std::size_t m_restCount = 0;
    mutable std::vector<std::uint32_t> m_shown; // the first of the other hits, in order
};

// One published state of the index. Never changed once published; readers keep it alive as long as
// they use it.
struct IndexSnapshot {
    CompactIndex index;
    // The browser orders of this state's files, worked out on first use; shared with the next state
    // when that one changes nothing they are made of (folder times alone).
    std::shared_ptr<const SearchCache> search;
};
using SnapshotPtr = std::shared_ptr<const IndexSnapshot>;

// What a change touches: a change of folder times alone keeps the search dictionaries.
enum class Touches { everything, folderTimesOnly };

class CacheIndexStore {
public:
    explicit CacheIndexStore(CacheIndexStoreOptions options = {});
    ~CacheIndexStore();
    CacheIndexStore(const CacheIndexStore&) = delete;
    CacheIndexStore& operator=(const CacheIndexStore&) = delete;

    std::string cacheFilePath() const;

    // Also removes the temporaries that saves killed half-way left beside the file.
    DiskSnapshot loadCache();
    void saveCache(double lastUpdate);
    void clearCache();
    std::vector<GroupID> groupsContaining(const std::string& path);
    void rebuildKeywordIndex();

    // Files of collection g whose name tokens (and, with includeFolderNames, folder keywords) contain
    // every query token; a file named exactly as the query comes first, then `order` (natural name
    // order when empty). Matching runs on the worker; ordering on the calling thread.
    std::vector<FileInfo> search(
        const std::string& query, const GroupID& g, bool includeFolderNames, const FileOrder& order = {});
    // What search() finds, in the same order, without making a record for every hit. The order's ranks
    // are worked out once per state and order name; `cancel` stops a search a newer one replaced
    // (the result is then empty).
    // `state` (the latest when none) lets several searches share one state, and so their ids.
    SearchHits searchHits(const std::string& query, const GroupID& g, bool includeFolderNames,
        const NamedFileOrder& order, const CancelHandle& cancel = {}, SnapshotPtr state = nullptr);
    // The paths search() would return, unordered and without building records.
    std::vector<std::string> searchPaths(const std::string& query, const GroupID& g, bool includeFolderNames);
    // Indexed folders of collection g whose names contain every query token, in natural name order.
    std::vector<FolderHit> searchFolders(const std::string& query, const GroupID& g);
    // Every indexed file of collection g; in `browserOrder` when one is given, else in no particular order.
    std::vector<FileInfo> allFiles(const GroupID& g, const FileOrder& browserOrder = {});
    // Every indexed folder of collection g, roots included, in natural name order.
    std::vector<FolderHit> allFolders(const GroupID& g);
    // The compatible files directly in a folder: the index's record in `order`, else read from disk.
    std::vector<FileInfo> filesInFolder(const std::string& path, const FileOrder& order = {});

    // The latest published state; never waits for a writer.
    SnapshotPtr current() const;
    // The whole index as maps (tools and tests; the app asks for derived results instead).
    IndexMaps snapshot() const { return mapsOf(current()->index); }
    // The collection roots of the latest state.
    GroupRoots roots() const { return current()->index.roots; }
    // The record of an indexed folder in the latest state; none when the index has none.
    std::optional<DirectoryInfo> folderRecord(const std::string& path) const;

    // Runs `op(IndexMaps&)` on the worker over the maps of the current state, publishes the result as
    // the next state and returns op's result.
    template <class F> auto modify(F&& op)
    {
        return m_executor.run([&]() -> decltype(auto) {
            struct Publish {
                CacheIndexStore* store;
                IndexMaps maps;
                ~Publish() { store->publishMaps(maps); }
            } publish { this, mapsOf(current()->index) };
            return op(publish.maps);
        });
    }

    // The same for a change that replaces every record: `op` starts from maps that hold only the
    // current collection roots.
    template <class F> auto replace(F&& op)
    {
        return m_executor.run([&]() -> decltype(auto) {
            struct Publish {
                CacheIndexStore* store;
                IndexMaps maps;
                ~Publish() { store->publishMaps(maps); }
            } publish { this, {} };
            publish.maps.groupRoots = current()->index.roots;
            return op(publish.maps);
        });
    }

    // Publishes `index` as the next state on the worker: a full build made outside it.
    void replaceIndex(CompactIndex&& index);

    // Gives indexed folders new content times and inodes: nothing a search uses changes, so the next
    // state keeps what searches worked out on this one.
    void updateFolderTimes(const std::map<std::string, double>& contentModified,
        const std::map<std::string, std::uint64_t>& inodes);

    // Runs `op(const IndexMaps&)` over the latest state made into maps, on the calling thread (tools
    // and tests: it copies the whole index).
    template <class F> auto read(F&& op) const
    {
        const IndexMaps maps = snapshot();
        return op(maps);
    }

    // The writer's turn: held by every multi-step write (a scan from its walk to its commit, a quick
    // refresh, a removal, a save) so that writes happen one after another, in the order they took it.
    std::unique_lock<std::mutex> writerTurn() { return std::unique_lock(m_writerTurn); }

    // Queues `op(IndexMaps&)` and returns at once; `done(result)` follows on the main thread. A
    // cancelled handle makes the store skip an operation that has not started and drop its result.
    template <class F, class Done> CancelHandle async(F op, Done done)
    {
        CancelHandle handle;
        m_executor.post([this, handle, op = std::move(op), done = std::move(done)]() mutable {
            if (handle.isCancelled())
                return;
            auto result = modify([&](IndexMaps& maps) { return op(maps, handle); });
            deliver([handle, done = std::move(done), result = std::move(result)]() mutable {
                if (!handle.isCancelled())
                    done(std::move(result));
            });
        });
        return handle;
    }

    SerialExecutor& executor() { return m_executor; }
    // Where whole browser orders are worked out after a search first asks for them: apart from the
    // writer, reading the snapshot they belong to.
    SerialExecutor& orderBuilder() { return m_orderBuilder; }

private:
    void log(const std::string& line) const;
    // Worker only.
    void publishMaps(const IndexMaps& maps);
    void publish(std::shared_ptr<IndexSnapshot> next, Touches touches);
    const GroupSearchData& searchOf(const IndexSnapshot& state, const GroupID& g);
    void deliver(std::function<void()> fn);

    CacheIndexStoreOptions m_options;
    mutable std::mutex m_publishMutex; // guards only the exchange of m_current
    SnapshotPtr m_current;
    std::mutex m_writerTurn;
    // Declared last: destroyed first, so queued operations still find the state alive.
    std::atomic<bool> m_closing { false }; // queued background work is skipped once the store goes
    SerialExecutor m_executor;
    // Below the window's and the searches' threads: a search never waits for a whole order, it only
    // goes faster once one is there.
    SerialExecutor m_orderBuilder { WorkerPriority::background };
};

} // namespace kivo::index
