// Undoing a cancelled import: its roots leave the collection they were added to.

#include "library/UserSettings.h"

#include "platform/FolderBookmark.h"
#include "platform/MainThread.h"

#include <QDir>

namespace kivo::library {

QStringList UserSettings::removeRootsWithStoredPaths(int index, const QStringList& paths)
{
    KIVO_MAIN_THREAD();
    QStringList removed;
    if (index < 0 || index >= m_bookmarks.size())
        return removed;
    QSet<QString> wanted;
    for (const QString& p : paths)
        wanted.insert(QDir::cleanPath(p));
    // Matched by the path recorded in the bookmark, so a root that can no longer be resolved
    // goes as surely as one that can.
    QList<QByteArray>& roots = m_bookmarks[index].paths;
    for (qsizetype i = roots.size() - 1; i >= 0; --i) {
        const std::optional<QString> stored = platform::FolderBookmark::storedPath(roots[i]);
        if (stored && wanted.contains(QDir::cleanPath(*stored))) {
            removed.prepend(*stored);
            roots.removeAt(i);
        }
    }
    if (removed.isEmpty())
        return removed;
    const bool noneLeft = roots.isEmpty();
    writeBookmarks();
    emit bookmarksChanged();
    recomputeIsSynced();
    if (noneLeft && index == m_selectedGroup)
        setSelectedPathIndex(std::nullopt);
    return removed;
}

} // namespace kivo::library
