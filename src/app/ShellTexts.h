#pragma once

// The texts of the window's pop-ups, composed from their parts.

#include "index/IndexRecords.h"

#include <QLocale>
#include <QString>
#include <QStringList>

namespace kivo::app {

struct AlertText {
    QString title;
    QString text;
};

// The sync pop-up's line for the latest progress report.
QString syncProgressText(const index::IndexProgress& progress, const QLocale& locale = QLocale());
// Shown when a sync ends by cancellation: none of the roots removed, or the names of those
// removed from a cancelled import.
AlertText syncCancelledAlert(const QStringList& removedFolderNames);

} // namespace kivo::app
