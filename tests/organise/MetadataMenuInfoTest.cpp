#include "organise/MetadataMenuInfo.h"

#include <gtest/gtest.h>

using namespace kivo::organise;
using kivo::music::KeySpelling;

TEST(MetadataMenuInfo, OneRowSaysItsValuesSeveralOnlyTheValuesTheyShare)
{
    const auto spelling = KeySpelling::flat;
    EXPECT_EQ(metadataMenuInfo({ { 128, "C#m", { "Drums", "Dark" } } }, spelling),
        (MetadataMenuInfo { "Edit BPM", "128", "Edit Key", "D\u266D Minor", "Edit Tags", "Drums, Dark" }));
    EXPECT_EQ(metadataMenuInfo({ {} }, spelling),
        (MetadataMenuInfo { "Add BPM", std::nullopt, "Add Key", std::nullopt, "Add Tags", std::nullopt }));
    // Key text that does not parse is no key; the spelling is the user's.
    EXPECT_EQ(metadataMenuInfo({ { 0, "H minor", {} } }, spelling).keyTitle, "Add Key");
    EXPECT_EQ(metadataMenuInfo({ { 0, "C#m", {} } }, KeySpelling::sharp).keyValue, "C\u266F Minor");
    EXPECT_EQ(metadataMenuInfo({ { 0, {}, {} } }, spelling).bpmValue, "0");
    EXPECT_EQ(metadataMenuInfo({}, spelling).bpmTitle, "Add BPM");

    // Several rows: the same values everywhere show; spellings of one key count as the same key.
    EXPECT_EQ(metadataMenuInfo({ { 90, "C#m", { "Dark" } }, { 90, "Dbm", { "Dark" } } }, KeySpelling::sharp),
        (MetadataMenuInfo { "Edit BPM", "90", "Edit Key", "C\u266F Minor", "Edit Tags", "Dark" }));
    // Any value makes the title "Edit"; differing or partly missing values show nothing.
    EXPECT_EQ(metadataMenuInfo({ { 90, "Am", { "Dark" } }, { 120, {}, { "Dark", "Drums" } }, {} }, spelling),
        (MetadataMenuInfo { "Edit BPM", std::nullopt, "Edit Key", std::nullopt, "Edit Tags", std::nullopt }));
    EXPECT_EQ(metadataMenuInfo({ { {}, "Am", {} }, { {}, "Am", {} } }, spelling),
        (MetadataMenuInfo { "Add BPM", std::nullopt, "Edit Key", "A Minor", "Add Tags", std::nullopt }));
    EXPECT_EQ(metadataMenuInfo({ { {}, "junk", {} }, { {}, {}, {} } }, spelling).keyTitle, "Add Key");
}
