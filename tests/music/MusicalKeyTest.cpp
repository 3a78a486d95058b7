#include "music/MusicalKey.h"

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

TEST(MusicalKey, ParseReadsRootsAccidentalsModesAndWheelCodes)
{
    EXPECT_EQ(parsed("Am"), "9 minor A");
    EXPECT_EQ(parsed("AM"), "9 major A");
    EXPECT_EQ(parsed("  F# minor \t"), "6 minor F#");
    EXPECT_EQ(parsed("A min"), "9 minor A");
    EXPECT_EQ(parsed("A Minor"), "9 minor A");
    EXPECT_EQ(parsed("a"), "9 major A");
    EXPECT_EQ(parsed("Db"), "1 major Db");
    EXPECT_EQ(parsed("C\u266Fm"), "1 minor C#");
    EXPECT_EQ(parsed("E\u266D major"), "3 major Eb");
    EXPECT_EQ(parsed("Cmaj"), "0 major C");
    // Accidentals past the natural notes wrap and keep the written spelling.
    EXPECT_EQ(parsed("Cb"), "11 major Cb");
    EXPECT_EQ(parsed("B#"), "0 major B#");
    EXPECT_EQ(parsed("E#"), "5 major E#");
    // The flat must be a lower-case b, the root letter may be either case.
    EXPECT_EQ(parsed("bb"), "10 major Bb");
    EXPECT_EQ(parsed("BB"), "none");
    EXPECT_EQ(parsed("BBM"), "none");
    EXPECT_EQ(parsed("8a"), "9 minor A");
    EXPECT_EQ(parsed("8A"), "9 minor A");
    EXPECT_EQ(parsed("12B"), "4 major E");
    EXPECT_EQ(parsed("1A"), "8 minor G#");
    EXPECT_EQ(parsed("3B"), "1 major Db");
    EXPECT_EQ(parsed("+5A"), "0 minor C");
    EXPECT_EQ(parsed("0A"), "none");
    EXPECT_EQ(parsed("13B"), "none");
    EXPECT_EQ(parsed("99999999999999999999A"), "none");
    EXPECT_EQ(parsed("A"), "9 major A");
    EXPECT_EQ(parsed("B"), "11 major B");
    for (const char* text : { "", "   ", "Ab7", "H", "Cm7", "Bbsus", "Pad8A", "#", "m", "C##", "A\u0301" })
        EXPECT_EQ(parsed(text), "none") << text;
}

TEST(MusicalKey, FromNameFollowsThePassOrder)
{
    EXPECT_EQ(named("Pad F sharp minor"), "6 minor F#");
    EXPECT_EQ(named("Lead F sharp minor.wav"), "6 minor F#");
    EXPECT_EQ(named("Pad_Em_120"), "4 minor E");
    EXPECT_EQ(named("Bass_Am_Loop"), "9 minor A");
    EXPECT_EQ(named("Vox 8A"), "9 minor A");
    EXPECT_EQ(named("Loop 11b"), "9 major A");
    EXPECT_EQ(named("Chords C# minor"), "1 minor C#");
    EXPECT_EQ(named("Chords Db major"), "1 major Db");
    EXPECT_EQ(named("Keys A minor"), "9 minor A");
    EXPECT_EQ(named("Keys B flat Major"), "10 major Bb");
    EXPECT_EQ(named("Am120 Loop"), "9 minor A");
    EXPECT_EQ(named("Stab Cm7"), "0 minor C");
    EXPECT_EQ(named("Arp F#min2"), "6 minor F#");
    EXPECT_EQ(named("Arp F\u266Fm"), "6 minor F#");
    // A name with two keys gives the first by pass order.
    EXPECT_EQ(named("Am Loop in C major"), "0 major C");
    // An accidental word without a mode is only a fallback, behind any pass-2 key.
    EXPECT_EQ(named("G flat Pad"), "6 major Gb");
    EXPECT_EQ(named("G flat Pad Em"), "4 minor E");
    EXPECT_EQ(named("G flat A sharp"), "6 major Gb");
    EXPECT_EQ(named("Lead G sharp"), "8 major G#");
    // Lone accidentals only on the item's own name; lone natural letters never.
    EXPECT_EQ(named("Keys C# 120"), "1 major C#");
    EXPECT_EQ(named("Keys C# 120", LoneAccidental::reject), "none");
    EXPECT_EQ(named("Keys F\u266F"), "6 major F#");
    EXPECT_EQ(named("Keys A 120"), "none");
    EXPECT_EQ(named("Bb.wav"), "10 major Bb");
    // The extension is not part of the name; a leading dot is not an extension.
    EXPECT_EQ(named("Loop.Am"), "none");
    EXPECT_EQ(named(".Am"), "9 minor A");
    // Non-ASCII letters are token characters, so they do not split a word apart.
    EXPECT_EQ(named("Am\u00E9lie"), "none");
    EXPECT_EQ(named("Прогрессия_Dm"), "2 minor D");
    for (const char* name : { "", "___", "Pad8A", "Kick", "Snare 0A", "Bass 13B", "Bbsus", "C 120" })
        EXPECT_EQ(named(name), "none") << name;
}

TEST(MusicalKey, NamesTextAndRelativeKeys)
{
    EXPECT_EQ(MusicalKey::rootName(10, false, KeySpelling::automatic), "Bb");
    EXPECT_EQ(MusicalKey::rootName(10, true, KeySpelling::automatic), "Bb");
    EXPECT_EQ(MusicalKey::rootName(10, std::nullopt, KeySpelling::automatic), "Bb");
    EXPECT_EQ(MusicalKey::rootName(10, false, KeySpelling::sharp), "A#");
    EXPECT_EQ(MusicalKey::rootName(1, true, KeySpelling::automatic), "C#");
    EXPECT_EQ(MusicalKey::rootName(1, false, KeySpelling::automatic), "Db");
    EXPECT_EQ(MusicalKey::rootName(6, true, KeySpelling::flat), "Gb");
    EXPECT_EQ(MusicalKey::rootName(8, std::nullopt, KeySpelling::sharp), "G#");

    auto cSharpMinor = MusicalKey::parse("C#m");
    ASSERT_TRUE(cSharpMinor);
    EXPECT_EQ(cSharpMinor->keyText(), "C#m");
    EXPECT_EQ(cSharpMinor->displayName(KeySpelling::flat), "D\u266D Minor");
    EXPECT_EQ(cSharpMinor->displayName(KeySpelling::automatic), "C\u266F Minor");
    EXPECT_EQ(MusicalKey::parse("Eb")->keyText(), "Eb");
    EXPECT_EQ(MusicalKey::parse("10A")->displayName(KeySpelling::automatic), "B Minor");
    EXPECT_EQ(MusicalKey::parse("6B")->displayName(KeySpelling::automatic), "B\u266D Major");
    EXPECT_EQ(MusicalKey::parse("C")->displayName(KeySpelling::sharp), "C Major");
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

    EXPECT_EQ(keySpellingFromRaw(2), KeySpelling::sharp);
    EXPECT_EQ(keySpellingFromRaw(3), std::nullopt);
    EXPECT_EQ(keySpellingFromRaw(-1), std::nullopt);
    EXPECT_EQ(pitchClassOfRootName("Gb"), 6);
    EXPECT_EQ(pitchClassOfRootName("Cb"), std::nullopt);
}
