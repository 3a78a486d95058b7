#include "organise/TagSets.h"

#include <gtest/gtest.h>

using namespace kivo::organise;

namespace {

TagId tagId(std::uint8_t n)
{
    TagId id;
    id.bytes[15] = n;
    return id;
}

const TagId kDrums = tagId(1);
const TagId kDark = tagId(2);

} // namespace

TEST(TagSets, ExclusionsCancelAboveAndAssignmentsBelowBringTagsBack)
{
    TagMaps maps;
    EXPECT_TRUE(effectiveTags(maps, "/A/x.wav").empty());
    maps.assignments = { { "/A", { kDrums } }, { "/A/B/C", { kDrums } }, { "/A/D", { kDark } } };
    maps.exclusions = { { "/A/B", { kDrums } }, { "/A/D", { kDark } } };
    EXPECT_EQ(effectiveTags(maps, "/A/x.wav"), (TagIdSet { kDrums }));
    EXPECT_TRUE(effectiveTags(maps, "/A/B/y.wav").empty());
    EXPECT_EQ(effectiveTags(maps, "/A/B/C/z.wav"), (TagIdSet { kDrums }));
    // An exclusion also cancels an assignment on its own level.
    EXPECT_EQ(effectiveTags(maps, "/A/D/w.wav"), (TagIdSet { kDrums }));
    EXPECT_EQ(inheritedTags(maps, "/A"), TagIdSet {});
    EXPECT_EQ(inheritedTags(maps, "/A/x.wav"), (TagIdSet { kDrums }));
}

TEST(TagSets, SetAndClearOnlyRecordWhatDiffersFromAbove)
{
    TagMaps maps;
    applySetTag(maps, kDrums, TagChoice::on, { "/A" });
    // Off below a tagged folder excludes; on again lifts the exclusion and assigns nothing.
    applySetTag(maps, kDrums, TagChoice::off, { "/A/B/y.wav" });
    EXPECT_EQ(maps.exclusions.at("/A/B/y.wav"), (TagIdSet { kDrums }));
    applySetTag(maps, kDrums, TagChoice::on, { "/A/B/y.wav" });
    EXPECT_EQ(maps, (TagMaps { { { "/A", { kDrums } } }, {} }));
    // Off where it was given only removes it; no empty set is left behind.
    applySetTag(maps, kDark, TagChoice::on, { "/A/z.wav", "/Q" });
    applySetTag(maps, kDark, TagChoice::off, { "/A/z.wav" });
    EXPECT_FALSE(maps.assignments.contains("/A/z.wav"));

    // Clear: nothing of its own, and everything inherited excluded.
    applySetTag(maps, kDark, TagChoice::on, { "/A/z.wav", "/A" });
    applyClearTags(maps, { "/A/z.wav", "/Q" });
    EXPECT_TRUE(effectiveTags(maps, "/A/z.wav").empty());
    EXPECT_EQ(maps.exclusions.at("/A/z.wav"), (TagIdSet { kDrums, kDark }));
    EXPECT_FALSE(maps.assignments.contains("/Q"));
    EXPECT_FALSE(maps.exclusions.contains("/Q"));

    // Deleting the tag takes it out of both maps and drops entries left empty.
    EXPECT_TRUE(removeTagEverywhere(maps, kDark));
    EXPECT_EQ(maps, (TagMaps { { { "/A", { kDrums } } }, { { "/A/z.wav", { kDrums } } } }));
    EXPECT_FALSE(removeTagEverywhere(maps, kDark));
}

TEST(TagSets, RemapMovesKeysBelowTheFolderAndJoinsSetsThatMeet)
{
    TagMaps maps;
    maps.assignments
        = { { "/A", { kDrums } }, { "/A/B", { kDark } }, { "/AB", { kDark } }, { "/Z/B", { kDrums } } };
    maps.exclusions = { { "/A/B/x.wav", { kDrums } } };
    EXPECT_TRUE(remapTagPaths(maps, "/A", "/Z"));
    EXPECT_EQ(maps.assignments,
        (TagMap { { "/Z", { kDrums } }, { "/Z/B", { kDrums, kDark } }, { "/AB", { kDark } } }));
    EXPECT_EQ(maps.exclusions, (TagMap { { "/Z/B/x.wav", { kDrums } } }));
    EXPECT_TRUE(remapTagPaths(maps, "/Z/", "/Y"));
    EXPECT_TRUE(maps.assignments.contains("/Y/B"));
    EXPECT_FALSE(remapTagPaths(maps, "/Q", "/R"));
    EXPECT_FALSE(remapTagPaths(maps, "/AB", "/AB"));
}

TEST(TagSets, NamesAreCleanedAndMadeUnique)
{
    EXPECT_EQ(cleanTagName("  drums\n"), "drums");
    EXPECT_EQ(cleanTagName("abcdefghijklmnopqrstuvwxyz0123"), "abcdefghijklmnopqrstuvwx");
    // Characters, not bytes.
    std::string rest, cut24;
    for (int i = 0; i < 26; ++i)
        (i < 24 ? cut24 : rest) += "\u00e9";
    EXPECT_EQ(cleanTagName(cut24 + rest), cut24);

    EXPECT_EQ(uniqueTagName("drums", { "Drums" }), "drums 2");
    EXPECT_EQ(uniqueTagName("Drums 2", { "Drums", "Drums 2" }), "Drums 3");
    EXPECT_EQ(uniqueTagName("Drums", { "Drums", "drums 2" }), "Drums 3");
    EXPECT_EQ(uniqueTagName("Pads", { "Drums" }), "Pads");
    EXPECT_EQ(uniqueTagName("", { "" }), "");
    // A long name is cut to make room for the number.
    EXPECT_EQ(uniqueTagName("abcdefghijklmnopqrstuvwx", { "ABCDEFGHIJKLMNOPQRSTUVWX" }),
        "abcdefghijklmnopqrstuv 2");
    // Past 999 there is no number left: the name stays as it is.
    EXPECT_EQ(uniqueTagName("Take 999", { "take 999" }), "Take 999");
    // A bare number is a name, not a suffix.
    EXPECT_EQ(uniqueTagName(" 5", { " 5" }), " 5 2");
}
