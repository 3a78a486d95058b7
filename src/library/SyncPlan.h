#pragma once

// What a sync works from and what its pop-up says: the plan of resolved and unresolved roots per
// collection, the progress line, and the pop-up shown when a sync or an import is cancelled.

#include "index/IndexRecords.h"
#include "index/IndexScan.h"
#include "library/BookmarkGroup.h"

#include <QMetaType>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace kivo::library {

// The index keys collections by the canonical text of their id.
index::GroupID indexGroupID(const QUuid& id);

// One entry per collection, in collection order. A bookmark that resolves to a folder outside any
// trash is a root to scan; otherwise its recorded path (when it has one) is unresolved and left to
// the missing-root check, unless its folder did not answer in time (stalled). Asks the disk with a
// bound: background threads only.
std::vector<index::ScanGroup> buildSyncPlan(const BookmarkGroupList& groups);
// Every stalled root of the plan, each once.
std::vector<std::string> stalledRoots(const std::vector<index::ScanGroup>& plan);

// A component of the path is ".Trash" or ".Trashes", or the path lies in the desktop's trash folder.
bool isTrashedRoot(const QString& path);

// The sync pop-up's status line for the latest progress report.
QString syncProgressText(const std::optional<index::IndexProgress>& progress);

inline constexpr char kAttemptResyncButton[] = "Attempt re-sync";
inline constexpr char kDismissButton[] = "Dismiss";
inline constexpr char kOKButton[] = "OK";

struct SyncCancellationAlert {
    QString title;
    QString text;
    // "Attempt re-sync" and "Dismiss" when true, else a single "OK".
    bool offersResync = false;
};

// `removedFolderNames`: the last path components of the roots a cancelled import took away.
SyncCancellationAlert syncCancellationAlert(const QStringList& removedFolderNames);

} // namespace kivo::library

Q_DECLARE_METATYPE(kivo::library::SyncCancellationAlert)
