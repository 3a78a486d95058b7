#pragma once

// The user's workspaces: independent sets of collections, settings, tags, hidden items, overrides
// and hotkeys. The live one is the preference store's managed keys; each other one waits in its
// workspace file (a backup, see WorkspaceBackup.h). A switch stores the live keys in the active
// file, applies the target's, makes every store reload and rebuilds the index. Disk work runs
// through the background hook, one job at a time in order; everything else on the main thread.

#include "library/WorkspaceBackup.h"

#include <QList>
#include <QMetaObject>
#include <QObject>
#include <QString>
#include <QUuid>

#include <deque>
#include <functional>
#include <memory>
#include <optional>

namespace kivo::platform {
class Clock;
class PreferenceStore;
} // namespace kivo::platform

namespace kivo::library {

inline constexpr char kWorkspaceRegistryKey[] = "WorkspaceRegistry";
inline constexpr char kActiveWorkspaceIDKey[] = "ActiveWorkspaceID";
inline constexpr char kWorkspaceDidLoadNotification[] = "WorkspaceDidLoad";
inline constexpr char kStopAudioNotification[] = "stopAudioNotification";

struct Workspace {
    QUuid id;
    QString name;
    bool operator==(const Workspace&) const = default;
};

// The registry's JSON form: an array of {"id": canonical UUID text, "name": ...}. Empty when the
// data is not such an array (entries without a valid id or name are dropped).
QList<Workspace> decodeWorkspaceRegistry(const QByteArray& json);
QByteArray encodeWorkspaceRegistry(const QList<Workspace>& workspaces);
// Upper-case UUID text without braces.
QString canonicalUuid(const QUuid& id);

// A piece of disk work for a background thread; what it returns runs on the main thread after.
using WorkspaceJob = std::function<std::function<void()>()>;

struct WorkspaceManagerOptions {
    // Where workspace files live; the user's "KIVO Browser/Workspaces" data folder when empty.
    QString folder;
    platform::Clock* clock = nullptr; // the system clock when empty
    // Required: runs a job off the main thread and its result on the main thread.
    std::function<void(WorkspaceJob)> background;
    // Reloads UserSettings, SyncSettings, HiddenFileManager, MetadataOverrideStore, TagStore and
    // HotkeyManager from the preference store, in this order.
    std::function<void()> reloadStores;
    // Forgets the missing-root tracker's paths and prompts (a new generation).
    std::function<void()> resetMissingTracker;
    // Clears and rebuilds the index for the reloaded collections.
    std::function<void()> rebuildIndex;
    PathExists exists; // the file system when empty (tests stand in)
};

class WorkspaceManager : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isLoading READ isLoading NOTIFY isLoadingChanged)
public:
    static constexpr double kBodyDelay = 0.25;
    static constexpr double kLoadTimeout = 12.0;

    // Reads the registry; on the first run the current state becomes "Workspace 1".
    WorkspaceManager(
        platform::PreferenceStore& store, WorkspaceManagerOptions options, QObject* parent = nullptr);
    ~WorkspaceManager() override;

    // $XDG_DATA_HOME (default ~/.local/share) + "/KIVO Browser/Workspaces", the temporary folder
    // when there is no home.
    static QString defaultFolder();

    bool isLoading() const { return m_isLoading; }
    bool indexBusy() const { return m_indexBusy; }
    // Follows the sync driver's isInitializing.
    void setIndexBusy(bool busy);
    bool isBusy() const { return m_isLoading || m_indexBusy; }

    const QList<Workspace>& workspaces() const { return m_workspaces; }
    QUuid activeID() const { return m_activeID; }
    std::optional<Workspace> activeWorkspace() const;
    QString filePath(const QUuid& id) const;
    quint64 loadGeneration() const { return m_loadGeneration; }

    QString uniqueName(const QString& base) const;

    // The guarded changes: false (nothing happens) while a change or a sync is running; the caller
    // tells the user. Choosing the active workspace does nothing (true).
    bool switchTo(const QUuid& id);
    bool newWorkspace(const QString& name);
    // `data` must be a valid backup (checked again: an invalid one changes nothing, false).
    bool importWorkspace(const QByteArray& data, const QString& name);
    // Copies `id`'s file to a new workspace named uniqueName(name); the active one stays.
    // `done` gets false when the file could not be copied (nothing is added).
    void duplicateWorkspace(const QUuid& id, const QString& name, std::function<void(bool)> done = {});
    // Trimmed; blank names are ignored.
    void renameWorkspace(const QUuid& id, const QString& name);
    // Ignored with fewer than two workspaces; false when deleting the active one is refused as busy.
    bool deleteWorkspace(const QUuid& id);

    // The live state as a backup, written to `path` atomically; `done` gets whether it was written.
    void exportTo(const QString& path, std::function<void(bool)> done);
    // Reads and checks a backup file in the background; `done` gets its bytes, or none when the
    // file cannot be read or is not a valid backup.
    void readBackupFile(const QString& path, std::function<void(std::optional<QByteArray>)> done);

signals:
    void isLoadingChanged();
    // isBusy() may have changed.
    void busyChanged();
    void workspacesChanged();

private:
    using Body = std::function<void(std::function<void()> finished)>;
    bool changeWorkspace(Body body);
    void afterBody();
    void finishLoading(quint64 generation);
    void saveRegistry();
    void setLoading(bool loading);
    // Queues disk work; jobs run one after another so writes to one file never overtake each other.
    void runDisk(WorkspaceJob job);
    void runNextDisk();
    // The live keys, to be written to the active file by a disk job.
    QVariantMap liveValues() const;
    void applyOrClear(const std::optional<QVariantMap>& values);

    platform::PreferenceStore& m_store;
    WorkspaceManagerOptions m_options;
    platform::Clock* m_clock;
    QList<Workspace> m_workspaces;
    QUuid m_activeID;
    bool m_isLoading = false;
    bool m_indexBusy = false;
    quint64 m_loadGeneration = 0;
    QMetaObject::Connection m_loadToken;
    std::deque<WorkspaceJob> m_diskJobs;
    bool m_diskRunning = false;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

// Writes `bytes` to `path` through a temporary file and a rename; false when it failed.
bool writeFileAtomically(const QString& path, const QByteArray& bytes);

} // namespace kivo::library
