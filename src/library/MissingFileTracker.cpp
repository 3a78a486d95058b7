#include "library/MissingFileTracker.h"

#include "index/QuickRefresh.h"
#include "library/SyncIssuePrompt.h"
#include "platform/MainThread.h"

#include <QFileInfo>
#include <QStorageInfo>

namespace kivo::library {

namespace {

// Prompts are skipped by category; a missing file and a missing folder count as one.
int skipCategory(SyncIssue::Kind kind)
{
    switch (kind) {
    case SyncIssue::Kind::missingFile:
    case SyncIssue::Kind::missingFolder:
        return 0;
    case SyncIssue::Kind::unreachableDrive:
        return 1;
    case SyncIssue::Kind::movedFolder:
        return 2;
    }
    return 0;
}

std::optional<QString> removableVolume(const QString& path)
{
    if (const auto volume = index::removableVolumeOf(path.toStdString()))
        return QString::fromStdString(*volume);
    return std::nullopt;
}

} // namespace

QString parentPath(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    if (slash < 0)
        return {};
    if (slash == 0)
        return path.size() > 1 ? QStringLiteral("/") : QString();
    return path.left(slash);
}

bool isPathUnder(const QString& path, const QString& root)
{
    return path == root || (path.startsWith(root) && path.size() > root.size() && path[root.size()] == u'/');
}

MissingFileTracker::MissingFileTracker(QObject* parent)
    : QObject(parent)
{
}

QStringList MissingFileTracker::missingPathList() const
{
    KIVO_MAIN_THREAD();
    QStringList list(m_missingPaths.begin(), m_missingPaths.end());
    list.sort();
    return list;
}

bool MissingFileTracker::exists(const QString& path) const
{
    return m_pathExists ? m_pathExists(path) : QFileInfo::exists(path);
}

bool MissingFileTracker::volumeMounted(const QString& path) const
{
    if (m_volumeMounted)
        return m_volumeMounted(path);
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        if (volume.rootPath() == path)
            return true;
    }
    return false;
}

SyncIssue MissingFileTracker::classify(const QString& path, ItemKind kind, QString* topmostFolder) const
{
    KIVO_MAIN_THREAD();
    return classifyMissing(
        path, kind, m_syncedRootPaths, [this](const QString& p) { return exists(p); },
        [this](const QString& p) { return volumeMounted(p); }, topmostFolder);
}

SyncIssue classifyMissing(const QString& path, MissingFileTracker::ItemKind kind, const QStringList& roots,
    const MissingFileTracker::PathExists& exists, const MissingFileTracker::VolumeMounted& mounted,
    QString* topmostFolder)
{
    using ItemKind = MissingFileTracker::ItemKind;
    if (topmostFolder)
        topmostFolder->clear();
    // A path on removable media whose drive is gone: the drive is the issue, not the path.
    if (const auto volume = removableVolume(path); volume && !mounted(*volume))
        return { SyncIssue::Kind::unreachableDrive, *volume, std::nullopt };

    QString root;
    for (const QString& candidate : roots) {
        if (isPathUnder(path, candidate) && candidate.size() > root.size())
            root = candidate;
    }
    if (!root.isEmpty() && root == path) {
        if (topmostFolder)
            *topmostFolder = path;
        return { SyncIssue::Kind::missingFolder, path, std::nullopt };
    }

    if (kind == ItemKind::file) {
        const QString parent = parentPath(path);
        if (parent.isEmpty() || parent == u"/" || exists(parent))
            return { SyncIssue::Kind::missingFile, path, std::nullopt };
    }

    // The highest folder that is gone, without climbing above the root.
    QString current = kind == ItemKind::folder ? path : parentPath(path);
    while (current != root) {
        const QString parent = parentPath(current);
        if (parent == current || parent == u"/" || parent.isEmpty() || exists(parent))
            break;
        current = parent;
    }
    if (topmostFolder)
        *topmostFolder = current;
    if (removableVolume(current) == current)
        return { SyncIssue::Kind::unreachableDrive, current, std::nullopt };
    return { SyncIssue::Kind::missingFolder, current, std::nullopt };
}

bool MissingFileTracker::isUnderMissing(const QString& path, QString* missingAncestor) const
{
    if (m_missingPaths.isEmpty())
        return false;
    QString current = path;
    while (!current.isEmpty()) {
        if (m_missingPaths.contains(current)) {
            if (missingAncestor)
                *missingAncestor = current;
            return true;
        }
        const QString parent = parentPath(current);
        if (parent == current || parent == u"/")
            break;
        current = parent;
    }
    return false;
}

bool MissingFileTracker::enqueue(const SyncIssue& issue)
{
    if (m_skippedPromptPaths.contains(issue.path))
        return false;
    for (const SyncIssue& queued : m_promptQueue) {
        if (queued.path == issue.path)
            return false;
    }
    m_promptQueue.append(issue);
    return true;
}

void MissingFileTracker::reportMissing(const QString& path, ItemKind kind)
{
    KIVO_MAIN_THREAD();
    QString topmost;
    const SyncIssue issue = classify(path, kind, &topmost);
    const qsizetype before = m_missingPaths.size();
    m_missingPaths.insert(path);
    if (issue.kind == SyncIssue::Kind::missingFolder)
        m_missingPaths.insert(issue.path);
    if (m_missingPaths.size() != before)
        emit missingPathsChanged();
    if (enqueue(issue))
        emit promptQueueChanged();
}

QString MissingFileTracker::whyMissing(const QString& path) const
{
    for (const QString& root : m_notAnsweringPaths)
        if (isPathUnder(path, root))
            return notAnsweringReason(root);
    QString ancestor;
    if (!isUnderMissing(path, &ancestor))
        return {};
    if (const auto volume = removableVolume(path); volume && m_missingPaths.contains(*volume))
        return missingReason(SyncIssue::Kind::unreachableDrive, *volume);
    return missingReason(SyncIssue::Kind::missingFolder, ancestor);
}

void MissingFileTracker::setNotAnsweringPaths(const QStringList& paths)
{
    KIVO_MAIN_THREAD();
    QSet<QString> set(paths.begin(), paths.end());
    if (set == m_notAnsweringPaths)
        return;
    m_notAnsweringPaths = std::move(set);
    // The browser greys by the same signal as for missing paths.
    emit missingPathsChanged();
}

void MissingFileTracker::applyCheckResult(const SyncCheckResult& result)
{
    KIVO_MAIN_THREAD();
    if (result.generation != m_generation)
        return;
    // Paths found missing earlier (by playback, say) stay marked until resolved or found; roots and
    // drives the check saw again are found.
    bool missingChanged = false;
    bool queueChanged = false;
    for (const QString& path : result.presentPaths) {
        missingChanged = m_missingPaths.remove(path) || missingChanged;
        queueChanged = m_promptQueue.removeIf([&](const SyncIssue& issue) { return issue.path == path; }) > 0
            || queueChanged;
    }
    const qsizetype before = m_missingPaths.size();
    for (const QString& path : result.missingPaths)
        m_missingPaths.insert(path);
    if (missingChanged)
        emit missingPathsChanged();
    if (queueChanged)
        emit promptQueueChanged();
    bool queued = false;
    for (const SyncIssue& issue : result.issues)
        queued = enqueue(issue) || queued;
    if (m_missingPaths.size() != before)
        emit missingPathsChanged();
    if (queued)
        emit promptQueueChanged();
}

void MissingFileTracker::skipCurrent()
{
    KIVO_MAIN_THREAD();
    if (m_promptQueue.isEmpty())
        return;
    m_skippedPromptPaths.insert(m_promptQueue.takeFirst().path);
    emit promptQueueChanged();
}

void MissingFileTracker::skipAll()
{
    KIVO_MAIN_THREAD();
    if (m_promptQueue.isEmpty())
        return;
    const int category = skipCategory(m_promptQueue.first().kind);
    m_promptQueue.removeIf([&](const SyncIssue& issue) {
        if (skipCategory(issue.kind) != category)
            return false;
        m_skippedPromptPaths.insert(issue.path);
        return true;
    });
    emit promptQueueChanged();
}

void MissingFileTracker::resolve(const QString& path)
{
    KIVO_MAIN_THREAD();
    const auto below = [&](const QString& p) { return isPathUnder(p, path); };
    const bool missingChanged = m_missingPaths.removeIf(below) > 0;
    m_skippedPromptPaths.removeIf(below);
    const bool queueChanged
        = m_promptQueue.removeIf([&](const SyncIssue& issue) { return below(issue.path); }) > 0;
    if (missingChanged)
        emit missingPathsChanged();
    if (queueChanged)
        emit promptQueueChanged();
}

void MissingFileTracker::markFound(const QString& path)
{
    KIVO_MAIN_THREAD();
    if (m_missingPaths.remove(path))
        emit missingPathsChanged();
    if (m_promptQueue.removeIf([&](const SyncIssue& issue) { return issue.path == path; }) > 0)
        emit promptQueueChanged();
}

void MissingFileTracker::reset()
{
    KIVO_MAIN_THREAD();
    ++m_generation;
    const bool hadMissing = !m_missingPaths.isEmpty();
    const bool hadQueue = !m_promptQueue.isEmpty();
    m_missingPaths.clear();
    m_promptQueue.clear();
    m_skippedPromptPaths.clear();
    if (hadMissing)
        emit missingPathsChanged();
    if (hadQueue)
        emit promptQueueChanged();
}

QStringList MissingFileTracker::relocationCandidates(
    const QString& path, const std::vector<index::ScanGroup>& plan) const
{
    KIVO_MAIN_THREAD();
    const QString parent = parentPath(path);
    if (parent.size() < 2)
        return {};
    QStringList candidates;
    for (const index::ScanGroup& group : plan) {
        for (const std::string& unresolved : group.unresolvedPaths) {
            const QString other = QString::fromStdString(unresolved);
            if (other != path && parentPath(other) == parent && !candidates.contains(other))
                candidates.append(other);
        }
    }
    return candidates;
}

} // namespace kivo::library
