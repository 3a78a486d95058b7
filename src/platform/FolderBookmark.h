#pragma once

// Folder bookmarks on Linux: a small binary record of a folder's absolute path plus its device
// and file (inode) numbers. Resolving succeeds when a folder exists at the recorded path; it is
// stale when that folder's file number differs from the recorded one. Access succeeds when the
// folder can be read. A blob that is not one of ours fails to resolve with an error text.
//
// Every question to the disk is bounded (PathProbe): a folder whose mount never answers fails to
// resolve or to be created with "isn’t answering" instead of holding the caller.

#include <QByteArray>
#include <QString>

#include <QList>

#include <optional>
#include <vector>

struct stat;

namespace kivo::platform {

struct ResolvedBookmark {
    QString path;
    bool stale = false;
};

class FolderBookmark {
public:
    // Empty when `path` is not an existing folder.
    static std::optional<QByteArray> create(const QString& path, QString* error = nullptr);
    static std::optional<ResolvedBookmark> resolve(const QByteArray& bookmark, QString* error = nullptr);
    // resolve() for each, the questions asked together: a list with stalled roots waits one bound
    // in all, not one per root. `notAnswering`, when given, is true for each folder that did not
    // answer in time: it may well be there, only slow.
    static std::vector<std::optional<ResolvedBookmark>> resolveAll(
        const QList<QByteArray>& bookmarks, std::vector<bool>* notAnswering = nullptr);
    // When nothing is at the recorded path: a folder beside it with the recorded device and file
    // numbers, most likely the same folder renamed. File numbers are reused, so the caller confirms.
    static std::optional<QString> findRenamed(const QByteArray& bookmark);
    // The recorded path, without touching the disk; empty for a blob that is not a bookmark.
    static std::optional<QString> storedPath(const QByteArray& bookmark);
    static bool startAccessing(const QString& path);
    // startAccessing() for each, asked in the background without waiting.
    static void startAccessingAll(const QStringList& paths);
    static void stopAccessing(const QString& path);

    // The call every question about a folder goes through; tests replace it to stand in for a
    // mount that never answers. Null restores the system's.
    using StatFunction = int (*)(const char* path, struct stat* out);
    static void setStatFunction(StatFunction fn);
};

} // namespace kivo::platform
