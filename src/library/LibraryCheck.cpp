#include "library/LibraryCheck.h"

#include "library/MissingFileTracker.h"
#include "library/SyncPlan.h"
#include "platform/FolderBookmark.h"
#include "platform/PathProbe.h"

#include <QFileInfo>

#include <set>

namespace kivo::library {

namespace {

QString q(const std::string& s)
{
    return QString::fromStdString(s);
}

bool contains(const std::vector<std::string>& list, const QString& path)
{
    return std::find(list.begin(), list.end(), path.toStdString()) != list.end();
}

// A bookmark for each moved root's new folder, made here so that following the move asks nothing of
// the disk.
QHash<QString, QByteArray> bookmarksOf(const QList<MovedRoot>& moved)
{
    QHash<QString, QByteArray> out;
    for (const MovedRoot& pair : moved)
        if (const std::optional<QByteArray> bookmark = platform::FolderBookmark::create(pair.second))
            out.insert(pair.second, *bookmark);
    return out;
}

} // namespace

QList<CollectionPlacements> placeRoots(
    const BookmarkGroupList& groups, const std::function<bool(const QString&, const QString&)>& confirmRename)
{
    // Every root is asked about at once: roots that stall wait one bound in all.
    QList<QByteArray> bookmarks;
    for (const BookmarkGroup& group : groups)
        bookmarks.append(group.paths);
    std::vector<bool> notAnswering;
    const auto resolved = platform::FolderBookmark::resolveAll(bookmarks, &notAnswering);
    QList<CollectionPlacements> out;
    std::size_t next = 0;
    for (const BookmarkGroup& group : groups) {
        CollectionPlacements entry { indexGroupID(group.id), {} };
        for (const QByteArray& bookmark : group.paths) {
            const std::size_t i = next++;
            RootPlacement root;
            root.storedPath = platform::FolderBookmark::storedPath(bookmark).value_or(QString());
            root.notAnswering = notAnswering[i];
            // One that does not answer may well be there: nothing is looked for beside it.
            if (resolved[i] && !isTrashedRoot(resolved[i]->path))
                root.resolvedPath = resolved[i]->path;
            else if (!root.notAnswering) {
                const auto renamed = platform::FolderBookmark::findRenamed(bookmark);
                if (renamed && !isTrashedRoot(*renamed) && confirmRename
                    && confirmRename(root.storedPath, *renamed))
                    root.resolvedPath = renamed;
            }
            entry.roots.append(root);
        }
        out.append(entry);
    }
    return out;
}

bool holdsIndexedContent(index::CacheIndexStore& store, const QString& oldPath, const QString& newPath)
{
    const std::optional<index::DirectoryInfo> record = store.folderRecord(oldPath.toStdString());
    if (!record)
        return false;
    if (record->files.empty() && record->subdirectories.empty())
        return true;
    const std::string prefix = oldPath.toStdString();
    const std::string target = newPath.toStdString();
    auto there = [&](const std::string& path) {
        return QFileInfo::exists(QString::fromStdString(target + path.substr(prefix.size())));
    };
    for (const index::FileInfo& file : record->files)
        if (there(file.path))
            return true;
    for (const std::string& folder : record->subdirectories)
        if (there(folder))
            return true;
    return false;
}

std::vector<index::ScanGroup> syncPlanOf(const QList<CollectionPlacements>& placements)
{
    std::vector<index::ScanGroup> plan;
    for (const CollectionPlacements& collection : placements) {
        index::ScanGroup entry;
        entry.groupID = collection.groupID;
        for (const RootPlacement& root : collection.roots) {
            if (root.resolvedPath)
                entry.urls.push_back(root.resolvedPath->toStdString());
            else if (!root.storedPath.isEmpty()) {
                entry.unresolvedPaths.push_back(root.storedPath.toStdString());
                if (root.notAnswering)
                    entry.stalledPaths.push_back(root.storedPath.toStdString());
            }
        }
        plan.push_back(std::move(entry));
    }
    return plan;
}

QList<MovedRoot> detectMovedRoots(const QList<CollectionPlacements>& placements,
    const index::GroupRoots& covered, const std::function<bool(const QString&)>& exists)
{
    QList<MovedRoot> pairs;
    for (const CollectionPlacements& collection : placements) {
        const auto it = covered.find(collection.groupID);
        if (it == covered.end())
            continue;
        QStringList resolved;
        QStringList unresolved;
        for (const RootPlacement& root : collection.roots) {
            if (root.resolvedPath)
                resolved.append(*root.resolvedPath);
            else
                unresolved.append(root.storedPath);
        }
        QStringList removed;
        for (const std::string& root : it->second)
            if (!resolved.contains(q(root)) && !unresolved.contains(q(root)))
                removed.append(q(root));
        QStringList added;
        for (const QString& root : resolved)
            if (!contains(it->second, root) && !added.contains(root))
                added.append(root);

        for (const RootPlacement& root : collection.roots) {
            if (root.resolvedPath && removed.contains(root.storedPath)
                && added.contains(*root.resolvedPath)) {
                pairs.append({ root.storedPath, *root.resolvedPath });
                removed.removeOne(root.storedPath);
                added.removeOne(*root.resolvedPath);
            }
        }
        // A covered root still on disk was taken out of the collection, not moved.
        removed.removeIf([&](const QString& path) { return exists(path); });
        if (removed.size() == 1 && added.size() == 1)
            pairs.append({ removed.first(), added.first() });
    }
    return pairs;
}

SyncCheckResult checkResultOf(const index::LibraryCheckFindings& findings, const QStringList& syncedRoots,
    const QList<MovedRoot>& notices, const std::function<bool(const QString&)>& exists,
    const std::function<bool(const QString&)>& volumeMounted)
{
    SyncCheckResult result;
    auto addIssue = [&](const SyncIssue& issue) {
        for (const SyncIssue& queued : result.issues)
            if (queued.path == issue.path)
                return;
        result.issues.append(issue);
    };
    auto addMissing = [&](const QString& path) {
        if (!result.missingPaths.contains(path))
            result.missingPaths.append(path);
    };
    for (const std::string& drive : findings.unreachableDrives) {
        addMissing(q(drive));
        addIssue({ SyncIssue::Kind::unreachableDrive, q(drive), std::nullopt });
    }
    for (const std::string& root : findings.driveRoots)
        addMissing(q(root));
    using Item = MissingFileTracker::ItemKind;
    auto classify = [&](const std::string& path, Item kind) {
        QString topmost;
        const SyncIssue issue = classifyMissing(q(path), kind, syncedRoots, exists, volumeMounted, &topmost);
        addMissing(q(path));
        if (!topmost.isEmpty())
            addMissing(topmost);
        addIssue(issue);
    };
    for (const std::string& root : findings.missingRoots)
        classify(root, Item::folder);
    for (const std::string& folder : findings.missingFolders)
        classify(folder, Item::folder);
    for (const std::string& file : findings.missingFiles)
        classify(file, Item::file);
    for (const MovedRoot& notice : notices)
        addIssue({ SyncIssue::Kind::movedFolder, notice.first, notice.second });
    return result;
}

LibraryCheckOutcome runLibraryCheck(
    index::CacheIndexStore& store, const LibraryCheckRequest& request, const index::MountedVolumes& mounted)
{
    LibraryCheckOutcome outcome;
    const QList<CollectionPlacements> placements = placeRoots(request.collections,
        [&](const QString& from, const QString& to) { return holdsIndexedContent(store, from, to); });
    outcome.plan = syncPlanOf(placements);
    const auto exists = [](const QString& path) { return QFileInfo::exists(path); };
    outcome.movedRoots = detectMovedRoots(placements, request.covered, exists);
    outcome.movedBookmarks = bookmarksOf(outcome.movedRoots);

    const index::LibraryCheckFindings findings
        = index::checkLibrary(store, outcome.plan, request.options, mounted);
    const std::set<std::string> mountedNow = mounted ? mounted() : std::set<std::string> {};
    const auto volumeMounted = [&](const QString& path) { return mountedNow.count(path.toStdString()) > 0; };

    QList<MovedRoot> notices;
    if (request.notifyPathUpdates) {
        for (const MovedRoot& notice : request.pendingMovedNotices + outcome.movedRoots) {
            const bool seen = std::any_of(
                notices.begin(), notices.end(), [&](const MovedRoot& n) { return n.first == notice.first; });
            if (!seen)
                notices.append(notice);
        }
    }
    QStringList roots = request.syncedRoots;
    for (const index::ScanGroup& group : outcome.plan)
        for (const std::string& root : group.unresolvedPaths)
            if (!roots.contains(q(root)))
                roots.append(q(root));
    outcome.result = checkResultOf(findings, roots, notices, exists, volumeMounted);
    outcome.result.generation = request.generation;

    // Roots found where they belong, and drives back in place, are missing no more.
    std::set<std::string> problem(findings.missingRoots.begin(), findings.missingRoots.end());
    problem.insert(findings.driveRoots.begin(), findings.driveRoots.end());
    for (const index::ScanGroup& group : outcome.plan) {
        for (const std::string& root : group.urls) {
            if (problem.count(root))
                continue;
            if (!outcome.result.presentPaths.contains(q(root)))
                outcome.result.presentPaths.append(q(root));
            if (const auto volume = index::removableVolumeOf(root); volume && mountedNow.count(*volume))
                if (!outcome.result.presentPaths.contains(q(*volume)))
                    outcome.result.presentPaths.append(q(*volume));
        }
    }
    return outcome;
}

RootSurvey surveyRoots(index::CacheIndexStore& store, const BookmarkGroupList& groups,
    const index::GroupRoots& covered, bool findMoved)
{
    RootSurvey survey;
    if (!findMoved) {
        survey.plan = buildSyncPlan(groups);
        return survey;
    }
    const QList<CollectionPlacements> placements = placeRoots(
        groups, [&](const QString& from, const QString& to) { return holdsIndexedContent(store, from, to); });
    survey.plan = syncPlanOf(placements);
    survey.movedRoots = detectMovedRoots(placements, covered, [](const QString& path) {
        // A root that does not answer counts as still there: nothing is followed on a guess.
        auto there = std::make_shared<bool>(true);
        return !platform::PathProbe::run(path, [path, there] { *there = QFileInfo::exists(path); }) || *there;
    });
    survey.movedBookmarks = bookmarksOf(survey.movedRoots);
    return survey;
}

} // namespace kivo::library
