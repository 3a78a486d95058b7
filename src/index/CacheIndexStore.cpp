#include "index/CacheIndexStore.h"
#include "index/SearchCache.h"

#include <cstdio>
#include <stdexcept>
#include <unistd.h>

namespace kivo::index {

CacheIndexStore::CacheIndexStore(CacheIndexStoreOptions options)
    : m_options(std::move(options))
{
    auto empty = std::make_shared<IndexSnapshot>();
    empty->search = std::make_shared<SearchCache>();
    m_current = std::move(empty);
}

CacheIndexStore::~CacheIndexStore()
{
    m_closing = true;
}

std::string CacheIndexStore::cacheFilePath() const
{
    if (!m_options.cacheFilePath.empty())
        return m_options.cacheFilePath;
    // Computed each time: the folder is (re)created on the way, as a removed folder must not stop a save.
    return defaultCachePath();
}

void CacheIndexStore::log(const std::string& line) const
{
    if (m_options.log) {
        m_options.log(line);
        return;
    }
    std::fprintf(stdout, "%s\n", line.c_str());
    std::fflush(stdout);
}

SnapshotPtr CacheIndexStore::current() const
{
    std::lock_guard lock(m_publishMutex);
    return m_current;
}

void CacheIndexStore::publish(std::shared_ptr<IndexSnapshot> next, Touches touches)
{
    SnapshotPtr previous = current();
    if (touches == Touches::folderTimesOnly && previous->search)
        next->search = previous->search;
    else
        next->search = std::make_shared<SearchCache>();
    const bool keptSearch = next->search == previous->search;
    {
        std::lock_guard lock(m_publishMutex);
        m_current = std::move(next);
    }
    // The old state goes when its last reader lets go of it. Freeing a large index takes a good part
    // of a second, so when nobody else holds it, it goes later on the worker, not in this commit.
    if (previous.use_count() == 1)
        m_executor.post([old = std::move(previous)] {});
    const std::uint64_t change = ++m_changes;
    std::set<GroupID> searched;
    {
        std::lock_guard lock(m_searchedMutex);
        searched = m_searchedGroups;
    }
    if (keptSearch || searched.empty())
        return;
    m_executor.post([this, change, searched = std::move(searched)] {
        // A later change has queued its own build.
        if (change != m_changes || m_closing)
            return;
        const SnapshotPtr state = current();
        for (const auto& group : searched)
            state->search->forGroup(state->maps, group);
    });
}

const SearchCache& CacheIndexStore::searchOf(const IndexSnapshot& state, const GroupID& g)
{
    {
        std::lock_guard lock(m_searchedMutex);
        m_searchedGroups.insert(g);
    }
    return *state.search;
}

void CacheIndexStore::deliver(std::function<void()> fn)
{
    if (m_options.postToMainThread)
        m_options.postToMainThread(std::move(fn));
    else
        fn();
}

DiskSnapshot CacheIndexStore::loadCache()
{
    // Read and decoded before the worker is asked for anything: a search meanwhile goes on with the
    // current state.
    const auto turn = writerTurn();
    CacheData data;
    try {
        data = decodeCacheFile(cacheFilePath());
    } catch (const std::exception& error) {
        log(std::string("❌ Failed to load cache: ") + error.what());
        return DiskSnapshot {};
    }
    if (data.version != kCacheVersion)
        return DiskSnapshot {};
    IndexMaps maps;
    maps.directoryIndex = std::move(data.directoryIndex);
    maps.searchIndex = std::move(data.searchIndex);
    maps.groupRoots = std::move(data.groupRoots);
    index::rebuildFileIndex(maps);
    index::rebuildKeywordIndex(maps);
    DiskSnapshot snapshot;
    snapshot.roots = maps.groupRoots;
    snapshot.lastUpdate = data.lastUpdate;
    snapshot.hasData = !maps.directoryIndex.empty() || !maps.searchIndex.empty();
    // Published whole: no state ever holds the new file index without its keyword index.
    replace([&](IndexMaps& next) { next = std::move(maps); });
    return snapshot;
}

void CacheIndexStore::saveCache(double lastUpdate)
{
    // In the writer's turn, so two saves land in the order they were asked for; the encoding reads the
    // published state and holds up no reader.
    const auto turn = writerTurn();
    const SnapshotPtr state = current();
    try {
        writeFileAtomically(cacheFilePath(), encodeCacheData(state->maps, lastUpdate));
    } catch (const std::exception& error) {
        log(std::string("❌ Failed to save cache: ") + error.what());
    }
}

void CacheIndexStore::clearCache()
{
    const auto turn = writerTurn();
    m_executor.run([this] {
        auto next = std::make_shared<IndexSnapshot>();
        publish(std::move(next), Touches::everything);
    });
    ::unlink(cacheFilePath().c_str());
}

std::vector<GroupID> CacheIndexStore::groupsContaining(const std::string& path)
{
    return read([&](const IndexMaps& maps) { return index::groupsContaining(maps, path); });
}

void CacheIndexStore::rebuildKeywordIndex()
{
    modify([](IndexMaps& maps) { index::rebuildKeywordIndex(maps); });
}

} // namespace kivo::index
