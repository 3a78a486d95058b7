#pragma once

// The observable driver of the library index: loads the cache at start, takes the launch decision,
// runs full builds, incremental syncs, silent background rebuilds and quick refreshes as
// cancellable background work, and publishes their progress on the main thread. At most one sync
// runs at a time; both ways of starting one return at once while another runs. Main thread only.

#include "index/CacheIndexStore.h"
#include "index/IndexStoreScan.h"
#include "library/LibraryCheck.h"
#include "library/SyncPlan.h"
#include "platform/Clock.h"

#include <QObject>
#include <QPair>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <set>

namespace kivo::platform {
class TaskRunner;
} // namespace kivo::platform

namespace kivo::library {

class MissingFileTracker;
class SyncSettings;
class UserSettings;
class LibraryIndexManager;

inline constexpr char kLibraryFileRemovedNotification[] = "LibraryFileRemoved";

struct LibraryIndexManagerOptions {
    index::CacheIndexStoreOptions store; // postToMainThread is filled in when empty
    index::ScanOptions scan;
    platform::Clock* clock = nullptr; // the system clock when empty
    MissingFileTracker* tracker = nullptr; // required
    SyncSettings* syncSettings = nullptr; // required
    index::MountedVolumes mountedVolumes; // /proc/self/mountinfo when empty
    std::function<std::set<std::string>()> skippedRoots; // none skipped when empty
    // Removes the preference keys of the older in-preferences cache; called on the main thread when
    // the cache load starts.
    std::function<void()> removeLegacyPreferences;
    // The workspace manager's busy flag follows isInitializing.
    std::function<void(bool)> indexBusyChanged;
    std::function<bool()> workspaceChangeInProgress;
    // Stands in for the missing and moved root check (tests of the driver's own timing).
    std::function<void(LibraryIndexManager&, UserSettings&, const SyncSettings&)> checkLibrary;
    // Stands in for the moved-root detection: roots whose folders moved (old path, new path).
    std::function<QList<QPair<QString, QString>>(UserSettings&)> detectMovedRoots;
};

class LibraryIndexManager : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isInitializing READ isInitializing NOTIFY isInitializingChanged)
    Q_PROPERTY(double initializationProgress READ initializationProgress NOTIFY initializationProgressChanged)
    Q_PROPERTY(bool isLoadingFromCache READ isLoadingFromCache NOTIFY isLoadingFromCacheChanged)
    Q_PROPERTY(bool canCancelSync READ canCancelSync NOTIFY canCancelSyncChanged)
    Q_PROPERTY(QString progressText READ progressText NOTIFY indexProgressChanged)

public:
    // Starts loading the cache file at once. Background work runs on `tasks`, which outlives this.
    LibraryIndexManager(
        platform::TaskRunner& tasks, LibraryIndexManagerOptions options, QObject* parent = nullptr);
    ~LibraryIndexManager() override; // cancels a running sync; what is still running finishes on its own

    bool isInitializing() const { return m_isInitializing; }
    double initializationProgress() const { return m_initializationProgress; }
    const std::optional<index::IndexProgress>& indexProgress() const { return m_indexProgress; }
    bool isLoadingFromCache() const { return m_isLoadingFromCache; }
    bool canCancelSync() const { return m_canCancelSync; }
    QString progressText() const { return syncProgressText(m_indexProgress); }

    index::CacheIndexStore& store() { return *m_store; }
    std::shared_ptr<index::CacheIndexStore> sharedStore() { return m_store; }
    const index::GroupRoots& cachedRootsByGroup() const { return m_cachedRootsByGroup; }
    bool hasData() const { return m_hasData; }
    // Seconds since 2001-01-01 UTC, the cache file's scale.
    std::optional<double> lastCacheUpdate() const { return m_lastCacheUpdate; }
    double cacheMaxAge() const { return m_cacheMaxAge; }
    bool isCacheLoaded() const { return m_cacheLoaded; }
    std::optional<QPair<int, QStringList>> pendingImport() const { return m_pendingImport; }
    QList<QPair<QString, QString>>& pendingMovedNotices() { return m_pendingMovedNotices; }
    bool isQuickRefreshing() const { return m_isQuickRefreshing; }
    double quickRefreshMinInterval() const { return m_quickRefreshMinInterval; }

    // When the window first appears: the launch decision when the cache may be used, else a
    // rebuild from disk.
    void windowDidAppear(UserSettings& settings);
    void initialize(UserSettings& settings, bool forceRebuild = false);
    void rebuild(UserSettings& settings, bool animate);
    void startSync(UserSettings& settings, bool animate, bool followUp);
    void clearAndRebuild(UserSettings& settings, bool animate);
    void setPendingImport(const QStringList& paths, int collectionIndex);
    // New roots were stored with setPendingImport: sync them into a usable index, or rebuild a
    // stale or empty one.
    void rootsAdded(UserSettings& settings);
    void syncNow(UserSettings& settings);
    void checkLibrary(UserSettings& settings);
    bool isChecking() const { return m_checksRunning > 0; }
    // Every store that keys records by path registers here; a relocation or a moved root rewrites
    // every path equal to the old one or below it so that it lies below the new one.
    using PathRewriter = std::function<void(const QString& oldPath, const QString& newPath)>;
    void addPathRewriter(PathRewriter rewriter) { m_pathRewriters.push_back(std::move(rewriter)); }
    // The user chose the new place of a missing root: a new bookmark in every collection, every
    // path-keyed store and the index rewritten, then each of `candidates` (other missing roots that
    // lay beside it) found inside `newPath`'s parent is relocated the same way. The folders are
    // asked about in the background; `done` gets false when no bookmark could be made for the new
    // folder (nothing changed then).
    void relocate(UserSettings& settings, const QString& oldPath, const QString& newPath,
        const QStringList& candidates = {}, std::function<void(bool)> done = {});
    // Disk work for the relocation panel, answered on the main thread.
    void inspectInBackground(std::function<bool()> work, std::function<void(bool)> done);
    // The other unresolved roots of the collections beside a missing root, as the roots were last
    // resolved (the disk is not asked).
    QStringList relocationCandidates(const QString& path) const;
    // Removable media: an unmount marks the drive's roots unreachable at once (the index keeps
    // them); a mount clears the drive's issues and refreshes its roots.
    void volumeUnmounted(const QString& volume);
    void volumeMounted(UserSettings& settings, const QString& volume);
    void removeRoots(const QStringList& paths, const QUuid& collectionID);
    // The plan holds a resolved root the index does not cover yet.
    bool rootsChangedIn(const std::vector<index::ScanGroup>& plan) const;
    // The roots as last resolved (by a sync, a check, a refresh or a launch).
    const std::vector<index::ScanGroup>& lastPlan() const { return m_lastPlan; }
    void quickRefresh(UserSettings& settings);
    QList<QUuid> groupsContaining(const QString& path) const;
    // The sync pop-up's Cancel.
    void cancelSync();

    // Runs `fn` on the main thread once the cache load has finished (at once when it has).
    void whenCacheLoaded(std::function<void()> fn);

signals:
    void isInitializingChanged();
    void initializationProgressChanged();
    void indexProgressChanged();
    void isLoadingFromCacheChanged();
    void canCancelSyncChanged();
    void cacheLoaded();
    void syncFinished();
    // A sync or an import was cancelled: the window shows this pop-up.
    void syncCancelled(const kivo::library::SyncCancellationAlert& alert);
    void quickRefreshFinished(bool changed);
    // "Sync now" found the library as it is on disk: no sync was needed.
    void syncFoundNothingToDo();
    // A missing and moved root check was applied to the tracker.
    void libraryChecked();
    // A relocation rewrote the index: the browser shows the new place.
    void rootRelocated(const QString& oldPath, const QString& newPath);

private:
    enum class Operation { fullBuild, sync };
    void startSyncTask(
        UserSettings& settings, Operation operation, bool animate, bool followUp, bool clearFirst);
    void syncDidFinish(const index::GroupRoots& roots, UserSettings& settings, bool animate, bool followUp);
    void syncDidCancel(UserSettings& settings, bool resetAnimation);
    void silentRebuild(UserSettings& settings);
    // Resolves the roots (and finds moved ones when path updates are on) on the task runner; the
    // moved roots are followed and `done` gets the plan on the main thread (with null settings when
    // they are gone).
    void surveyRoots(UserSettings& settings, std::function<void(UserSettings*, RootSurvey)> done);
    void followMovedRoots(UserSettings& settings, const QList<MovedRoot>& moved,
        const QHash<QString, QByteArray>& bookmarks, bool notice);
    // Every resolved plan that reaches the main thread: roots that do not answer are shown so and
    // asked about again later.
    void planResolved(UserSettings& settings, std::vector<index::ScanGroup> plan);
    void retryStalledRootsLater(UserSettings& settings);
    struct RootMove {
        QString from;
        QString to;
        QByteArray bookmark;
    };
    // The settings and stores follow at once; the index follows in one background task, one root
    // after another, so that it holds every move by the time it reports.
    void relocateRoots(UserSettings& settings, const std::vector<RootMove>& moves);
    void libraryChanged(const QStringList& removed, bool reindexed, const QStringList& added);
    void saveCacheInBackground();
    void setCachedRoots(const index::GroupRoots& roots);
    void setIsInitializing(bool value);
    void setInitializationProgress(double value);
    void setIndexProgress(const std::optional<index::IndexProgress>& value);
    void setIsLoadingFromCache(bool value);
    void setCanCancelSync(bool value);
    double referenceNow() const;
    MissingFileTracker& tracker() const;
    SyncSettings& syncSettings() const;
    static std::vector<std::string> planRoots(const std::vector<index::ScanGroup>& plan);

    platform::TaskRunner& m_tasks;
    LibraryIndexManagerOptions m_options;
    platform::Clock* m_clock;
    std::shared_ptr<index::CacheIndexStore> m_store;

    bool m_isInitializing = false;
    double m_initializationProgress = 0.0;
    std::optional<index::IndexProgress> m_indexProgress;
    bool m_isLoadingFromCache = false;
    bool m_canCancelSync = false;
    std::optional<index::CancelHandle> m_indexTask;
    std::optional<index::CancelHandle> m_silentRebuild;
    index::CancelHandle m_quickRefreshTask; // cancelled only when the manager goes
    quint64 m_syncGeneration = 0;
    std::optional<QPair<int, QStringList>> m_pendingImport;
    index::GroupRoots m_cachedRootsByGroup;
    bool m_hasData = false;
    std::optional<double> m_lastCacheUpdate;
    double m_cacheMaxAge = 86400;
    bool m_cacheLoaded = false;
    std::vector<std::function<void()>> m_afterLoad;
    bool m_launchPending = false;
    QList<QPair<QString, QString>> m_pendingMovedNotices;
    std::optional<double> m_lastQuickRefresh; // monotonic seconds
    bool m_isQuickRefreshing = false;
    double m_quickRefreshMinInterval = 8;
    int m_checksRunning = 0;
    std::set<std::string> m_lastPlanState; // the roots the last check resolved and could not
    std::vector<index::ScanGroup> m_lastPlan;
    std::shared_ptr<platform::Clock::Timer> m_stalledRetry;
    std::vector<PathRewriter> m_pathRewriters;
};

} // namespace kivo::library
