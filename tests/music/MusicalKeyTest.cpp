#include "music/MusicalKey.h"
#include "music/BpmFromName.h"

#include <gtest/gtest.h>

using namespace kivo::music;

namespace {

std::string describe(const std::optional<MusicalKey>& key)
{
    if (!key)
        return "none";
    return std::to_string(key->pitchClass) + (key->isMinor ? " minor " : " major ") + key->spelling;
}

std::string parsed(std::string_view text)
{
    return describe(MusicalKey::parse(text));
}
std::string named(std::string_view name, LoneAccidental lone = LoneAccidental::accept)
{
    return describe(MusicalKey::fromName(name, lone));
}

} // namespace

TEST(MusicalKey, ParseReadsRootsAccidentalsModesAndWheelCodesAndNamesTextAndRelativeKeys)
{
    const std::pair<const char*, const char*> cases[] { { "Am", "9 minor A" }, { "AM", "9 major A" },
        { "  F# minor \t", "6 minor F#" }, { "A min", "9 minor A" }, { "A Minor", "9 minor A" },
        { "a", "9 major A" }, { "Db", "1 major Db" }, { "C\u266Fm", "1 minor C#" },
        { "E\u266D major", "3 major Eb" }, { "Cmaj", "0 major C" },
        // Accidentals past the natural notes wrap and keep the written spelling.
        { "Cb", "11 major Cb" }, { "B#", "0 major B#" }, { "E#", "5 major E#" },
        // The flat must be a lower-case b, the root letter may be either case.
        { "bb", "10 major Bb" }, { "BB", "none" }, { "BBM", "none" }, { "8a", "9 minor A" },
        { "8A", "9 minor A" }, { "12B", "4 major E" }, { "1A", "8 minor G#" }, { "3B", "1 major Db" },
        { "+5A", "0 minor C" }, { "0A", "none" }, { "13B", "none" }, { "99999999999999999999A", "none" },
        { "A", "9 major A" }, { "B", "11 major B" } };
    for (const auto& [text, key] : cases)
        EXPECT_EQ(parsed(text), key) << text;
    for (const char* text : { "", "   ", "Ab7", "H", "Cm7", "Bbsus", "Pad8A", "#", "m", "C##", "A\u0301" })
        EXPECT_EQ(parsed(text), "none") << text;

    using enum KeySpelling;
    const std::tuple<int, std::optional<bool>, KeySpelling, const char*> roots[] {
        { 10, false, automatic, "Bb" }, { 10, true, automatic, "Bb" }, { 10, std::nullopt, automatic, "Bb" },
        { 10, false, sharp, "A#" }, { 1, true, automatic, "C#" }, { 1, false, automatic, "Db" },
        { 6, true, flat, "Gb" }, { 8, std::nullopt, sharp, "G#" }
    };
    for (const auto& [pc, minor, spelling, name] : roots)
        EXPECT_EQ(MusicalKey::rootName(pc, minor, spelling), name) << pc;

    auto cSharpMinor = MusicalKey::parse("C#m");
    ASSERT_TRUE(cSharpMinor);
    EXPECT_EQ(cSharpMinor->keyText(), "C#m");
    EXPECT_EQ(cSharpMinor->displayName(KeySpelling::flat), "D\u266D Minor");
    EXPECT_EQ(MusicalKey::parse("6B")->displayName(KeySpelling::automatic), "B\u266D Major");
    // Key text reads back to the same key, wheel codes included.
    for (const char* text : { "Am", "F#m", "Eb", "Cb", "8A", "3B", "bb" }) {
        auto key = MusicalKey::parse(text);
        ASSERT_TRUE(key) << text;
        EXPECT_EQ(MusicalKey::parse(key->keyText()), key) << text;
    }

    EXPECT_EQ(MusicalKey::relativeKeyLabel(9, true, KeySpelling::automatic), "Cmaj");
    EXPECT_EQ(MusicalKey::relativeKeyLabel(0, false, KeySpelling::automatic), "Amin");
    EXPECT_EQ(MusicalKey::relativeKeyLabel(4, false, KeySpelling::automatic), "C#min");
    EXPECT_EQ(MusicalKey::relativeKeyLabel(4, false, KeySpelling::flat), "Dbmin");
    EXPECT_EQ(MusicalKey::relativeKeyLabel(0, std::nullopt, KeySpelling::automatic), std::nullopt);
    EXPECT_EQ(MusicalKey::parse("F#m")->relativeKey(KeySpelling::automatic), (MusicalKey { 9, false, "A" }));

    EXPECT_EQ(pitchClassOfRootName("Gb"), 6);
    EXPECT_EQ(pitchClassOfRootName("Cb"), std::nullopt);
}

TEST(MusicalKey, FromNameFollowsThePassOrder)
{
    const std::pair<const char*, const char*> cases[] { { "Pad F sharp minor", "6 minor F#" },
        { "Lead F sharp minor.wav", "6 minor F#" }, { "Pad_Em_120", "4 minor E" },
        { "Bass_Am_Loop", "9 minor A" }, { "Vox 8A", "9 minor A" }, { "Loop 11b", "9 major A" },
        { "Chords C# minor", "1 minor C#" }, { "Chords Db major", "1 major Db" },
        { "Keys A minor", "9 minor A" }, { "Keys B flat Major", "10 major Bb" },
        { "Am120 Loop", "9 minor A" }, { "Stab Cm7", "0 minor C" }, { "Arp F#min2", "6 minor F#" },
        { "Arp F\u266Fm", "6 minor F#" },
        // A name with two keys gives the first by pass order.
        { "Am Loop in C major", "0 major C" },
        // An accidental word without a mode is only a fallback, behind any pass-2 key.
        { "G flat Pad", "6 major Gb" }, { "G flat Pad Em", "4 minor E" }, { "G flat A sharp", "6 major Gb" },
        { "Lead G sharp", "8 major G#" },
        // Lone accidentals only on the item's own name; lone natural letters never.
        { "Keys C# 120", "1 major C#" }, { "Keys F\u266F", "6 major F#" }, { "Keys A 120", "none" },
        { "Bb.wav", "10 major Bb" },
        // The extension is not part of the name; a leading dot is not an extension.
        { "Loop.Am", "none" }, { ".Am", "9 minor A" },
        // Non-ASCII letters are token characters, so they do not split a word apart.
        { "Am\u00E9lie", "none" }, { "Прогрессия_Dm", "2 minor D" } };
    for (const auto& [name, key] : cases)
        EXPECT_EQ(named(name), key) << name;
    for (const char* name : { "", "___", "Pad8A", "Kick", "Snare 0A", "Bass 13B", "Bbsus", "C 120" })
        EXPECT_EQ(named(name), "none") << name;
    EXPECT_EQ(named("Keys C# 120", LoneAccidental::reject), "none");
}

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
