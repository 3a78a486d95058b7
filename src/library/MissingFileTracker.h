#pragma once

// Which library paths are known to be missing (the browser greys them out) and the queue of
// prompts about them, shown one at a time. Main thread only.

#include "index/IndexScan.h"
#include "library/SyncIssue.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

namespace kivo::library {

class MissingFileTracker : public QObject {
    Q_OBJECT
    Q_PROPERTY(QStringList missingPaths READ missingPathList NOTIFY missingPathsChanged)
    Q_PROPERTY(int promptCount READ promptCount NOTIFY promptQueueChanged)
public:
    enum class ItemKind { file, folder };
    // True when a volume is mounted exactly at the given path.
    using VolumeMounted = std::function<bool(const QString&)>;
    using PathExists = std::function<bool(const QString&)>;

    explicit MissingFileTracker(QObject* parent = nullptr);

    // Tests stand in for the mount table and the disk.
    void setVolumeMounted(VolumeMounted fn) { m_volumeMounted = std::move(fn); }
    void setPathExists(PathExists fn) { m_pathExists = std::move(fn); }

    const QSet<QString>& missingPaths() const { return m_missingPaths; }
    QStringList missingPathList() const;
    bool isMissing(const QString& path) const { return m_missingPaths.contains(path); }
    // The path or a folder above it is missing; the nearest such path goes to `missingAncestor`.
    bool isUnderMissing(const QString& path, QString* missingAncestor = nullptr) const;
    // Why the path is greyed out ("Can't locate Drums", "Drive A can't be reached", "Share isn't
    // answering"); empty when neither it nor a folder above it is missing or not answering.
    QString whyMissing(const QString& path) const;
    // Roots whose folder does not answer (a share that hangs): greyed, never prompted about, and
    // not missing; each resolution of the roots replaces the set.
    const QSet<QString>& notAnsweringPaths() const { return m_notAnsweringPaths; }
    bool isNotAnswering(const QString& path) const { return m_notAnsweringPaths.contains(path); }
    void setNotAnsweringPaths(const QStringList& paths);
    const QList<SyncIssue>& promptQueue() const { return m_promptQueue; }
    int promptCount() const { return int(m_promptQueue.size()); }
    const QSet<QString>& skippedPromptPaths() const { return m_skippedPromptPaths; }
    const QStringList& syncedRootPaths() const { return m_syncedRootPaths; }
    void setSyncedRootPaths(const QStringList& roots) { m_syncedRootPaths = roots; }
    quint64 generation() const { return m_generation; }

    // Classifies a path that could not be found and queues its issue.
    void reportMissing(const QString& path, ItemKind kind);
    // The issue reportMissing would queue, without changing anything; the second path is the
    // topmost missing folder when there is one.
    SyncIssue classify(const QString& path, ItemKind kind, QString* topmostFolder = nullptr) const;
    // Ignored when the check started under an older generation.
    void applyCheckResult(const SyncCheckResult& result);
    void skipCurrent();
    void skipAll();
    void resolve(const QString& path);
    void markFound(const QString& path);
    void reset();
    // The other unresolved roots of the plan beside the missing root (same parent folder).
    QStringList relocationCandidates(const QString& path, const std::vector<index::ScanGroup>& plan) const;

signals:
    void missingPathsChanged();
    void promptQueueChanged();

private:
    bool exists(const QString& path) const;
    bool volumeMounted(const QString& path) const;
    // Appends unless skipped or already queued; true when appended.
    bool enqueue(const SyncIssue& issue);

    QSet<QString> m_missingPaths;
    QSet<QString> m_notAnsweringPaths;
    QList<SyncIssue> m_promptQueue;
    QSet<QString> m_skippedPromptPaths;
    QStringList m_syncedRootPaths;
    quint64 m_generation = 0;
    VolumeMounted m_volumeMounted;
    PathExists m_pathExists;
};

// What reportMissing would queue for `path`, given the synced roots, the disk and the mounted volumes;
// free of the tracker so a background check can classify what it finds.
SyncIssue classifyMissing(const QString& path, MissingFileTracker::ItemKind kind, const QStringList& roots,
    const MissingFileTracker::PathExists& exists, const MissingFileTracker::VolumeMounted& mounted,
    QString* topmostFolder = nullptr);

// The parent of an absolute path: "/" for a top-level entry, empty for a path without "/".
QString parentPath(const QString& path);
// True when `path` equals `root` or lies below it.
bool isPathUnder(const QString& path, const QString& root);

} // namespace kivo::library
