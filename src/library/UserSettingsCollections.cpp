// The collections side of UserSettings: loading and repairing the stored list, the edits the
// collection bar and the settings make, and opening the roots' folder access.

#include "library/DiagnosticLog.h"

#include "library/UserSettings.h"

#include "platform/FolderBookmark.h"
#include "platform/MainThread.h"
#include "platform/PreferenceStore.h"

#include <QDir>
#include <QTimer>

#include <algorithm>

namespace kivo::library {

namespace {

constexpr char kLegacyGroupNames[] = "groupNames";

// Every element a string, as the old name list always was; anything else is not that list.
std::optional<QStringList> legacyGroupNames(const platform::PreferenceStore& store)
{
    const auto array = store.arrayValue(QString::fromLatin1(kLegacyGroupNames));
    if (!array)
        return std::nullopt;
    QStringList names;
    for (const QVariant& item : *array) {
        if (item.typeId() != QMetaType::QString)
            return std::nullopt;
        names.append(item.toString());
    }
    return names;
}

// Drag-and-drop move: the item lands in the gap `destination` (0...count) of the list before
// the move, so a gap after the item means one place less once it is taken out.
template <typename T> void moveToGap(QList<T>& list, qsizetype from, qsizetype destination)
{
    destination = std::clamp<qsizetype>(destination, 0, list.size());
    T item = list.takeAt(from);
    list.insert(from < destination ? destination - 1 : destination, std::move(item));
}

qsizetype indexOfId(const BookmarkGroupList& groups, const QUuid& id)
{
    for (qsizetype i = 0; i < groups.size(); ++i) {
        if (groups[i].id == id)
            return i;
    }
    return -1;
}

} // namespace

void UserSettings::loadBookmarks(Repair repair)
{
    const auto data = m_store.dataValue(QString::fromLatin1(kBookmarksKey));
    std::optional<BookmarkGroupList> decoded = data ? decodeBookmarkGroups(*data) : std::nullopt;
    // The default list is about to be written over a value that cannot be read: keep that value
    // in a file of its own first, so the collections in it can still be recovered.
    if (!decoded && m_store.contains(QString::fromLatin1(kBookmarksKey)))
        m_store.setAsideValue(QString::fromLatin1(kBookmarksKey));
    BookmarkGroupList groups = decoded ? std::move(*decoded) : BookmarkGroupList { defaultBookmarkGroup() };

    if (repair == Repair::legacyNamesAndColors) {
        // Names were once kept beside the list instead of inside it.
        if (const auto names = legacyGroupNames(m_store)) {
            const qsizetype count = std::min(names->size(), groups.size());
            for (qsizetype i = 0; i < count; ++i)
                groups[i].name = names->at(i);
            m_store.remove(QString::fromLatin1(kLegacyGroupNames));
        }
        for (qsizetype i = 0; i < groups.size(); ++i) {
            if (groups[i].colorHex.isEmpty())
                groups[i].colorHex = groupPaletteColor(i);
        }
    }

    m_bookmarks = std::move(groups);
    emit bookmarksChanged();
    clampSelectedGroup();
    writeBookmarks();
    m_syncedBookmarks = m_bookmarks;
    startAccessingAllRoots();
    setIsSynced(true);
}

void UserSettings::clampSelectedGroup()
{
    const auto count = int(m_bookmarks.size());
    if (m_selectedGroup >= count)
        setSelectedGroup(count > 0 ? count - 1 : 0);
}

void UserSettings::writeBookmarks()
{
    m_store.setValue(QString::fromLatin1(kBookmarksKey), encodeBookmarkGroups(m_bookmarks));
}

void UserSettings::recomputeIsSynced()
{
    setIsSynced(m_bookmarks == m_syncedBookmarks);
}

void UserSettings::setBookmarks(const BookmarkGroupList& groups)
{
    KIVO_MAIN_THREAD();
    m_bookmarks = groups;
    writeBookmarks();
    emit bookmarksChanged();
    recomputeIsSynced();
}

void UserSettings::markSynced()
{
    KIVO_MAIN_THREAD();
    m_syncedBookmarks = m_bookmarks;
    setIsSynced(true);
}

void UserSettings::addGroup(const QString& name, const QString& colorHex)
{
    KIVO_MAIN_THREAD();
    const qsizetype count = m_bookmarks.size();
    m_bookmarks.append(
        { QUuid::createUuid(), name, {}, colorHex.isEmpty() ? groupPaletteColor(count) : colorHex });
    writeBookmarks();
    emit bookmarksChanged();
    setSelectedGroup(int(m_bookmarks.size()) - 1);
    recomputeIsSynced();
}

void UserSettings::removeGroup(int index)
{
    KIVO_MAIN_THREAD();
    // The last collection stays: the browser always has one to show.
    if (index < 0 || index >= m_bookmarks.size() || m_bookmarks.size() < 2)
        return;
    m_bookmarks.removeAt(index);
    writeBookmarks();
    emit bookmarksChanged();
    if (m_selectedGroup >= m_bookmarks.size())
        setSelectedGroup(int(m_bookmarks.size()) - 1);
    recomputeIsSynced();
}

void UserSettings::renameGroup(int index, const QString& name)
{
    KIVO_MAIN_THREAD();
    if (index < 0 || index >= m_bookmarks.size() || name.isEmpty())
        return;
    m_bookmarks[index].name = name;
    writeBookmarks();
    emit bookmarksChanged();
}

void UserSettings::setGroupColor(int index, const QString& colorHex)
{
    KIVO_MAIN_THREAD();
    if (index < 0 || index >= m_bookmarks.size())
        return;
    m_bookmarks[index].colorHex = colorHex;
    writeBookmarks();
    emit bookmarksChanged();
}

void UserSettings::moveGroup(const QUuid& id, int destination)
{
    KIVO_MAIN_THREAD();
    const qsizetype from = indexOfId(m_bookmarks, id);
    if (from < 0)
        return;
    const qsizetype gap = std::clamp<qsizetype>(destination, 0, m_bookmarks.size());
    if (gap == from || gap == from + 1)
        return;

    std::optional<QUuid> selectedId;
    if (m_selectedGroup >= 0 && m_selectedGroup < m_bookmarks.size())
        selectedId = m_bookmarks[m_selectedGroup].id;

    moveToGap(m_bookmarks, from, gap);
    writeBookmarks();
    emit bookmarksChanged();

    // The synced copy moves the same way, so a pure reordering does not read as unsynced.
    if (const qsizetype syncedFrom = indexOfId(m_syncedBookmarks, id); syncedFrom >= 0)
        moveToGap(m_syncedBookmarks, syncedFrom, gap);

    if (selectedId) {
        if (const qsizetype now = indexOfId(m_bookmarks, *selectedId); now >= 0)
            setSelectedGroup(int(now));
    }
    recomputeIsSynced();
}

bool UserSettings::addPath(const QString& folderPath, int index)
{
    KIVO_MAIN_THREAD();
    if (index < 0 || index >= m_bookmarks.size())
        return false;
    const QString path = QDir::cleanPath(folderPath);

    // Per collection: the same folder may well be a root of two collections. A bookmark resolves
    // to the path it stored, so the disk is not asked (a stalled root would hold the window).
    for (const QByteArray& bookmark : std::as_const(m_bookmarks[index].paths)) {
        const auto existing = platform::FolderBookmark::storedPath(bookmark);
        if (existing && QDir::cleanPath(*existing) == path)
            return false;
    }

    QString error;
    const auto bookmark = platform::FolderBookmark::create(path, &error);
    if (!bookmark) {
        logLine(QStringLiteral("Error creating bookmark: ") + error);
        return false;
    }
    m_bookmarks[index].paths.append(*bookmark);
    writeBookmarks();
    emit bookmarksChanged();
    setSelectedPathIndex(int(m_bookmarks[index].paths.size()) - 1);
    recomputeIsSynced();
    return true;
}

void UserSettings::movePaths(int index, const std::vector<int>& sourceOffsets, int destination)
{
    KIVO_MAIN_THREAD();
    if (index < 0 || index >= m_bookmarks.size())
        return;
    QList<QByteArray>& paths = m_bookmarks[index].paths;
    std::vector<int> sources;
    for (const int offset : sourceOffsets) {
        if (offset >= 0 && offset < paths.size())
            sources.push_back(offset);
    }
    std::sort(sources.begin(), sources.end());
    sources.erase(std::unique(sources.begin(), sources.end()), sources.end());
    if (sources.empty())
        return;

    const int gap = std::clamp(destination, 0, int(paths.size()));
    QList<QByteArray> moved;
    int before = 0;
    for (auto it = sources.rbegin(); it != sources.rend(); ++it) {
        moved.prepend(paths.takeAt(*it));
        if (*it < gap)
            ++before;
    }
    int at = gap - before;
    for (const QByteArray& bookmark : std::as_const(moved))
        paths.insert(at++, bookmark);

    writeBookmarks();
    emit bookmarksChanged();
    recomputeIsSynced();
    QTimer::singleShot(0, this, [this, id = m_bookmarks[index].id] { emit groupPathsMoved(id); });
}

void UserSettings::removePath(int pathIndex)
{
    KIVO_MAIN_THREAD();
    if (m_selectedGroup < 0 || m_selectedGroup >= m_bookmarks.size())
        return;
    QList<QByteArray>& paths = m_bookmarks[m_selectedGroup].paths;
    if (pathIndex < 0 || pathIndex >= paths.size())
        return;
    paths.removeAt(pathIndex);
    const bool noneLeft = paths.isEmpty();
    writeBookmarks();
    emit bookmarksChanged();
    recomputeIsSynced();
    if (noneLeft)
        setSelectedPathIndex(std::nullopt);
}

int UserSettings::replaceRootBookmarks(const QString& oldPath, const QByteArray& bookmark)
{
    KIVO_MAIN_THREAD();
    int replaced = 0;
    for (BookmarkGroup& group : m_bookmarks) {
        for (QByteArray& existing : group.paths) {
            if (platform::FolderBookmark::storedPath(existing) == oldPath) {
                existing = bookmark;
                ++replaced;
            }
        }
    }
    if (replaced > 0) {
        writeBookmarks();
        emit bookmarksChanged();
    }
    // The index follows a relocated root itself: what was synced under the old place is synced
    // under the new one.
    for (BookmarkGroup& group : m_syncedBookmarks)
        for (QByteArray& existing : group.paths)
            if (platform::FolderBookmark::storedPath(existing) == oldPath)
                existing = bookmark;
    recomputeIsSynced();
    return replaced;
}

std::optional<QUuid> UserSettings::groupID(int index) const
{
    KIVO_MAIN_THREAD();
    if (index < 0 || index >= m_bookmarks.size())
        return std::nullopt;
    return m_bookmarks[index].id;
}

bool UserSettings::hasAnyPaths() const
{
    KIVO_MAIN_THREAD();
    return std::any_of(m_bookmarks.cbegin(), m_bookmarks.cend(),
        [](const BookmarkGroup& group) { return !group.paths.isEmpty(); });
}

QList<QByteArray> UserSettings::selectedGroupPaths() const
{
    KIVO_MAIN_THREAD();
    if (m_selectedGroup < 0 || m_selectedGroup >= m_bookmarks.size())
        return {};
    return m_bookmarks[m_selectedGroup].paths;
}

void UserSettings::startAccessingAllRoots()
{
    KIVO_MAIN_THREAD();
    QStringList paths;
    for (const BookmarkGroup& group : std::as_const(m_bookmarks)) {
        for (const QByteArray& bookmark : group.paths) {
            if (const auto path = platform::FolderBookmark::storedPath(bookmark))
                paths.append(*path);
        }
    }
    platform::FolderBookmark::startAccessingAll(paths);
}

void UserSettings::stopAccessingAllRoots()
{
    KIVO_MAIN_THREAD();
    for (const BookmarkGroup& group : std::as_const(m_bookmarks)) {
        for (const QByteArray& bookmark : group.paths) {
            if (const auto path = platform::FolderBookmark::storedPath(bookmark))
                platform::FolderBookmark::stopAccessing(*path);
        }
    }
}

} // namespace kivo::library
