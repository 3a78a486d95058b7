#include "music/BpmFromName.h"

#include <gtest/gtest.h>

using kivo::music::bpmFromName;

TEST(BpmFromName, PatternFirstThenBareNumbersThatAgreeAndFitTheRange)
{
    const std::pair<const char*, std::optional<std::int64_t>> cases[] { { "Loop 90bpm.wav", 90 },
        { "Loop 128 BPM", 128 }, { "Drum_140_bpm", 140 }, { "Perc 75-Bpm", 75 }, { "Hat 100. _-bPm", 100 },
        { "Hat 100\u00A0BPM", 100 },
        // No range check on the pattern, and the first match wins.
        { "Slow 20bpm", 20 }, { "Fast 999 bpm 120 bpm", 999 }, { "Kit 12 34bpm", 34 }, { "x0bpm", 0 },
        // The extension takes part in the pattern but not in the bare-number fallback.
        { "Loop.120bpm", 120 }, { "Loop.120", std::nullopt },
        // "bpm" must follow the digits directly or across separators only.
        { "Loop 90 x bpm", 90 }, { "Loop 200 x bpm", std::nullopt },
        // Bare numbers: one value, within 60-180, standing alone.
        { "Drums 120 Fill 2", 120 }, { "Loop 090", std::nullopt }, { "Kit 100 120", std::nullopt },
        { "Kit 100 x 100.wav", 100 }, { "Song 2024 95", 95 }, { "Edge 60", 60 }, { "Edge 180", 180 },
        { "Edge 59 181", std::nullopt }, { "Take120", std::nullopt }, { "", std::nullopt },
        // Non-ASCII digits split nothing and parse as nothing.
        { "Loop \u0661\u0662\u0660", std::nullopt }, { "Loop \u0661\u0662\u0660 100", 100 },
        // Digit runs too long for 64 bits: a pattern match that overflows falls back to the bare
        // numbers, and an overflowing bare number is ignored rather than breaking agreement.
        { "Loop 99999999999999999999bpm 120", 120 }, { "Loop 9223372036854775807bpm", 9223372036854775807LL },
        { "Loop 9223372036854775808bpm", std::nullopt }, { "Loop 99999999999999999999 120", 120 },
        // Mixed-script digits form one run that does not parse: U+0661 then "20".
        { "Loop \u066120bpm 100", 100 } };
    for (const auto& [name, bpm] : cases)
        EXPECT_EQ(bpmFromName(name), bpm) << name;
}
