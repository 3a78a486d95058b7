#include "library/BookmarkGroup.h"

#include "platform/PropertyList.h"

#include <QVariantMap>

namespace kivo::library {

namespace {

const QString kIdField = QStringLiteral("id");
const QString kNameField = QStringLiteral("name");
const QString kPathsField = QStringLiteral("paths");
const QString kColorField = QStringLiteral("colorHex");

std::optional<BookmarkGroup> groupFromDictionary(const QVariant& element)
{
    if (element.typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    const QVariantMap dict = element.toMap();

    const QVariant name = dict.value(kNameField);
    const QVariant paths = dict.value(kPathsField);
    if (name.typeId() != QMetaType::QString || paths.typeId() != QMetaType::QVariantList)
        return std::nullopt;

    BookmarkGroup group;
    group.name = name.toString();
    const QVariantList pathList = paths.toList();
    group.paths.reserve(pathList.size());
    for (const QVariant& path : pathList) {
        if (path.typeId() != QMetaType::QByteArray)
            return std::nullopt;
        group.paths.append(path.toByteArray());
    }

    const QVariant id = dict.value(kIdField);
    if (id.typeId() == QMetaType::QString)
        group.id = QUuid::fromString(id.toString());
    if (group.id.isNull())
        group.id = QUuid::createUuid();

    const QVariant color = dict.value(kColorField);
    if (color.typeId() == QMetaType::QString)
        group.colorHex = color.toString();
    return group;
}

} // namespace

QString groupPaletteColor(qsizetype position)
{
    const auto size = qsizetype(kGroupPalette.size());
    return QString::fromLatin1(kGroupPalette[std::size_t(((position % size) + size) % size)]);
}

BookmarkGroup defaultBookmarkGroup()
{
    return { QUuid::createUuid(), QString::fromLatin1(kDefaultGroupName), {},
        QString::fromLatin1(kDefaultGroupColor) };
}

QString canonicalIdText(const QUuid& id)
{
    return id.toString(QUuid::WithoutBraces).toUpper();
}

QVariantList bookmarkGroupsToPropertyList(const BookmarkGroupList& groups)
{
    QVariantList list;
    list.reserve(groups.size());
    for (const BookmarkGroup& group : groups) {
        QVariantList paths;
        paths.reserve(group.paths.size());
        for (const QByteArray& path : group.paths)
            paths.append(path);
        QVariantMap dict;
        dict.insert(kIdField, canonicalIdText(group.id));
        dict.insert(kNameField, group.name);
        dict.insert(kPathsField, paths);
        dict.insert(kColorField, group.colorHex);
        list.append(dict);
    }
    return list;
}

std::optional<BookmarkGroupList> bookmarkGroupsFromPropertyList(const QVariant& value)
{
    if (value.typeId() != QMetaType::QVariantList)
        return std::nullopt;
    const QVariantList list = value.toList();
    BookmarkGroupList groups;
    groups.reserve(list.size());
    for (const QVariant& element : list) {
        auto group = groupFromDictionary(element);
        if (!group)
            return std::nullopt;
        groups.append(std::move(*group));
    }
    return groups;
}

QByteArray encodeBookmarkGroups(const BookmarkGroupList& groups)
{
    // Only strings, data and lists of them go in, so encoding cannot fail.
    return platform::encodeBinaryPlist(bookmarkGroupsToPropertyList(groups)).value_or(QByteArray());
}

std::optional<BookmarkGroupList> decodeBookmarkGroups(const QByteArray& data)
{
    const auto value = platform::decodeBinaryPlist(data);
    if (!value)
        return std::nullopt;
    return bookmarkGroupsFromPropertyList(*value);
}

} // namespace kivo::library
