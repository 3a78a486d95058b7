#include "library/BookmarkGroup.h"
#include "platform/PropertyList.h"

#include <QVariantMap>

#include <gtest/gtest.h>

using namespace kivo::library;

namespace {

std::optional<BookmarkGroupList> decodeValue(const QVariant& value)
{
    const auto data = kivo::platform::encodeBinaryPlist(value);
    EXPECT_TRUE(data);
    return decodeBookmarkGroups(data.value_or(QByteArray()));
}

const QVariantList kOnePath { QByteArray("\x00\x01bookmark", 10) };

} // namespace

TEST(BookmarkGroup, RoundTripsThroughTheStoredForm)
{
    const BookmarkGroupList groups {
        { QUuid::createUuid(), "Drums", { QByteArray("a"), QByteArray("\x00\xff", 2) }, "F07676" },
        { QUuid::createUuid(), "Émotions 🎹", {}, "" },
    };
    const auto decoded = decodeBookmarkGroups(encodeBookmarkGroups(groups));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(*decoded, groups);

    // Other stores key collections by the upper-case id text, so that is what is stored.
    const QVariantMap first = bookmarkGroupsToPropertyList(groups).front().toMap();
    EXPECT_EQ(first.value("id").toString(), groups[0].id.toString(QUuid::WithoutBraces).toUpper());
    EXPECT_EQ(first.value("paths").toList().size(), 2);

    const auto empty = decodeBookmarkGroups(encodeBookmarkGroups({}));
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->isEmpty());
}

// Each element's id and colour fall back on their own; a bad name or paths fails the whole list.
TEST(BookmarkGroup, OptionalFieldsFallBackPerElementAndABadNameOrPathsFailsTheWholeList)
{
    const QUuid kept = QUuid::createUuid();
    const auto groups = decodeValue(QVariantList {
        QVariantMap { { "id", kept.toString(QUuid::WithoutBraces).toLower() }, { "name", "A" },
            { "paths", kOnePath }, { "colorHex", "76A5F0" } },
        QVariantMap { { "name", "no id" }, { "paths", QVariantList {} } },
        QVariantMap { { "id", "not a uuid" }, { "name", "bad id" }, { "paths", QVariantList {} },
            { "colorHex", qint64(7) } },
        QVariantMap { { "id", qint64(3) }, { "name", "id of another type" }, { "paths", QVariantList {} } },
    });
    ASSERT_TRUE(groups);
    ASSERT_EQ(groups->size(), 4);
    EXPECT_EQ((*groups)[0], (BookmarkGroup { kept, "A", { kOnePath.front().toByteArray() }, "76A5F0" }));
    for (int i = 1; i < 4; ++i) {
        EXPECT_FALSE((*groups)[i].id.isNull()) << i;
        EXPECT_NE((*groups)[i].id, kept) << i;
        EXPECT_EQ((*groups)[i].colorHex, "") << i;
    }
    EXPECT_NE((*groups)[1].id, (*groups)[2].id);
    EXPECT_EQ((*groups)[2].name, "bad id");

    const QVariantMap good { { "name", "ok" }, { "paths", kOnePath } };
    const QList<QVariant> bad {
        QVariantMap { { "paths", kOnePath } },
        QVariantMap { { "name", qint64(1) }, { "paths", kOnePath } },
        QVariantMap { { "name", "no paths" } },
        QVariantMap { { "name", "paths not a list" }, { "paths", QByteArray("x") } },
        QVariantMap {
            { "name", "a path that is text" }, { "paths", QVariantList { QByteArray("x"), "/Users/me" } } },
        "not a dictionary",
    };
    for (const QVariant& candidate : bad)
        EXPECT_FALSE(decodeValue(QVariantList { good, candidate }))
            << candidate.toMap().value("name").toString().toStdString();
    EXPECT_TRUE(decodeValue(QVariantList { good }));
    EXPECT_FALSE(decodeValue(good));
    EXPECT_FALSE(decodeBookmarkGroups(QByteArray()));
    EXPECT_FALSE(decodeBookmarkGroups(QByteArray("bplist00 garbage that is not a property list")));
}
