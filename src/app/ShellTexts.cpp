#include "app/ShellTexts.h"

namespace kivo::app {

QString syncProgressText(const index::IndexProgress& progress, const QLocale& locale)
{
    if (!progress.scanning && progress.fraction >= 1.0)
        return QStringLiteral("Sync completed");
    if (progress.scanning) {
        if (progress.folders < 1)
            return QStringLiteral("Preparing…");
        return QStringLiteral("Scanning %1 folders…").arg(progress.folders);
    }
    if (progress.total < 1)
        return QStringLiteral("Preparing…");
    return QStringLiteral("Indexing %1 of %2 samples")
        .arg(locale.toString(qlonglong(progress.processed)), locale.toString(qlonglong(progress.total)));
}

AlertText syncCancelledAlert(const QStringList& removedFolderNames)
{
    const auto n = removedFolderNames.size();
    if (n == 0)
        return { QStringLiteral("Sync cancelled"),
            QStringLiteral("The sync was cancelled. Your library may not be up to date.") };
    if (n == 1)
        return { QStringLiteral("Import cancelled"),
            QStringLiteral(
                "The indexing of “%1” was cancelled and the folder has been removed from the browser.")
                .arg(removedFolderNames.front()) };
    return { QStringLiteral("Import cancelled"),
        QStringLiteral(
            "The indexing of %1 folders was cancelled and they have been removed from the browser.")
            .arg(n) };
}

} // namespace kivo::app
