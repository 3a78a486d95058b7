#include "index/CacheIndexStore.h"
#include "index/SearchCache.h"
#include "platform/StaleTemporaries.h"

#include <algorithm>
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

void CacheIndexStore::publishMaps(const IndexMaps& maps)
{
    auto next = std::make_shared<IndexSnapshot>();
    next->index = compactIndexOf(maps);
    publish(std::move(next), Touches::everything);
}

void CacheIndexStore::replaceIndex(CompactIndex&& index)
{
    auto next = std::make_shared<IndexSnapshot>();
    next->index = std::move(index);
    m_executor.run([&] { publish(std::move(next), Touches::everything); });
}

void CacheIndexStore::publish(std::shared_ptr<IndexSnapshot> next, Touches touches)
{
    SnapshotPtr previous = current();
    if (touches == Touches::folderTimesOnly && previous->search)
        next->search = previous->search;
    else
        next->search = std::make_shared<SearchCache>();
    {
        std::lock_guard lock(m_publishMutex);
        m_current = std::move(next);
    }
    // The old state goes when its last reader lets go of it. Freeing a large index takes a while, so
    // when nobody else holds it, it goes later on the worker, not in this commit.
    if (previous.use_count() == 1)
        m_executor.post([old = std::move(previous)] {});
}

void CacheIndexStore::updateFolderTimes(
    const std::map<std::string, double>& contentModified, const std::map<std::string, std::uint64_t>& inodes)
{
    m_executor.run([&] {
        auto next = std::make_shared<IndexSnapshot>();
        next->index = current()->index;
        next->index.setFolderTimes(contentModified, inodes);
        publish(std::move(next), Touches::folderTimesOnly);
    });
}

std::optional<DirectoryInfo> CacheIndexStore::folderRecord(const std::string& path) const
{
    const SnapshotPtr state = current();
    if (const IndexedFolder* folder = state->index.folder(path))
        return state->index.directoryInfo(*folder);
    return std::nullopt;
}

const GroupSearchData& CacheIndexStore::searchOf(const IndexSnapshot& state, const GroupID& g)
{
    return state.search->forGroup(g);
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
    // Saves killed half-way leave their temporaries beside the cache; nothing else removes them.
    platform::removeStaleTemporaries(cacheFilePath());
    auto next = std::make_shared<IndexSnapshot>();
    double lastUpdate = 0;
    try {
        CacheData data = decodeCacheFile(cacheFilePath());
        if (data.version != kCacheVersion)
            return DiskSnapshot {};
        next->index = std::move(data.index);
        lastUpdate = data.lastUpdate;
    } catch (const std::exception& error) {
        log(std::string("❌ Failed to load cache: ") + error.what());
        return DiskSnapshot {};
    }
    DiskSnapshot snapshot;
    snapshot.roots = next->index.roots;
    snapshot.lastUpdate = lastUpdate;
    snapshot.hasData = next->index.folderCount > 0 || !next->index.names.empty();
    // Published whole: no state ever holds the new file index without its keyword index.
    m_executor.run([&] { publish(std::move(next), Touches::everything); });
    return snapshot;
}

void CacheIndexStore::saveCache(double lastUpdate)
{
    // In the writer's turn, so two saves land in the order they were asked for; the encoding reads the
    // published state and holds up no reader.
    const auto turn = writerTurn();
    const SnapshotPtr state = current();
    try {
        writeFileAtomically(cacheFilePath(), [&](const std::function<void(std::string_view)>& write) {
            encodeCacheData(state->index, lastUpdate, write);
        });
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
    const SnapshotPtr state = current();
    std::vector<GroupID> out;
    for (const auto& [group, roots] : state->index.roots)
        if (std::any_of(
                roots.begin(), roots.end(), [&](const std::string& root) { return isUnderRoot(path, root); }))
            out.push_back(group);
    return out;
}

void CacheIndexStore::rebuildKeywordIndex()
{
    m_executor.run([&] {
        auto next = std::make_shared<IndexSnapshot>();
        next->index = current()->index;
        next->index.deriveKeywords();
        publish(std::move(next), Touches::everything);
    });
}

} // namespace kivo::index
