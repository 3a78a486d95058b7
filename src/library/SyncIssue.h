#pragma once

// One prompt of the missing-item pop-up: what went missing (or moved) and where.

#include <QList>
#include <QMetaType>
#include <QString>

#include <optional>

namespace kivo::library {

struct SyncIssue {
    enum class Kind { missingFile, missingFolder, unreachableDrive, movedFolder };

    Kind kind = Kind::missingFile;
    QString path; // the missing or old path
    std::optional<QString> newPath; // the new place of a moved folder

    bool operator==(const SyncIssue&) const = default;
};

// What one background check found, tagged with the tracker generation it started under.
struct SyncCheckResult {
    QList<QString> missingPaths;
    QList<SyncIssue> issues;
    // Roots and drives the check found in place: no longer missing.
    QList<QString> presentPaths;
    quint64 generation = 0;
};

} // namespace kivo::library

Q_DECLARE_METATYPE(kivo::library::SyncIssue)
