#include "library/LibraryIndexManager.h"

#include "index/FolderListing.h"
#include "library/DiagnosticLog.h"
#include "library/LibraryCheck.h"
#include "library/MissingFileTracker.h"
#include "library/SyncSettings.h"
#include "library/UserSettings.h"
#include "platform/Clock.h"
#include "platform/FolderBookmark.h"
#include "platform/MainThread.h"
#include "platform/MountTable.h"
#include "platform/NotificationCenter.h"
#include "platform/PathProbe.h"
#include "platform/PreferenceStore.h"
#include "platform/TaskRunner.h"

#include <QFileInfo>
#include <QPointer>

namespace kivo::library {

namespace {

// Scans, syncs, checks and saves yield to the window on a busy machine.
constexpr auto kBackground = platform::TaskRunner::Priority::background;

constexpr double kSilentRebuildAge = 21600; // six hours
constexpr double kAnimationEndDelay = 0.5;
// How often roots that do not answer are looked at again; they are only asked again once the
// question still inside the kernel has returned.
constexpr double kStalledRetryInterval = 5;

index::MountedVolumes procMountedVolumes()
{
    return [] {
        std::optional<platform::MountTable> table = platform::MountTable::read();
        return table ? table->mountPoints() : std::set<std::string> {};
    };
}

// Which roots the plan resolves and which it cannot: a change is a root gone missing, back, or
// renamed.
std::set<std::string> planState(const std::vector<index::ScanGroup>& plan)
{
    std::set<std::string> state;
    for (const index::ScanGroup& group : plan) {
        for (const std::string& root : group.urls)
            state.insert("r" + root);
        for (const std::string& root : group.unresolvedPaths)
            state.insert("u" + root);
    }
    return state;
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
        this, [store] { return store->loadCache(); },
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
    if (m_stalledRetry)
        m_stalledRetry->cancel();
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
        const bool stale = !m_lastCacheUpdate || referenceNow() - *m_lastCacheUpdate >= m_cacheMaxAge;
        if (forceRebuild || !m_hasData || stale) {
            rebuild(*target, false);
            return;
        }
        // Still the launch in progress while the roots are resolved in the background.
        m_launchPending = true;
        surveyRoots(*target, [this](UserSettings* settings, RootSurvey survey) {
            m_launchPending = false;
            if (!settings || m_isInitializing)
                return;
            if (rootsChangedIn(survey.plan)) {
                startSync(*settings, true, true);
                return;
            }
            if (referenceNow() - *m_lastCacheUpdate > kSilentRebuildAge)
                silentRebuild(*settings);
            checkLibrary(*settings);
        });
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
    // Resolved by the work itself: a root on a stalled mount holds nothing on the main thread.
    const BookmarkGroupList bookmarks = settings.bookmarks();
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
        std::vector<index::ScanGroup> plan;
        bool cancelled = false;
    };
    m_tasks.run(
        this,
        [=] {
            Outcome out;
            out.plan = buildSyncPlan(bookmarks);
            const std::vector<index::ScanGroup>& plan = out.plan;
            if (clearFirst)
                store->clearCache();
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
            planResolved(*target, std::move(out.plan));
            if (out.cancelled)
                syncDidCancel(*target, animate);
            else
                syncDidFinish(out.roots, *target, animate, followUp);
        },
        kBackground);
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
    const BookmarkGroupList bookmarks = settings.bookmarks();
    auto store = m_store;
    const index::ScanOptions scan = m_options.scan;
    // A sync the user starts meanwhile cancels this rebuild (its plan may lack the user's new folder).
    m_silentRebuild = m_tasks.run(
        this,
        [=](const index::CancelHandle& cancel) {
            const std::vector<index::ScanGroup> plan = buildSyncPlan(bookmarks);
            return index::buildIndex(*store, plan, {}, cancel, scan);
        },
        [this](index::GroupRoots roots) {
            setCachedRoots(roots);
            m_lastCacheUpdate = referenceNow();
            saveCacheInBackground();
        },
        kBackground);
}

void LibraryIndexManager::saveCacheInBackground()
{
    if (!m_lastCacheUpdate)
        return;
    auto store = m_store;
    const double time = *m_lastCacheUpdate;
    m_tasks.run([store, time] { store->saveCache(time); }, kBackground);
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

void LibraryIndexManager::surveyRoots(
    UserSettings& settings, std::function<void(UserSettings*, RootSurvey)> done)
{
    const bool findMoved = syncSettings().notifyPathUpdates();
    // The stand-in for moved-root detection (tests) answers here, ahead of the resolution.
    if (findMoved && m_options.detectMovedRoots)
        followMovedRoots(settings, m_options.detectMovedRoots(settings), {}, true);
    const BookmarkGroupList bookmarks = settings.bookmarks();
    const index::GroupRoots covered = m_cachedRootsByGroup;
    const bool detect = findMoved && !m_options.detectMovedRoots;
    auto store = m_store;
    QPointer<UserSettings> target(&settings);
    // Not background priority: the user may be waiting on what follows (Sync now, a launch).
    m_tasks.run(
        this, [=] { return library::surveyRoots(*store, bookmarks, covered, detect); },
        [this, target, done = std::move(done)](RootSurvey survey) {
            if (target) {
                followMovedRoots(*target, survey.movedRoots, survey.movedBookmarks, true);
                planResolved(*target, survey.plan);
            }
            done(target.data(), std::move(survey));
        });
}

void LibraryIndexManager::followMovedRoots(UserSettings& settings, const QList<MovedRoot>& moved,
    const QHash<QString, QByteArray>& bookmarks, bool notice)
{
    // The user's tags, marks, corrections and hotkeys go with the folder; the sync that follows
    // re-reads it under its new path.
    for (const MovedRoot& pair : moved) {
        if (notice && !m_pendingMovedNotices.contains(pair))
            m_pendingMovedNotices.append(pair);
        if (const auto bookmark = bookmarks.constFind(pair.second); bookmark != bookmarks.constEnd())
            settings.replaceRootBookmarks(pair.first, *bookmark);
        for (const PathRewriter& rewrite : m_pathRewriters)
            rewrite(pair.first, pair.second);
        tracker().resolve(pair.first);
    }
}

void LibraryIndexManager::planResolved(UserSettings& settings, std::vector<index::ScanGroup> plan)
{
    tracker().setNotAnsweringPaths(toQStrings(stalledRoots(plan)));
    m_lastPlan = std::move(plan);
    if (!tracker().notAnsweringPaths().isEmpty())
        retryStalledRootsLater(settings);
}

void LibraryIndexManager::retryStalledRootsLater(UserSettings& settings)
{
    if (m_stalledRetry)
        return;
    QPointer<LibraryIndexManager> self(this);
    QPointer<UserSettings> target(&settings);
    m_stalledRetry = m_clock->after(kStalledRetryInterval, [self, target] {
        if (!self)
            return;
        self->m_stalledRetry.reset();
        const QSet<QString> stalled = self->tracker().notAnsweringPaths();
        if (!target || stalled.isEmpty())
            return;
        // Until its question returns, a root is known not to answer: asking again would only say so.
        const bool answered = std::any_of(stalled.begin(), stalled.end(),
            [](const QString& root) { return !platform::PathProbe::isStalled(root); });
        if (answered && !self->m_isInitializing && self->m_checksRunning == 0)
            self->checkLibrary(*target);
        else
            self->retryStalledRootsLater(*target);
    });
}

void LibraryIndexManager::syncNow(UserSettings& settings)
{
    KIVO_MAIN_THREAD();
    surveyRoots(settings, [this](UserSettings* target, RootSurvey survey) {
        if (!target)
            return;
        if (rootsChangedIn(survey.plan)) {
            startSync(*target, true, true);
            return;
        }
        const std::set<std::string> skipped
            = m_options.skippedRoots ? m_options.skippedRoots() : std::set<std::string> {};
        auto store = m_store;
        auto mounted = m_options.mountedVolumes;
        const std::vector<std::string> roots = planRoots(survey.plan);
        QPointer<UserSettings> settings(target);
        m_tasks.run(
            this,
            [=] { return index::computeQuickRefreshDelta(*store, roots, skipped, mounted).hasChanges(); },
            [this, settings](bool changed) {
                if (!settings)
                    return;
                if (changed) {
                    startSync(*settings, true, true);
                } else {
                    emit syncFoundNothingToDo();
                    checkLibrary(*settings);
                }
            },
            kBackground);
    });
}

void LibraryIndexManager::checkLibrary(UserSettings& settings)
{
    KIVO_MAIN_THREAD();
    if (m_options.checkLibrary) {
        m_options.checkLibrary(*this, settings, syncSettings());
        return;
    }
    const SyncSettings& sync = syncSettings();
    LibraryCheckRequest request;
    request.collections = settings.bookmarks();
    request.covered = m_cachedRootsByGroup;
    request.syncedRoots = tracker().syncedRootPaths();
    request.options.checkDriveState = sync.checkDriveState();
    request.options.detectMissingItems = sync.detectMissingItems();
    request.notifyPathUpdates = sync.notifyPathUpdates();
    request.pendingMovedNotices = std::exchange(m_pendingMovedNotices, {});
    request.generation = tracker().generation();
    ++m_checksRunning;
    auto store = m_store;
    auto mounted = m_options.mountedVolumes;
    QPointer<UserSettings> target(&settings);
    m_tasks.run(
        this, [=] { return runLibraryCheck(*store, request, mounted); },
        [this, target](LibraryCheckOutcome outcome) {
            --m_checksRunning;
            m_lastPlanState = planState(outcome.plan);
            const bool current = outcome.result.generation == tracker().generation();
            const bool moved = current && target && !outcome.movedRoots.isEmpty();
            if (moved)
                followMovedRoots(*target, outcome.movedRoots, outcome.movedBookmarks, false);
            // A root that did not answer before and does now, never indexed, is synced.
            const QSet<QString> wasStalled = tracker().notAnsweringPaths();
            bool backAgain = false;
            for (const index::ScanGroup& group : outcome.plan)
                for (const std::string& root : group.urls)
                    backAgain = backAgain || wasStalled.contains(QString::fromStdString(root));
            if (target)
                planResolved(*target, outcome.plan);
            tracker().applyCheckResult(outcome.result);
            if (moved || (target && backAgain && rootsChangedIn(m_lastPlan)))
                startSync(*target, true, true);
            emit libraryChecked();
        },
        kBackground);
}

void LibraryIndexManager::relocate(UserSettings& settings, const QString& oldPath, const QString& newPath,
    const QStringList& candidates, std::function<void(bool)> done)
{
    KIVO_MAIN_THREAD();
    using Move = RootMove;
    QPointer<UserSettings> target(&settings);
    m_tasks.run(
        this,
        [oldPath, newPath, candidates] {
            std::vector<Move> moves;
            QString error;
            const std::optional<QByteArray> bookmark = platform::FolderBookmark::create(newPath, &error);
            if (!bookmark) {
                logLine(QStringLiteral("Error creating bookmark for relocated root: ") + error);
                return moves;
            }
            moves.push_back({ oldPath, newPath, *bookmark });
            // Folders that went missing beside this one were most likely moved with it.
            const QString parent = parentPath(newPath);
            for (const QString& candidate : candidates) {
                const QString inside = parent + QLatin1Char('/') + candidate.section(QLatin1Char('/'), -1);
                if (inside == newPath)
                    continue;
                if (const std::optional<QByteArray> other = platform::FolderBookmark::create(inside))
                    moves.push_back({ candidate, inside, *other });
            }
            return moves;
        },
        [this, target, done = std::move(done)](std::vector<Move> moves) {
            if (target && !moves.empty())
                relocateRoots(*target, moves);
            if (done)
                done(target && !moves.empty());
        });
}

void LibraryIndexManager::relocateRoots(UserSettings& settings, const std::vector<RootMove>& moves)
{
    std::vector<std::pair<std::string, std::string>> paths;
    for (const RootMove& move : moves) {
        settings.replaceRootBookmarks(move.from, move.bookmark);
        for (const PathRewriter& rewrite : m_pathRewriters)
            rewrite(move.from, move.to);
        tracker().resolve(move.from);
        paths.emplace_back(move.from.toStdString(), move.to.toStdString());
        // The cached roots change at once, so a sync started meanwhile does not scan the folder twice.
        for (auto& [group, roots] : m_cachedRootsByGroup)
            std::replace(roots.begin(), roots.end(), paths.back().first, paths.back().second);
    }
    setCachedRoots(index::GroupRoots(m_cachedRootsByGroup));
    auto store = m_store;
    const index::ScanOptions scan = m_options.scan;
    QPointer<UserSettings> target(&settings);
    m_tasks.run(
        this,
        [=] {
            index::GroupRoots roots;
            for (const auto& [from, to] : paths)
                roots = index::relocateRoot(*store, from, to, {}, scan);
            return roots;
        },
        [=, this](index::GroupRoots roots) {
            setCachedRoots(roots);
            libraryChanged({}, true, {});
            saveCacheInBackground();
            for (const RootMove& move : moves)
                emit rootRelocated(move.from, move.to);
            if (!target)
                return;
            // Roots the index did not cover yet (never synced) are picked up by a sync.
            surveyRoots(*target, [this](UserSettings* settings, RootSurvey survey) {
                if (settings && rootsChangedIn(survey.plan))
                    startSync(*settings, true, true);
            });
        },
        kBackground);
}

void LibraryIndexManager::inspectInBackground(std::function<bool()> work, std::function<void(bool)> done)
{
    m_tasks.run(this, std::move(work), std::move(done));
}

QStringList LibraryIndexManager::relocationCandidates(const QString& path) const
{
    return tracker().relocationCandidates(path, m_lastPlan);
}

void LibraryIndexManager::volumeUnmounted(const QString& volume)
{
    KIVO_MAIN_THREAD();
    // Marked from what is known, without touching the disk: the drive is gone, so nothing below
    // it can be asked about, and the index keeps its records.
    SyncCheckResult result;
    result.generation = tracker().generation();
    for (const QString& root : tracker().syncedRootPaths())
        if (isPathUnder(root, volume))
            result.missingPaths.append(root);
    if (result.missingPaths.isEmpty())
        return;
    if (syncSettings().checkDriveState()) {
        result.missingPaths.append(volume);
        result.issues.append({ SyncIssue::Kind::unreachableDrive, volume, std::nullopt });
    }
    tracker().applyCheckResult(result);
}

void LibraryIndexManager::volumeMounted(UserSettings& settings, const QString& volume)
{
    KIVO_MAIN_THREAD();
    bool holdsRoots = false;
    for (const QString& root : tracker().syncedRootPaths())
        holdsRoots = holdsRoots || isPathUnder(root, volume);
    if (!holdsRoots)
        return;
    tracker().resolve(volume);
    m_lastQuickRefresh.reset();
    quickRefresh(settings);
    checkLibrary(settings);
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
    m_tasks.run(
        [store, roots, group, time] {
            index::removeRoots(*store, roots, group);
            store->saveCache(time);
        },
        kBackground);
}

bool LibraryIndexManager::rootsChangedIn(const std::vector<index::ScanGroup>& plan) const
{
    KIVO_MAIN_THREAD();
    for (const index::ScanGroup& entry : plan) {
        auto it = m_cachedRootsByGroup.find(entry.groupID);
        for (const std::string& root : entry.urls) {
            if (it == m_cachedRootsByGroup.end()
                || std::find(it->second.begin(), it->second.end(), root) == it->second.end())
                return true;
        }
    }
    return false;
}

std::vector<std::string> LibraryIndexManager::planRoots(const std::vector<index::ScanGroup>& plan)
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
    // A check compares the index with the disk: a refresh applied meanwhile would hide what it finds.
    if (m_checksRunning > 0)
        return;
    const double now = m_clock->monotonic();
    if (m_lastQuickRefresh && now - *m_lastQuickRefresh < m_quickRefreshMinInterval)
        return;
    m_lastQuickRefresh = now;
    m_isQuickRefreshing = true;
    const BookmarkGroupList bookmarks = settings.bookmarks();
    const std::set<std::string> skipped
        = m_options.skippedRoots ? m_options.skippedRoots() : std::set<std::string> {};
    // A root that went missing or came back, or whose folder was renamed, is the check's to report;
    // a refresh only looks inside the roots it can reach.
    const std::optional<std::set<std::string>> lastState
        = m_options.checkLibrary ? std::nullopt : std::optional(m_lastPlanState);
    auto store = m_store;
    auto mounted = m_options.mountedVolumes;
    const index::ScanOptions scan = m_options.scan;
    struct Refresh {
        std::vector<index::ScanGroup> plan;
        bool planChanged = false;
        bool changed = false;
        bool reindexed = false;
        QStringList removed;
        QStringList added;
    };
    const index::CancelHandle cancel = m_quickRefreshTask;
    QPointer<UserSettings> target(&settings);
    m_tasks.run(
        this,
        [=] {
            Refresh out;
            out.plan = buildSyncPlan(bookmarks);
            if (lastState && planState(out.plan) != *lastState) {
                out.planChanged = true;
                return out;
            }
            const index::QuickRefreshDelta delta
                = index::computeQuickRefreshDelta(*store, planRoots(out.plan), skipped, mounted);
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
        [this, target](Refresh out) {
            m_isQuickRefreshing = false;
            if (target)
                planResolved(*target, std::move(out.plan));
            if (out.planChanged) {
                if (target)
                    checkLibrary(*target);
                return;
            }
            if (out.changed) {
                libraryChanged(out.removed, out.reindexed, out.added);
                saveCacheInBackground();
            }
            emit quickRefreshFinished(out.changed);
        },
        kBackground);
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
