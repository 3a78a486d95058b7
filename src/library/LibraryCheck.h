#pragma once

// The missing and moved root check of the sync driver, as work for a background thread: resolve the
// collections' bookmarks into a sync plan, pair roots that moved, run the store's missing-item check,
// and turn what it found into the tracker's issues and missing paths.

#include "index/CacheIndexStore.h"
#include "index/LibraryCheck.h"
#include "library/BookmarkGroup.h"
#include "library/SyncIssue.h"

#include <QHash>
#include <QList>
#include <QPair>
#include <QStringList>

#include <optional>
#include <vector>

namespace kivo::library {

using MovedRoot = QPair<QString, QString>; // (old path, new path)

// One bookmark of a collection: the path it recorded and where it leads now (none when it leads
// nowhere, or into the trash).
struct RootPlacement {
    QString storedPath;
    std::optional<QString> resolvedPath;
    bool notAnswering = false; // its folder did not answer in time: neither there nor missing
};
struct CollectionPlacements {
    index::GroupID groupID;
    QList<RootPlacement> roots;
};

// A bookmark whose folder is not at its recorded path but was found renamed beside it counts as
// resolved there when `confirmRename(old, new)` agrees.
QList<CollectionPlacements> placeRoots(const BookmarkGroupList& groups,
    const std::function<bool(const QString&, const QString&)>& confirmRename = {});
// The renamed folder still holds what the index knew directly inside the old one.
bool holdsIndexedContent(index::CacheIndexStore& store, const QString& oldPath, const QString& newPath);
std::vector<index::ScanGroup> syncPlanOf(const QList<CollectionPlacements>& placements);

// Per collection, a root the index covers that the plan no longer holds and a resolved root the index
// does not cover yet form a pair. Several at once are paired by the bookmark each came from: a
// bookmark that recorded a covered path and now leads to an uncovered one is that root, moved. What
// remains pairs only when exactly one covered root, gone from disk, and one new root are left.
QList<MovedRoot> detectMovedRoots(const QList<CollectionPlacements>& placements,
    const index::GroupRoots& covered, const std::function<bool(const QString&)>& exists);

struct LibraryCheckRequest {
    BookmarkGroupList collections;
    index::GroupRoots covered; // the driver's cachedRootsByGroup
    QStringList syncedRoots;
    index::LibraryCheckOptions options;
    bool notifyPathUpdates = false;
    QList<MovedRoot> pendingMovedNotices;
    quint64 generation = 0;
};

struct LibraryCheckOutcome {
    SyncCheckResult result;
    QList<MovedRoot> movedRoots; // found by this check
    QHash<QString, QByteArray> movedBookmarks; // the bookmark of each moved root's new folder
    std::vector<index::ScanGroup> plan;
};

// The collections' roots resolved into a sync plan and, when `findMoved`, the roots that moved
// (against the roots the index covers) with bookmarks for their new folders. Disk reads: background
// threads only.
struct RootSurvey {
    std::vector<index::ScanGroup> plan;
    QList<MovedRoot> movedRoots;
    QHash<QString, QByteArray> movedBookmarks;
};
RootSurvey surveyRoots(index::CacheIndexStore& store, const BookmarkGroupList& groups,
    const index::GroupRoots& covered, bool findMoved);

// Disk and store reads only; safe on any thread.
LibraryCheckOutcome runLibraryCheck(
    index::CacheIndexStore& store, const LibraryCheckRequest& request, const index::MountedVolumes& mounted);

// The issues and missing paths for the store check's findings. `notices` become moved-folder issues,
// each old path once.
SyncCheckResult checkResultOf(const index::LibraryCheckFindings& findings, const QStringList& syncedRoots,
    const QList<MovedRoot>& notices, const std::function<bool(const QString&)>& exists,
    const std::function<bool(const QString&)>& volumeMounted);

} // namespace kivo::library
