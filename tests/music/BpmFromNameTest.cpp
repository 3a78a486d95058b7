#include "music/BpmFromName.h"

#include <gtest/gtest.h>

using kivo::music::bpmFromName;

TEST(BpmFromName, PatternBeforeBareNumbers)
{
    EXPECT_EQ(bpmFromName("Loop 90bpm.wav"), 90);
    EXPECT_EQ(bpmFromName("Loop 128 BPM"), 128);
    EXPECT_EQ(bpmFromName("Drum_140_bpm"), 140);
    EXPECT_EQ(bpmFromName("Perc 75-Bpm"), 75);
    EXPECT_EQ(bpmFromName("Hat 100. _-bPm"), 100);
    EXPECT_EQ(bpmFromName("Hat 100\u00A0BPM"), 100);
    // No range check on the pattern, and the first match wins.
    EXPECT_EQ(bpmFromName("Slow 20bpm"), 20);
    EXPECT_EQ(bpmFromName("Fast 999 bpm 120 bpm"), 999);
    EXPECT_EQ(bpmFromName("Kit 12 34bpm"), 34);
    EXPECT_EQ(bpmFromName("x0bpm"), 0);
    // The extension takes part in the pattern but not in the bare-number fallback.
    EXPECT_EQ(bpmFromName("Loop.120bpm"), 120);
    EXPECT_EQ(bpmFromName("Loop.120"), std::nullopt);
    // "bpm" must follow the digits directly or across separators only.
    EXPECT_EQ(bpmFromName("Loop 90 x bpm"), 90);
    EXPECT_EQ(bpmFromName("Loop 200 x bpm"), std::nullopt);
}

TEST(BpmFromName, BareNumbersMustAgreeAndFitTheRange)
{
    EXPECT_EQ(bpmFromName("Drums 120 Fill 2"), 120);
    EXPECT_EQ(bpmFromName("Loop 090"), std::nullopt);
    EXPECT_EQ(bpmFromName("Kit 100 120"), std::nullopt);
    EXPECT_EQ(bpmFromName("Kit 100 x 100.wav"), 100);
    EXPECT_EQ(bpmFromName("Song 2024 95"), 95);
    EXPECT_EQ(bpmFromName("Edge 60"), 60);
    EXPECT_EQ(bpmFromName("Edge 180"), 180);
    EXPECT_EQ(bpmFromName("Edge 59 181"), std::nullopt);
    EXPECT_EQ(bpmFromName("Take120"), std::nullopt);
    EXPECT_EQ(bpmFromName(""), std::nullopt);
    // Non-ASCII digits split nothing and parse as nothing.
    EXPECT_EQ(bpmFromName("Loop \u0661\u0662\u0660"), std::nullopt);
    EXPECT_EQ(bpmFromName("Loop \u0661\u0662\u0660 100"), 100);
}

TEST(BpmFromName, DigitRunsTooLongForSixtyFourBits)
{
    // A pattern match that overflows falls back to the bare numbers.
    EXPECT_EQ(bpmFromName("Loop 99999999999999999999bpm 120"), 120);
    EXPECT_EQ(bpmFromName("Loop 9223372036854775807bpm"), 9223372036854775807LL);
    EXPECT_EQ(bpmFromName("Loop 9223372036854775808bpm"), std::nullopt);
    // An overflowing bare number is ignored rather than breaking agreement.
    EXPECT_EQ(bpmFromName("Loop 99999999999999999999 120"), 120);
    // Mixed-script digits form one run that does not parse.
    EXPECT_EQ(bpmFromName("Loop \u0661"
                          "20bpm 100"),
        100);
}
