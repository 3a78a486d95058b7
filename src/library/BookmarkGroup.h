#pragma once

// A collection: a name, a colour and its root folders, each held as a folder bookmark (the
// path itself is never stored as text). The whole list is kept under "bookmarks" as one
// binary property list: an array of dictionaries with "id", "name", "paths" and "colorHex".

#include <QByteArray>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QUuid>
#include <QVariant>

#include <array>
#include <optional>

namespace kivo::library {

struct BookmarkGroup {
    QUuid id;
    QString name;
    QList<QByteArray> paths;
    // Six upper-case hex digits without "#"; empty until a colour is chosen.
    QString colorHex;

    friend bool operator==(const BookmarkGroup&, const BookmarkGroup&) = default;
};

using BookmarkGroupList = QList<BookmarkGroup>;

inline constexpr char kBookmarksKey[] = "bookmarks";
inline constexpr char kDefaultGroupName[] = "Collection";
// The first collection's colour, deliberately not one of the palette's.
inline constexpr char kDefaultGroupColor[] = "EF5356";
// Colours handed out, by position, to collections that have none.
inline constexpr std::array<const char*, 8> kGroupPalette { "F07676", "76A5F0", "F0E176", "76F0A1", "F0A876",
    "B876F0", "76E8F0", "F0A1D4" };

QString groupPaletteColor(qsizetype position);
// A fresh id, "Collection", no roots, the default colour.
BookmarkGroup defaultBookmarkGroup();
// Upper case, no braces: the form other stores key per-collection data by.
QString canonicalIdText(const QUuid& id);

QVariantList bookmarkGroupsToPropertyList(const BookmarkGroupList& groups);
// An element without a readable "id" gets a fresh one, without a readable "colorHex" an empty
// colour; a missing or unreadable "name" or "paths" (or an element that is not a dictionary)
// fails the whole list.
std::optional<BookmarkGroupList> bookmarkGroupsFromPropertyList(const QVariant& value);

QByteArray encodeBookmarkGroups(const BookmarkGroupList& groups);
std::optional<BookmarkGroupList> decodeBookmarkGroups(const QByteArray& data);

} // namespace kivo::library

Q_DECLARE_METATYPE(kivo::library::BookmarkGroup)
