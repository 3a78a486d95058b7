#include "library/LibraryIndexManager.h"

#include "index/FolderListing.h"
#include "library/MissingFileTracker.h"
#include "library/SyncSettings.h"
#include "library/UserSettings.h"
#include "platform/Clock.h"
#include "platform/MainThread.h"
#include "platform/MountTable.h"
#include "platform/NotificationCenter.h"
#include "platform/PreferenceStore.h"
#include "platform/StaleTemporaries.h"
#include "platform/TaskRunner.h"

#include <QFileInfo>
#include <QPointer>
#include <QThread>

namespace kivo::library {

namespace {

constexpr double kSilentRebuildAge = 21600; // six hours
constexpr double kAnimationEndDelay = 0.5;

index::MountedVolumes procMountedVolumes()
{
    return [] {
        std::optional<platform::MountTable> table = platform::MountTable::read();
        return table ? table->mountPoints() : std::set<std::string> {};
    };
}

QStringList toQStrings(const std::vector<std::string>& paths)
{
    QStringList out;
    out.reserve(qsizetype(paths.size()));
    for (const std::string& p : paths)
        out.append(QString::fromStdString(p));
    return out;
}

QString standardizedPath(const QString& path)
{
    QString clean = QFileInfo(path).absoluteFilePath();
    while (clean.size() > 1 && clean.endsWith(QLatin1Char('/')))
        clean.chop(1);
    return clean;
}

} // namespace

LibraryIndexManager::LibraryIndexManager(
    platform::TaskRunner& tasks, LibraryIndexManagerOptions options, QObject* parent)
    : QObject(parent)
    , m_tasks(tasks)
    , m_options(std::move(options))
{
    assert(m_options.tracker && m_options.syncSettings);
    m_clock = m_options.clock ? m_options.clock : &platform::Clock::system();
    if (!m_options.mountedVolumes)
        m_options.mountedVolumes = procMountedVolumes();
    if (!m_options.store.postToMainThread)
        m_options.store.postToMainThread = m_tasks.poster();
    m_store = std::make_shared<index::CacheIndexStore>(m_options.store);

    setIsLoadingFromCache(true);
    // The preference store belongs to the main thread: its legacy keys go here, as the load starts.
    if (m_options.removeLegacyPreferences)
        m_options.removeLegacyPreferences();
    auto store = m_store;
    m_tasks.run(
        this,
        [store] {
            // Saves killed half-way leave their temporaries beside the cache; nothing else removes them.
            platform::removeStaleTemporaries(store->cacheFilePath());
            return store->loadCache();
        },
        [this](index::DiskSnapshot snapshot) {
            setCachedRoots(snapshot.roots);
            m_hasData = snapshot.hasData;
            m_lastCacheUpdate = snapshot.lastUpdate;
            m_cacheLoaded = true;
            setIsLoadingFromCache(false);
            emit cacheLoaded();
            auto waiting = std::move(m_afterLoad);
            m_afterLoad.clear();
            for (auto& fn : waiting)
                fn();
        });
}

LibraryIndexManager::~LibraryIndexManager()
{
    // The work holds the store itself; its answers are dropped with this object.
    if (m_indexTask)
        m_indexTask->cancel();
    if (m_silentRebuild)
        m_silentRebuild->cancel();
    m_quickRefreshTask.cancel();
}

MissingFileTracker& LibraryIndexManager::tracker() const
{
    return *m_options.tracker;
}

SyncSettings& LibraryIndexManager::syncSettings() const
{
    return *m_options.syncSettings;
}

double LibraryIndexManager::referenceNow() const
{
    return m_clock->now() - index::kReferenceDateOffset;
}

void LibraryIndexManager::whenCacheLoaded(std::function<void()> fn)
{
    KIVO_MAIN_THREAD();
    if (m_cacheLoaded)
        fn();
    else
        m_afterLoad.push_back(std::move(fn));
}

void LibraryIndexManager::setCachedRoots(const index::GroupRoots& roots)
{
    m_cachedRootsByGroup = roots;
    QStringList all;
    for (const auto& [group, list] : roots)
        for (const std::string& root : list)
            if (!all.contains(QString::fromStdString(root)))
                all.append(QString::fromStdString(root));
    tracker().setSyncedRootPaths(all);
}

void LibraryIndexManager::windowDidAppear(UserSettings& settings)
{
    KIVO_MAIN_THREAD();
    if (syncSettings().useCacheFirstLaunch())
        initialize(settings, false);
    else
        rebuild(settings, false);
}

void LibraryIndexManager::initialize(UserSettings& settings, bool forceRebuild)
{
    KIVO_MAIN_THREAD();
    // A launch decision already waiting for the cache counts as the one in progress.
    if (m_isInitializing || m_launchPending)
        return;
    m_launchPending = true;
    QPointer<UserSettings> target(&settings);
    whenCacheLoaded([this, target, forceRebuild] {
        m_launchPending = false;
        if (m_isInitializing || !target)
            return;
        UserSettings& settings = *target;
        const bool stale = !m_lastCacheUpdate || referenceNow() - *m_lastCacheUpdate >= m_cacheMaxAge;
        if (forceRebuild || !m_hasData || stale) {
            rebuild(settings, false);
            return;
        }
        if (rootsChanged(settings)) {
            if (syncSettings().notifyPathUpdates())
                detectMovedRoots(settings);
            startSync(settings, true, true);
            return;
        }
        if (referenceNow() - *m_lastCacheUpdate > kSilentRebuildAge)
            silentRebuild(settings);
        checkLibrary(settings);
    });
}

void LibraryIndexManager::rebuild(UserSettings& settings, bool animate)
{
    KIVO_MAIN_THREAD();
    startSyncTask(settings, Operation::fullBuild, animate, false, false);
}

void LibraryIndexManager::startSync(UserSettings& settings, bool animate, bool followUp)
{
    KIVO_MAIN_THREAD();
    startSyncTask(settings, Operation::sync, animate, followUp, false);
}

void LibraryIndexManager::clearAndRebuild(UserSettings& settings, bool animate)
{
    KIVO_MAIN_THREAD();
    QPointer<UserSettings> target(&settings);
    whenCacheLoaded([this, target, animate] {
        if (!target || m_isInitializing)
            return;
        setCachedRoots({});
        tracker().setSyncedRootPaths({});
        m_hasData = false;
        m_lastCacheUpdate.reset();
        // The cache file and the maps are cleared by the build task itself, ahead of the walk.
        startSyncTask(*target, Operation::fullBuild, animate, false, true);
    });
}

void LibraryIndexManager::startSyncTask(
    UserSettings& settings, Operation operation, bool animate, bool followUp, bool clearFirst)
{
    if (m_isInitializing)
        return;
    setIsInitializing(true);
    setInitializationProgress(0.0);
    setIndexProgress(std::nullopt);
    if (animate) {
        settings.setIsSyncing(true);
        settings.setStartSyncAnimation(false);
        settings.setSyncAnimationProgress(0.0);
    }
    std::vector<index::ScanGroup> plan = buildSyncPlan(settings.bookmarks());
    setCanCancelSync(true);
    // Writes to the index run one at a time: a silent rebuild still walking would only delay this one
    // and would not hold what the user just added.
    if (m_silentRebuild)
        m_silentRebuild->cancel();

    index::CancelHandle cancel;
    m_indexTask = cancel;
    const quint64 generation = ++m_syncGeneration;
    QPointer<LibraryIndexManager> self(this);
    index::ProgressObserver progress = [self, generation](const index::IndexProgress& p) {
        if (self && self->m_syncGeneration == generation && self->m_isInitializing)
            self->setIndexProgress(p);
    };
    QPointer<UserSettings> target(&settings);
    auto store = m_store;
    const index::ScanOptions scan = m_options.scan;
    struct Outcome {
        index::GroupRoots roots;
        bool cancelled = false;
    };
    m_tasks.run(
        this,
        [=, plan = std::move(plan)] {
            if (clearFirst)
                store->clearCache();
            Outcome out;
            if (operation == Operation::fullBuild) {
                out.roots = index::buildIndex(*store, plan, progress, cancel, scan);
            } else {
                index::syncIndex(*store, plan, progress, cancel, scan);
                out.roots = store->roots();
            }
            out.cancelled = cancel.isCancelled();
            return out;
        },
        [=, this](Outcome out) {
            if (generation != m_syncGeneration)
                return;
            if (!target) {
                // Settings gone (only in tests): settle the published state all the same.
                setIsInitializing(false);
                m_indexTask.reset();
                setCanCancelSync(false);
                return;
            }
            if (out.cancelled)
                syncDidCancel(*target, animate);
            else
                syncDidFinish(out.roots, *target, animate, followUp);
        });
}

void LibraryIndexManager::syncDidFinish(
    const index::GroupRoots& roots, UserSettings& settings, bool animate, bool followUp)
{
    setCachedRoots(roots);
    m_hasData = true;
    setIsInitializing(false);
    m_indexTask.reset();
    setCanCancelSync(false);
    m_pendingImport.reset();
    setInitializationProgress(1.0);
    index::IndexProgress done = m_indexProgress.value_or(index::IndexProgress {});
    done.fraction = 1.0;
    done.scanning = false;
    setIndexProgress(done);
    m_lastCacheUpdate = referenceNow();
    saveCacheInBackground();
    settings.markSynced();
    if (animate) {
        bool anyRoot = false;
        for (const BookmarkGroup& group : settings.bookmarks())
            anyRoot = anyRoot || !group.paths.isEmpty();
        if (anyRoot)
            settings.setStartSyncAnimation(true);
        QPointer<UserSettings> target(&settings);
        m_clock->after(kAnimationEndDelay, [target] {
            if (target)
                target->setIsSyncing(false);
        });
    }
    platform::NotificationCenter::shared().post(QString::fromLatin1(kPathsSyncedNotification));
    libraryChanged({}, true, {});
    emit syncFinished();
    if (followUp)
        checkLibrary(settings);
}

void LibraryIndexManager::syncDidCancel(UserSettings& settings, bool resetAnimation)
{
    setIsInitializing(false);
    m_indexTask.reset();
    setCanCancelSync(false);
    setInitializationProgress(0.0);
    setIndexProgress(std::nullopt);
    if (resetAnimation) {
        settings.setIsSyncing(false);
        settings.setSyncAnimationProgress(0.0);
        settings.setStartSyncAnimation(false);
    }
    QStringList removedNames;
    if (std::optional<QPair<int, QStringList>> pending = std::exchange(m_pendingImport, std::nullopt)) {
        const std::optional<QUuid> id = settings.groupID(pending->first);
        const QStringList removed = settings.removeRootsWithStoredPaths(pending->first, pending->second);
        if (!removed.isEmpty() && id) {
            for (const QString& path : removed)
                removedNames.append(path.section(QLatin1Char('/'), -1));
            removeRoots(removed, *id);
        }
    }
    settings.refreshIsSynced();
    platform::NotificationCenter::shared().post(QString::fromLatin1(kPathsSyncedNotification));
    emit syncCancelled(syncCancellationAlert(removedNames));
}

void LibraryIndexManager::silentRebuild(UserSettings& settings)
{
    // Background priority and none of the published sync state: the user sees nothing.
    std::vector<index::ScanGroup> plan = buildSyncPlan(settings.bookmarks());
    auto store = m_store;
    const index::ScanOptions scan = m_options.scan;
    // A sync the user starts meanwhile cancels this rebuild (its plan may lack the user's new folder).
    m_silentRebuild = m_tasks.run(
        this,
        [=, plan = std::move(plan)](const index::CancelHandle& cancel) {
            QThread::currentThread()->setPriority(QThread::LowPriority);
            index::GroupRoots roots = index::buildIndex(*store, plan, {}, cancel, scan);
            QThread::currentThread()->setPriority(QThread::NormalPriority);
            return roots;
        },
        [this](index::GroupRoots roots) {
            setCachedRoots(roots);
            m_lastCacheUpdate = referenceNow();
            saveCacheInBackground();
        });
}

void LibraryIndexManager::saveCacheInBackground()
{
    if (!m_lastCacheUpdate)
        return;
    auto store = m_store;
    const double time = *m_lastCacheUpdate;
    m_tasks.run([store, time] { store->saveCache(time); });
}

void LibraryIndexManager::setPendingImport(const QStringList& paths, int collectionIndex)
{
    KIVO_MAIN_THREAD();
    QStringList clean;
    for (const QString& p : paths)
        clean.append(standardizedPath(p));
    m_pendingImport = qMakePair(collectionIndex, clean);
}

void LibraryIndexManager::rootsAdded(UserSettings& settings)
{
    KIVO_MAIN_THREAD();
    const bool fresh = m_hasData && m_lastCacheUpdate && referenceNow() - *m_lastCacheUpdate < m_cacheMaxAge;
    if (fresh) {
        startSync(settings, true, true);
        return;
    }
    QPointer<UserSettings> target(&settings);
    m_tasks.post(this, [this, target] {
        if (target)
            clearAndRebuild(*target, true);
    });
}

void LibraryIndexManager::detectMovedRoots(UserSettings& settings)
{
    if (m_options.detectMovedRoots)
        m_pendingMovedNotices.append(m_options.detectMovedRoots(settings));
}

void LibraryIndexManager::syncNow(UserSettings& settings)
{
    KIVO_MAIN_THREAD();
    if (syncSettings().notifyPathUpdates())
        detectMovedRoots(settings);
    if (rootsChanged(settings)) {
        startSync(settings, true, true);
        return;
    }
    const std::vector<std::string> roots = planRoots(buildSyncPlan(settings.bookmarks()));
    const std::set<std::string> skipped
        = m_options.skippedRoots ? m_options.skippedRoots() : std::set<std::string> {};
    auto store = m_store;
    auto mounted = m_options.mountedVolumes;
    QPointer<UserSettings> target(&settings);
    m_tasks.run(
        this, [=] { return index::computeQuickRefreshDelta(*store, roots, skipped, mounted).hasChanges(); },
        [this, target](bool changed) {
            if (!target)
                return;
            if (changed) {
                startSync(*target, true, true);
            } else {
                emit syncFoundNothingToDo();
                checkLibrary(*target);
            }
        });
}

void LibraryIndexManager::checkLibrary(UserSettings& settings)
{
    KIVO_MAIN_THREAD();
    // The missing and moved root check plugs in here; without it there is nothing to report.
    if (m_options.checkLibrary)
        m_options.checkLibrary(*this, settings, syncSettings());
}

void LibraryIndexManager::removeRoots(const QStringList& paths, const QUuid& collectionID)
{
    KIVO_MAIN_THREAD();
    const index::GroupID group = indexGroupID(collectionID);
    std::vector<std::string> roots;
    for (const QString& p : paths)
        roots.push_back(p.toStdString());
    auto it = m_cachedRootsByGroup.find(group);
    if (it != m_cachedRootsByGroup.end()) {
        std::erase_if(it->second,
            [&](const std::string& r) { return std::find(roots.begin(), roots.end(), r) != roots.end(); });
        setCachedRoots(index::GroupRoots(m_cachedRootsByGroup));
    }
    auto store = m_store;
    const double time = m_lastCacheUpdate.value_or(referenceNow());
    m_tasks.run([store, roots, group, time] {
        index::removeRoots(*store, roots, group);
        store->saveCache(time);
    });
}

bool LibraryIndexManager::rootsChanged(const UserSettings& settings) const
{
    KIVO_MAIN_THREAD();
    for (const index::ScanGroup& entry : buildSyncPlan(settings.bookmarks())) {
        auto it = m_cachedRootsByGroup.find(entry.groupID);
        for (const std::string& root : entry.urls) {
            if (it == m_cachedRootsByGroup.end()
                || std::find(it->second.begin(), it->second.end(), root) == it->second.end())
                return true;
        }
    }
    return false;
}

std::vector<std::string> LibraryIndexManager::planRoots(const std::vector<index::ScanGroup>& plan) const
{
    std::vector<std::string> roots;
    std::set<std::string> seen;
    for (const index::ScanGroup& entry : plan)
        for (const std::string& root : entry.urls)
            if (seen.insert(root).second)
                roots.push_back(root);
    return roots;
}

void LibraryIndexManager::quickRefresh(UserSettings& settings)
{
    KIVO_MAIN_THREAD();
    if (!m_hasData || m_isInitializing || m_isQuickRefreshing)
        return;
    if (m_options.workspaceChangeInProgress && m_options.workspaceChangeInProgress())
        return;
    const double now = m_clock->monotonic();
    if (m_lastQuickRefresh && now - *m_lastQuickRefresh < m_quickRefreshMinInterval)
        return;
    m_lastQuickRefresh = now;
    m_isQuickRefreshing = true;
    const std::vector<std::string> roots = planRoots(buildSyncPlan(settings.bookmarks()));
    const std::set<std::string> skipped
        = m_options.skippedRoots ? m_options.skippedRoots() : std::set<std::string> {};
    auto store = m_store;
    auto mounted = m_options.mountedVolumes;
    const index::ScanOptions scan = m_options.scan;
    struct Refresh {
        bool changed = false;
        bool reindexed = false;
        QStringList removed;
        QStringList added;
    };
    const index::CancelHandle cancel = m_quickRefreshTask;
    m_tasks.run(
        this,
        [=] {
            const index::QuickRefreshDelta delta
                = index::computeQuickRefreshDelta(*store, roots, skipped, mounted);
            Refresh out;
            out.changed = delta.hasChanges();
            // Fresh folder times alone are applied too, so the next refresh does not look at them again.
            if (out.changed || !delta.freshMTimes.empty() || !delta.freshInodes.empty())
                index::applyQuickRefreshDelta(*store, delta, cancel, scan);
            out.removed = toQStrings(delta.removedFiles);
            out.added = toQStrings(delta.newFiles);
            out.reindexed
                = !delta.movedFolders.empty() || !delta.newFolders.empty() || !delta.removedFolders.empty();
            return out;
        },
        [this](Refresh out) {
            m_isQuickRefreshing = false;
            if (out.changed) {
                libraryChanged(out.removed, out.reindexed, out.added);
                saveCacheInBackground();
            }
            emit quickRefreshFinished(out.changed);
        });
}

void LibraryIndexManager::libraryChanged(const QStringList& removed, bool reindexed, const QStringList& added)
{
    m_lastCacheUpdate = referenceNow();
    QVariantMap info;
    info.insert(QStringLiteral("paths"), removed);
    info.insert(QStringLiteral("reindexed"), reindexed);
    info.insert(QStringLiteral("addedPaths"), added);
    platform::NotificationCenter::shared().post(QString::fromLatin1(kLibraryFileRemovedNotification), info);
}

QList<QUuid> LibraryIndexManager::groupsContaining(const QString& path) const
{
    KIVO_MAIN_THREAD();
    const std::string p = path.toStdString();
    QList<QUuid> out;
    for (const auto& [group, roots] : m_cachedRootsByGroup) {
        for (const std::string& root : roots) {
            if (index::isUnderRoot(p, root)) {
                out.append(QUuid::fromString(QString::fromStdString(group)));
                break;
            }
        }
    }
    return out;
}

void LibraryIndexManager::cancelSync()
{
    KIVO_MAIN_THREAD();
    if (!m_indexTask)
        return;
    setCanCancelSync(false);
    m_indexTask->cancel();
}

void LibraryIndexManager::setIsInitializing(bool value)
{
    if (m_isInitializing == value)
        return;
    m_isInitializing = value;
    if (m_options.indexBusyChanged)
        m_options.indexBusyChanged(value);
    emit isInitializingChanged();
}

void LibraryIndexManager::setInitializationProgress(double value)
{
    if (m_initializationProgress == value)
        return;
    m_initializationProgress = value;
    emit initializationProgressChanged();
}

void LibraryIndexManager::setIndexProgress(const std::optional<index::IndexProgress>& value)
{
    if (m_indexProgress == value)
        return;
    m_indexProgress = value;
    emit indexProgressChanged();
}

void LibraryIndexManager::setIsLoadingFromCache(bool value)
{
    if (m_isLoadingFromCache == value)
        return;
    m_isLoadingFromCache = value;
    emit isLoadingFromCacheChanged();
}

void LibraryIndexManager::setCanCancelSync(bool value)
{
    if (m_canCancelSync == value)
        return;
    m_canCancelSync = value;
    emit canCancelSyncChanged();
}

} // namespace kivo::library
