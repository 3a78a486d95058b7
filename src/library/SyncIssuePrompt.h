#pragma once

// What the issue pop-up says and offers for the first queued issue, and the words of relocation:
// its panel's message, its three refusals, and the removal question. The window only lays them out.

#include "library/SyncIssue.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace kivo::library {

enum class IssueAction {
    attemptResync,
    relocate,
    removeFromBrowser,
    showInFileManager,
    skip,
    skipAll,
    close,
    closeAll
};

struct IssuePrompt {
    QString title;
    QString line;
    QString summary; // "3 folders missing"; empty when the shown issue is alone of its kind
    QString more; // "2 more."; empty on the last issue
    QList<IssueAction> actions;
};

// For the first issue of `queue`; `roots` tells a missing root (relocatable) from a folder inside one.
IssuePrompt issuePrompt(const QList<SyncIssue>& queue, const QStringList& roots);
QString issueActionText(IssueAction action);
// The greyed row's tooltip line for a path inside the missing one.
QString missingReason(const SyncIssue::Kind& kind, const QString& missingPath);
// The greyed line of a root whose folder does not answer.
QString notAnsweringReason(const QString& root);

// The last path component.
QString folderName(const QString& path);

// Relocation.
QString relocationMessage(const QString& name, qsizetype candidates);
QString relocationBrowsingRefusal(const QString& name);
QString relocationNoFolderRefusal(const QString& name);
QString relocationNoAudioRefusal(const QString& name);
inline constexpr char kRelocateButton[] = "Relocate";
inline constexpr char kRemoveFromBrowserTitle[] = "Remove from browser?";
QString removeFromBrowserText(const QString& name);

// A folder is a fit while the user browses when it is named like the missing root or holds a folder
// of that name; the scope is the folder of that name. Reads the disk.
bool isRelocationTarget(const QString& folder, const QString& name);
std::optional<QString> relocationScope(const QString& chosen, const QString& name);
// Any compatible file anywhere below the folder (the walk stops at the first).
bool holdsCompatibleFiles(const QString& folder);

} // namespace kivo::library
