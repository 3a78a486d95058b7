#include "library/SyncPlan.h"

#include "platform/FolderBookmark.h"

#include <QLocale>

#include <cstdio>

namespace kivo::library {

index::GroupID indexGroupID(const QUuid& id)
{
    return canonicalIdText(id).toStdString();
}

bool isTrashedRoot(const QString& path)
{
    return index::isInTrash(path.toStdString());
}

std::vector<index::ScanGroup> buildSyncPlan(const BookmarkGroupList& groups)
{
    // Every root is asked about at once, so stalled roots wait one bound in all. One that does not
    // answer in time is planned unresolved and stalled: kept as the index knew it, not read, and not
    // reported missing; the others are synced meanwhile.
    QList<QByteArray> bookmarks;
    for (const BookmarkGroup& group : groups)
        bookmarks.append(group.paths);
    std::vector<bool> notAnswering;
    const std::vector<std::optional<platform::ResolvedBookmark>> resolved
        = platform::FolderBookmark::resolveAll(bookmarks, &notAnswering);
    std::vector<index::ScanGroup> plan;
    plan.reserve(std::size_t(groups.size()));
    std::size_t next = 0;
    for (const BookmarkGroup& group : groups) {
        index::ScanGroup entry;
        entry.groupID = indexGroupID(group.id);
        for (const QByteArray& bookmark : group.paths) {
            const bool stalled = notAnswering[next];
            if (const auto& root = resolved[next++]; root && !isTrashedRoot(root->path)) {
                entry.urls.push_back(root->path.toStdString());
                continue;
            }
            if (std::optional<QString> stored = platform::FolderBookmark::storedPath(bookmark)) {
                entry.unresolvedPaths.push_back(stored->toStdString());
                if (stalled)
                    entry.stalledPaths.push_back(stored->toStdString());
            }
        }
        plan.push_back(std::move(entry));
    }
    return plan;
}

std::vector<std::string> stalledRoots(const std::vector<index::ScanGroup>& plan)
{
    std::vector<std::string> out;
    for (const index::ScanGroup& group : plan)
        for (const std::string& root : group.stalledPaths)
            if (std::find(out.begin(), out.end(), root) == out.end())
                out.push_back(root);
    return out;
}

namespace {

QLocale groupingLocale()
{
    // The C locale has no digit grouping; counts of samples read better with it.
    const QLocale system = QLocale::system();
    return system.language() == QLocale::C ? QLocale(QLocale::English) : system;
}

} // namespace

QString syncProgressText(const std::optional<index::IndexProgress>& progress)
{
    const index::IndexProgress p = progress.value_or(index::IndexProgress {});
    if (!p.scanning && p.fraction >= 1.0)
        return QStringLiteral("Sync completed");
    if (p.scanning) {
        if (p.folders < 1)
            return QStringLiteral("Preparing\u2026");
        return QStringLiteral("Scanning %1 folders\u2026").arg(p.folders);
    }
    if (p.total < 1)
        return QStringLiteral("Preparing\u2026");
    const QLocale locale = groupingLocale();
    return QStringLiteral("Indexing %1 of %2 samples")
        .arg(locale.toString(qlonglong(p.processed)), locale.toString(qlonglong(p.total)));
}

SyncCancellationAlert syncCancellationAlert(const QStringList& removedFolderNames)
{
    SyncCancellationAlert alert;
    if (removedFolderNames.isEmpty()) {
        alert.title = QStringLiteral("Sync cancelled");
        alert.text = QStringLiteral("The sync was cancelled. Your library may not be up to date.");
        alert.offersResync = true;
    } else if (removedFolderNames.size() == 1) {
        alert.title = QStringLiteral("Import cancelled");
        alert.text
            = QStringLiteral("The indexing of \u201c%1\u201d was cancelled and the folder has been removed "
                             "from the browser.")
                  .arg(removedFolderNames.first());
    } else {
        alert.title = QStringLiteral("Import cancelled");
        alert.text
            = QStringLiteral("The indexing of %1 folders was cancelled and they have been removed from the "
                             "browser.")
                  .arg(removedFolderNames.size());
    }
    return alert;
}

} // namespace kivo::library
