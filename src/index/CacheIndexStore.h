#pragma once

// The library index: its maps, the cache file behind them, and the operations over both. Every
// operation runs on the store's own worker, one at a time; callers from any thread wait for a copied
// result. Further operations (scans, quick refresh) are written as functions over IndexMaps and run
// through modify() or read(), so they share the same one-at-a-time guarantee.

#include "index/CacheFile.h"
#include "index/SerialExecutor.h"

#include <atomic>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace kivo::index {

struct CacheIndexStoreOptions {
    // Empty: defaultCachePath(), computed when first needed.
    std::string cacheFilePath;
    // The diagnostic log; standard output when empty.
    std::function<void(const std::string&)> log;
    // Removes the preference keys of the older in-preferences cache; called on every load.
    std::function<void()> removeLegacyPreferences;
    // Hands a callable to the main thread (a queued call); results of async() come back through it.
    // When empty they are delivered on the store's worker.
    std::function<void(std::function<void()>)> postToMainThread;
};

// The preference keys of the older storage of the cache, removed on every load and never read.
inline constexpr std::string_view kLegacyCacheDataKey = "KIVOCacheData";
inline constexpr std::string_view kLegacyCacheLastUpdateKey = "KIVOCacheLastUpdate";

class SearchCache;

// Puts files in the browser's file order (a stable sort). The order's rules and the user's sorting
// options live above the index, so callers hand it in.
using FileOrder = std::function<void(std::vector<FileInfo>&)>;

class CacheIndexStore {
public:
    explicit CacheIndexStore(CacheIndexStoreOptions options = {});
    ~CacheIndexStore();
    CacheIndexStore(const CacheIndexStore&) = delete;
    CacheIndexStore& operator=(const CacheIndexStore&) = delete;

    std::string cacheFilePath() const;

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

    // A copy of the whole index (tools and tests; the app asks for derived results instead).
    IndexMaps snapshot();

    // Runs `op(IndexMaps&)` on the worker and waits for its result. Anything derived from the maps
    // (search dictionaries) is dropped afterwards.
    template <class F> auto modify(F&& op)
    {
        return m_executor.run([&]() -> decltype(auto) {
            struct Invalidate {
                CacheIndexStore* store;
                ~Invalidate() { store->mapsChanged(); }
            } invalidate { this };
            return op(m_maps);
        });
    }

    // Runs `op(const IndexMaps&)` on the worker and waits for its result.
    template <class F> auto read(F&& op)
    {
        return m_executor.run([&]() -> decltype(auto) { return op(std::as_const(m_maps)); });
    }

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

private:
    void log(const std::string& line) const;
    void mapsChanged();
    SearchCache& searchCache(const GroupID& g);
    void deliver(std::function<void()> fn);

    CacheIndexStoreOptions m_options;
    mutable std::string m_resolvedCachePath;
    IndexMaps m_maps;
    std::unique_ptr<SearchCache> m_searchCache; // worker only
    // Collections searched so far and the count of changes: after a change the search structures
    // of those collections are rebuilt at once, so the next keystroke does not wait for them.
    std::set<GroupID> m_searchedGroups;
    std::uint64_t m_changes = 0;
    std::atomic<bool> m_closing { false }; // queued rebuilds are skipped once the store is going away
    // Declared last: destroyed first, so queued operations still find the maps alive.
    SerialExecutor m_executor;
};

} // namespace kivo::index
