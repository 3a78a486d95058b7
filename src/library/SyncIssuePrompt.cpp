#include "library/SyncIssuePrompt.h"

#include "index/FolderListing.h"

#include <QFile>
#include <QFileInfo>

namespace kivo::library {

namespace {

using Kind = SyncIssue::Kind;

// Skips group a missing file with a missing folder, as the tracker does.
int category(Kind kind)
{
    switch (kind) {
    case Kind::missingFile:
    case Kind::missingFolder:
        return 0;
    case Kind::unreachableDrive:
        return 1;
    case Kind::movedFolder:
        return 2;
    }
    return 0;
}

QString quoted(const QString& name)
{
    return QLatin1Char('"') + name + QLatin1Char('"');
}

} // namespace

QString folderName(const QString& path)
{
    const QString name = path.section(QLatin1Char('/'), -1);
    return name.isEmpty() ? path : name;
}

IssuePrompt issuePrompt(const QList<SyncIssue>& queue, const QStringList& roots)
{
    IssuePrompt prompt;
    if (queue.isEmpty())
        return prompt;
    const SyncIssue& issue = queue.first();
    qsizetype sameKind = 0;
    for (const SyncIssue& other : queue)
        sameKind += other.kind == issue.kind;
    switch (issue.kind) {
    case Kind::unreachableDrive:
        prompt.title = QStringLiteral("Can't reach external drive");
        prompt.line = folderName(issue.path) + QStringLiteral(" can't be reached");
        prompt.actions = { IssueAction::attemptResync };
        break;
    case Kind::missingFolder:
        prompt.title = QStringLiteral("Folder missing");
        prompt.line = QStringLiteral("Can't locate ") + folderName(issue.path);
        if (sameKind > 1)
            prompt.summary = QString::number(sameKind) + QStringLiteral(" folders missing");
        if (roots.contains(issue.path))
            prompt.actions = { IssueAction::relocate, IssueAction::removeFromBrowser };
        prompt.actions += { IssueAction::showInFileManager, IssueAction::attemptResync };
        break;
    case Kind::missingFile:
        prompt.title = QStringLiteral("File missing");
        prompt.line = QStringLiteral("Can't locate ") + folderName(issue.path) + QStringLiteral(" in ")
            + folderName(issue.path.section(QLatin1Char('/'), 0, -2));
        if (sameKind > 1)
            prompt.summary = QString::number(sameKind) + QStringLiteral(" files missing");
        prompt.actions = { IssueAction::showInFileManager, IssueAction::attemptResync };
        break;
    case Kind::movedFolder:
        prompt.title = QStringLiteral("Update detected");
        prompt.line = QStringLiteral("Folder ") + folderName(issue.path) + QStringLiteral(" updated");
        if (issue.newPath)
            prompt.line += QStringLiteral(" to ") + folderName(*issue.newPath);
        if (sameKind > 1)
            prompt.summary = QString::number(sameKind) + QStringLiteral(" updates detected");
        prompt.actions = { IssueAction::showInFileManager };
        break;
    }
    const qsizetype rest = queue.size() - 1;
    if (rest > 0)
        prompt.more = QString::number(rest) + QStringLiteral(" more.");
    // Skip moves on to the next issue; on the last of its kind, Close ends the pop-up's run of that
    // kind and Close All every issue still waiting.
    const bool moreOfKind = std::any_of(queue.begin() + 1, queue.end(),
        [&](const SyncIssue& other) { return category(other.kind) == category(issue.kind); });
    if (moreOfKind)
        prompt.actions += { IssueAction::skip, IssueAction::skipAll };
    else if (rest > 0)
        prompt.actions += { IssueAction::close, IssueAction::closeAll };
    else
        prompt.actions += IssueAction::close;
    return prompt;
}

QString issueActionText(IssueAction action)
{
    switch (action) {
    case IssueAction::attemptResync:
        return QStringLiteral("Attempt re-sync");
    case IssueAction::relocate:
        return QString::fromLatin1(kRelocateButton);
    case IssueAction::removeFromBrowser:
        return QStringLiteral("Remove from browser");
    case IssueAction::showInFileManager:
        return QStringLiteral("Show in file manager");
    case IssueAction::skip:
        return QStringLiteral("Skip");
    case IssueAction::skipAll:
        return QStringLiteral("Skip All");
    case IssueAction::close:
        return QStringLiteral("Close");
    case IssueAction::closeAll:
        return QStringLiteral("Close All");
    }
    return {};
}

QString missingReason(const SyncIssue::Kind& kind, const QString& missingPath)
{
    switch (kind) {
    case Kind::unreachableDrive:
        return folderName(missingPath) + QStringLiteral(" can't be reached");
    case Kind::missingFile:
    case Kind::missingFolder:
    case Kind::movedFolder:
        break;
    }
    return QStringLiteral("Can't locate ") + folderName(missingPath);
}

QString notAnsweringReason(const QString& root)
{
    return folderName(root) + QStringLiteral(" isn't answering");
}

QString relocationMessage(const QString& name, qsizetype candidates)
{
    QString text = QStringLiteral("Choose the new location of ") + quoted(name);
    if (candidates > 0)
        text += QStringLiteral(" \u2014 or the folder that now contains it, to also restore ")
            + QString::number(candidates) + QStringLiteral(" other missing folder")
            + (candidates == 1 ? QString() : QStringLiteral("s")) + QStringLiteral(" beside it.");
    return text;
}

QString relocationBrowsingRefusal(const QString& name)
{
    return QStringLiteral("This path doesn\u2019t contain \u201c") + name
        + QStringLiteral("\u201d or a parenting folder that contains it.");
}

QString relocationNoFolderRefusal(const QString& name)
{
    return QStringLiteral("This path doesn't contain ") + quoted(name) + QStringLiteral(". Select ")
        + quoted(name) + QStringLiteral(" or a parenting folder that contains it.");
}

QString relocationNoAudioRefusal(const QString& name)
{
    return quoted(name)
        + QStringLiteral(
            " doesn't contain any compatible audio files. Choose the folder that holds the moved samples.");
}

QString removeFromBrowserText(const QString& name)
{
    return QStringLiteral("This removes ") + name
        + QStringLiteral(" from your library. Files on disk are not affected.");
}

bool isRelocationTarget(const QString& folder, const QString& name)
{
    return relocationScope(folder, name).has_value();
}

std::optional<QString> relocationScope(const QString& chosen, const QString& name)
{
    QString clean = chosen;
    while (clean.size() > 1 && clean.endsWith(QLatin1Char('/')))
        clean.chop(1);
    if (folderName(clean) == name && QFileInfo(clean).isDir())
        return clean;
    const QString inside = (clean == u"/" ? QString() : clean) + QLatin1Char('/') + name;
    if (QFileInfo(inside).isDir())
        return inside;
    return std::nullopt;
}

bool holdsCompatibleFiles(const QString& folder)
{
    std::vector<std::string> pending { QFile::encodeName(folder).toStdString() };
    std::vector<index::FolderEntry> entries;
    while (!pending.empty()) {
        const std::string path = std::move(pending.back());
        pending.pop_back();
        if (!index::listFolder(path, entries))
            continue;
        for (const index::FolderEntry& entry : entries) {
            if (entry.kind == index::EntryKind::folder) {
                if (!entry.viaLink)
                    pending.push_back(path + "/" + entry.name);
            } else if (index::hasCompatibleExtension(entry.name)) {
                return true;
            }
        }
    }
    return false;
}

} // namespace kivo::library
