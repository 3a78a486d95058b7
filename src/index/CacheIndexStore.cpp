#include "index/CacheIndexStore.h"
#include "index/SearchCache.h"

#include <cstdio>
#include <stdexcept>
#include <unistd.h>

namespace kivo::index {

CacheIndexStore::CacheIndexStore(CacheIndexStoreOptions options)
    : m_options(std::move(options))
{
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

void CacheIndexStore::mapsChanged()
{
    m_searchCache.reset();
    const std::uint64_t change = ++m_changes;
    if (m_searchedGroups.empty())
        return;
    m_executor.post([this, change] {
        // A later change has queued its own rebuild.
        if (change != m_changes || m_closing)
            return;
        for (const auto& group : m_searchedGroups)
            searchCache(group).forGroup(m_maps, group);
    });
}

SearchCache& CacheIndexStore::searchCache(const GroupID& g)
{
    if (!m_searchCache)
        m_searchCache = std::make_unique<SearchCache>();
    m_searchedGroups.insert(g);
    return *m_searchCache;
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
    return m_executor.run([this] {
        if (m_options.removeLegacyPreferences)
            m_options.removeLegacyPreferences();
        CacheData data;
        try {
            data = decodeCacheFile(cacheFilePath());
        } catch (const std::exception& error) {
            log(std::string("❌ Failed to load cache: ") + error.what());
            return DiskSnapshot {};
        }
        if (data.version != kCacheVersion)
            return DiskSnapshot {};
        // The whole replacement happens inside this one operation, so no other operation ever sees
        // the new file index without its keyword index.
        m_maps.directoryIndex = std::move(data.directoryIndex);
        m_maps.searchIndex = std::move(data.searchIndex);
        m_maps.groupRoots = std::move(data.groupRoots);
        index::rebuildFileIndex(m_maps);
        index::rebuildKeywordIndex(m_maps);
        mapsChanged();
        DiskSnapshot snapshot;
        snapshot.roots = m_maps.groupRoots;
        snapshot.lastUpdate = data.lastUpdate;
        snapshot.hasData = !m_maps.directoryIndex.empty() || !m_maps.searchIndex.empty();
        return snapshot;
    });
}

void CacheIndexStore::saveCache(double lastUpdate)
{
    m_executor.run([&] {
        try {
            writeFileAtomically(cacheFilePath(), encodeCacheData(m_maps, lastUpdate));
        } catch (const std::exception& error) {
            log(std::string("❌ Failed to save cache: ") + error.what());
        }
    });
}

void CacheIndexStore::clearCache()
{
    m_executor.run([this] {
        m_maps = IndexMaps();
        mapsChanged();
        ::unlink(cacheFilePath().c_str());
    });
}

std::vector<GroupID> CacheIndexStore::groupsContaining(const std::string& path)
{
    return read([&](const IndexMaps& maps) { return index::groupsContaining(maps, path); });
}

void CacheIndexStore::rebuildKeywordIndex()
{
    modify([](IndexMaps& maps) { index::rebuildKeywordIndex(maps); });
}

IndexMaps CacheIndexStore::snapshot()
{
    return read([](const IndexMaps& maps) { return maps; });
}

} // namespace kivo::index
