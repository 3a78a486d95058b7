// The tempo the index reads from the start of a MIDI file, reading only as much as it needs.
// (Damaged files are the fuzz target's: fuzz/MidiFuzz.cpp.)

#include "music/MIDITempoScan.h"
#include "music/MIDIFileParser.h"
#include "music/MIDIFileWriter.h"
#include "support/MIDIFixtures.h"

#include <gtest/gtest.h>

#include <string>

using kivo::music::MIDIFileParser;
using kivo::music::MIDIFileWriter;
using kivo::music::MIDITempoScan;
using Bytes = std::vector<std::uint8_t>;

namespace {

// The tempo as the index reads it: from the start of the file, reading more only while the
// answer needs it. Also gives how much of the file that took.
std::pair<std::optional<double>, std::size_t> tempoReadAsNeeded(const Bytes& bytes, std::size_t first = 0)
{
    const std::string_view all(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    std::size_t have = std::min(first, all.size());
    for (;;) {
        const auto scan = MIDITempoScan::scan(all.substr(0, have), all.size());
        if (scan.complete)
            return { scan.initialBPM, have };
        if (scan.needed <= have || scan.needed > all.size())
            return { -1.0, have }; // a scan that asks for nothing new would never end
        have = std::min(all.size(), std::max(scan.needed, 2 * have));
    }
}

std::optional<double> parsedTempo(const Bytes& bytes)
{
    const auto parsed = MIDIFileParser::parse(bytes);
    return parsed ? parsed->initialBPM : std::nullopt;
}

} // namespace

TEST(MIDITempoScan, ReadsOnlyAsFarAsTheTempoNeeds)
{
    const Bytes across = kivo::test::temposAcrossTracksMIDI();
    ASSERT_TRUE(parsedTempo(across));
    EXPECT_NEAR(*parsedTempo(across), 133.0, 0.01);
    EXPECT_EQ(tempoReadAsNeeded(across).first, parsedTempo(across));

    // Megabytes of notes after a tempo at tick 0: the answer is in the first bytes, whether the
    // notes follow in the same track or in later ones.
    MIDIFileWriter merged(0, 480);
    MIDIFileWriter split(1, 480);
    merged.addTempoBPM(0, 0, 174);
    split.addTempoBPM(0, 0, 174);
    for (int i = 0; i < 200000; ++i) {
        merged.addNote(0, 120 + i * 60, 50, 36 + i % 48, 100);
        split.addNote(1 + i / 50000, 120 + i * 60, 50, 36 + i % 48, 100);
    }
    for (const Bytes& big : { merged.bytes(), split.bytes() }) {
        ASSERT_GT(big.size(), 1000000u);
        const auto [tempo, read] = tempoReadAsNeeded(big, 64);
        EXPECT_EQ(tempo, parsedTempo(big));
        EXPECT_NEAR(*tempo, 174.0, 0.01);
        EXPECT_LE(read, 256u);
    }

    // Only a tempo at tick 0 ends the search early: one later in the first track leaves every
    // other track to be looked at, up to that tick.
    MIDIFileWriter late(1, 480);
    late.addTempoBPM(0, 960, 100);
    for (int i = 0; i < 20000; ++i)
        late.addNote(1, i * 60, 50, 60, 100);
    late.addTempoBPM(2, 959, 140);
    const Bytes lateBytes = late.bytes();
    EXPECT_EQ(tempoReadAsNeeded(lateBytes, 64).first, parsedTempo(lateBytes));
    EXPECT_NEAR(*parsedTempo(lateBytes), 140.0, 0.01);
}
