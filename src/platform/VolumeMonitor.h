#pragma once

// The mounted volumes and their comings and goings. The kernel flags /proc/self/mountinfo with
// POLLPRI when the mount table changes, so an exception notifier on it wakes us only then; where
// the file cannot be watched a slow timer re-reads it instead. Signals arrive on the thread the
// monitor lives on (the main thread for the shared one). Main thread only; background work that
// needs the table reads it itself with MountTable::read().

#include "platform/MountTable.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <set>
#include <string>

class QSocketNotifier;
class QTimer;

namespace kivo::platform {

class VolumeMonitor : public QObject {
    Q_OBJECT
    Q_PROPERTY(QStringList mountedVolumes READ mountedVolumes NOTIFY volumesChanged)
public:
    // Where the table comes from; none means it could not be read (the last table then stands).
    using TableSource = std::function<std::optional<MountTable>()>;
    enum class Watch { kernelEvents, timer, none };
    static constexpr int kFallbackIntervalMs = 2000;

    // Watches this process's mount table.
    explicit VolumeMonitor(QObject* parent = nullptr);
    // Tests hand in a table of their own and decide how (or whether) it is re-read; with
    // `Watch::none` only refresh() re-reads.
    VolumeMonitor(TableSource source, Watch watch, QObject* parent = nullptr);
    ~VolumeMonitor() override;

    // The mount points, sorted.
    QStringList mountedVolumes() const;
    const std::set<std::string>& mountPoints() const { return m_mountPoints; }
    bool isMounted(const QString& path) const;
    const MountTable& table() const { return m_table; }
    Watch watch() const { return m_watch; }

    // Re-reads the table now and reports what changed since the last read.
    void refresh();
    void setFallbackInterval(int milliseconds);

signals:
    void volumeMounted(const QString& path);
    void volumeUnmounted(const QString& path);
    // After the single events of one change.
    void volumesChanged();

private:
    void startWatching(Watch watch);
    void stopWatching();

    TableSource m_source;
    MountTable m_table;
    std::set<std::string> m_mountPoints;
    Watch m_watch = Watch::none;
    int m_fd = -1;
    QSocketNotifier* m_notifier = nullptr;
    QTimer* m_timer = nullptr;
    int m_intervalMs = kFallbackIntervalMs;
};

} // namespace kivo::platform
