#include "music/MIDIFileParser.h"
#include "music/MIDIFileWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <string>

using kivo::music::MIDIFileData;
using kivo::music::MIDIFileParser;
using kivo::music::MIDIFileWriter;
using kivo::music::MIDINote;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes header(std::uint16_t trackCount, std::uint16_t division, std::uint32_t length = 6)
{
    Bytes out { 'M', 'T', 'h', 'd' };
    MIDIFileWriter::append32(out, length);
    MIDIFileWriter::append16(out, 1);
    MIDIFileWriter::append16(out, trackCount);
    MIDIFileWriter::append16(out, division);
    for (std::uint32_t i = 6; i < length; ++i)
        out.push_back(0xAB);
    return out;
}

Bytes chunk(const char* type, const Bytes& body, std::optional<std::uint32_t> declaredLength = {})
{
    Bytes out(type, type + 4);
    MIDIFileWriter::append32(out, declaredLength.value_or(std::uint32_t(body.size())));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Bytes file(std::uint16_t division, std::initializer_list<Bytes> tracks)
{
    Bytes out = header(std::uint16_t(tracks.size()), division);
    for (const Bytes& t : tracks) {
        Bytes c = chunk("MTrk", t);
        out.insert(out.end(), c.begin(), c.end());
    }
    return out;
}

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

MIDINote note(int pitch, double start, double duration, int velocity = 100, int channel = 0)
{
    return { pitch, start, duration, velocity, channel };
}

// Middle C held for a quarter note from tick 0.
const Bytes quarterC { 0x00, 0x90, 60, 100, 0x60, 0x80, 60, 0 };

// Notes as text, times to the nanosecond: tick arithmetic in doubles need not be exact.
std::string described(const std::vector<MIDINote>& notes)
{
    std::string text;
    char one[128];
    for (const MIDINote& n : notes) {
        std::snprintf(one, sizeof one, "(%d at %.9f for %.9f v%d ch%d) ", n.pitch, n.start, n.duration,
            n.velocity, n.channel);
        text += one;
    }
    return text;
}

} // namespace

TEST(MIDIFileParser, HeaderRules)
{
    ASSERT_TRUE(MIDIFileParser::parse(file(96, { quarterC })));

    Bytes noMagic = file(96, { quarterC });
    noMagic[3] = 'D';
    Bytes hugeHeader = header(1, 96) + chunk("MTrk", quarterC);
    hugeHeader[4] = 0xFF;
    // No magic, a header too short or cut off, no bytes, tracks declared but none present, nothing
    // but an empty track (no time), a header length past the end of the file.
    for (const Bytes& bad : { noMagic, header(1, 96, 5) + chunk("MTrk", quarterC),
             Bytes { 'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1 }, Bytes {}, header(1, 96),
             file(96, { Bytes { 0x00, 0xFF, 0x2F, 0x00 } }), header(1, 96, 6) + Bytes { 0xAB }, hugeHeader })
        EXPECT_EQ(MIDIFileParser::parse(bad), std::nullopt) << bad.size();
    EXPECT_EQ(MIDIFileParser::parse(nullptr, 0), std::nullopt);

    // Extra header bytes are skipped before the first chunk.
    auto longHeader = MIDIFileParser::parse(header(1, 96, 10) + chunk("MTrk", quarterC));
    ASSERT_TRUE(longHeader);
    EXPECT_EQ(described(longHeader->notes), described({ note(60, 0, 0.5) }));
}

TEST(MIDIFileParser, TempoBasedAndSmpteTiming)
{
    // 96 ticks per quarter and no tempo event: the default 120 BPM.
    auto plain = MIDIFileParser::parse(file(96, { quarterC }));
    ASSERT_TRUE(plain);
    EXPECT_EQ(described(plain->notes), described({ note(60, 0, 0.5) }));
    EXPECT_DOUBLE_EQ(plain->duration, 0.5);
    EXPECT_EQ(plain->initialBPM, std::nullopt);

    auto withTempo = [&](std::uint8_t b0, std::uint8_t b1, std::uint8_t b2) {
        return MIDIFileParser::parse(file(96, { Bytes { 0x00, 0xFF, 0x51, 0x03, b0, b1, b2 } + quarterC }));
    };
    EXPECT_EQ(withTempo(0x07, 0xA1, 0x20)->initialBPM, 120.0);
    auto slow = withTempo(0x0F, 0x42, 0x40);
    EXPECT_EQ(slow->initialBPM, 60.0);
    EXPECT_DOUBLE_EQ(slow->notes.at(0).duration, 1.0);
    // A zero tempo is no tempo; a tempo event of another length is skipped whole.
    EXPECT_EQ(withTempo(0, 0, 0)->initialBPM, std::nullopt);
    auto oddLength = MIDIFileParser::parse(
        file(96, { Bytes { 0x00, 0xFF, 0x51, 0x04, 0x0F, 0x42, 0x40, 0x00 } + quarterC }));
    ASSERT_TRUE(oddLength);
    EXPECT_EQ(oddLength->initialBPM, std::nullopt);
    EXPECT_EQ(oddLength->notes.size(), 1u);

    // 120 BPM at 0 and 60 BPM at 960 with 480 TPQ: tick 1440 is 1.0 + 1.0 seconds.
    const Bytes tempoTrack { 0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20, 0x87, 0x40, 0xFF, 0x51, 0x03, 0x0F,
        0x42, 0x40 };
    const Bytes late { 0x8B, 0x20, 0x90, 64, 90, 0x83, 0x60, 0x80, 64, 0 }; // on at 1440, off at 1920
    auto changing = MIDIFileParser::parse(file(480, { tempoTrack, late }));
    ASSERT_TRUE(changing);
    EXPECT_EQ(described(changing->notes), described({ note(64, 2.0, 1.0, 90) }));
    EXPECT_EQ(changing->initialBPM, 120.0);

    // The initial tempo is the earliest over all tracks, the first met among equal ticks.
    const Bytes tempoAt100 { 0x64, 0xFF, 0x51, 0x03, 0x0F, 0x42, 0x40 };
    const Bytes tempoAt0Fast { 0x00, 0xFF, 0x51, 0x03, 0x03, 0xD0, 0x90 }; // 250000: 240 BPM
    const Bytes tempoAt0Slow { 0x00, 0xFF, 0x51, 0x03, 0x0F, 0x42, 0x40 };
    EXPECT_EQ(MIDIFileParser::parse(file(96, { tempoAt100, tempoAt0Fast + quarterC }))->initialBPM, 240.0);
    auto tie = MIDIFileParser::parse(file(96, { tempoAt0Fast, tempoAt0Slow + quarterC }));
    EXPECT_EQ(tie->initialBPM, 240.0);
    // Among equal ticks the last one sets the pace from there.
    EXPECT_DOUBLE_EQ(tie->notes.at(0).duration, 1.0);

    // A division of 0 still counts one tick per quarter.
    auto coarse = MIDIFileParser::parse(file(0, { Bytes { 0x00, 0x90, 60, 100, 0x02, 0x80, 60, 0 } }));
    EXPECT_DOUBLE_EQ(coarse->duration, 1.0);

    // -25 frames per second, 40 ticks per frame: a millisecond per tick, tempo ignored.
    const Bytes track { 0x00, 0xFF, 0x51, 0x03, 0x0F, 0x42, 0x40, 0x0A, 0x90, 60, 100, 0x87, 0x68, 0x80, 60,
        0 };
    auto smpte = MIDIFileParser::parse(file(0xE728, { track }));
    ASSERT_TRUE(smpte);
    ASSERT_EQ(smpte->notes.size(), 1u);
    EXPECT_DOUBLE_EQ(smpte->notes[0].start, 0.010);
    EXPECT_DOUBLE_EQ(smpte->notes[0].duration, 1.0);
    EXPECT_EQ(smpte->initialBPM, std::nullopt);

    // No ticks per frame: tempo-based at 480 per quarter, and the tempo counts again.
    auto fallback = MIDIFileParser::parse(file(0xE700, { track }));
    ASSERT_TRUE(fallback);
    EXPECT_EQ(fallback->initialBPM, 60.0);
    EXPECT_DOUBLE_EQ(fallback->notes.at(0).duration, 1000.0 / 480.0);
}

TEST(MIDIFileParser, NotesArePairedAndSortedByStartKeepingTheirOrder)
{
    // On, on, off, off on one key: the first off ends the first on.
    auto fifo = MIDIFileParser::parse(
        file(96, { Bytes { 0x00, 0x90, 60, 10, 0x30, 0x90, 60, 20, 0x30, 0x80, 60, 0, 0x30, 0x80, 60, 0 } }));
    ASSERT_TRUE(fifo);
    EXPECT_EQ(described(fifo->notes), described({ note(60, 0, 0.5, 10), note(60, 0.25, 0.5, 20) }));
    EXPECT_DOUBLE_EQ(fifo->duration, 0.75);

    // Velocity 0 ends a note; an off without a sounding note and the note-off velocity do nothing;
    // channels pair separately.
    auto mixed = MIDIFileParser::parse(file(96,
        { Bytes { 0x00, 0x80, 62, 0, 0x00, 0x90, 60, 100, 0x00, 0x91, 60, 70, 0x60, 0x90, 60, 0, 0x60, 0x81,
            60, 127 } }));
    ASSERT_TRUE(mixed);
    EXPECT_EQ(described(mixed->notes), described({ note(60, 0, 0.5), note(60, 0, 1.0, 70, 1) }));

    // Notes still held when the bytes run out end at the track's last tick; one that starts
    // there has no length and is dropped, as is a note ended at its own start tick.
    auto held = MIDIFileParser::parse(file(
        96, { Bytes { 0x00, 0x90, 60, 100, 0x00, 0x90, 61, 0x55, 0x00, 0x80, 61, 0, 0x60, 0x90, 62, 100 } }));
    ASSERT_TRUE(held);
    EXPECT_EQ(described(held->notes), described({ note(60, 0, 0.5) }));

    // Only zero-length notes but ticks that pass: a result without notes that lasts the ticks.
    auto silent = MIDIFileParser::parse(
        file(96, { Bytes { 0x00, 0x90, 60, 100, 0x00, 0x80, 60, 0, 0x60, 0xFF, 0x2F, 0x00 } }));
    ASSERT_TRUE(silent);
    EXPECT_TRUE(silent->notes.empty());
    EXPECT_DOUBLE_EQ(silent->duration, 0.5);
    // The same with no ticks passing: none.
    EXPECT_EQ(
        MIDIFileParser::parse(file(96, { Bytes { 0x00, 0x90, 60, 100, 0x00, 0x80, 60, 0 } })), std::nullopt);

    // Key and velocity are kept as read, even out of range.
    auto raw = MIDIFileParser::parse(file(96, { Bytes { 0x00, 0x9F, 0xC8, 0xF0, 0x60, 0x8F, 0xC8, 0 } }));
    EXPECT_EQ(described(raw->notes), described({ note(200, 0, 0.5, 240, 15) }));

    // Collected in note-off order, across tracks; sorted by start, ties in collection order.
    auto sorted = MIDIFileParser::parse(file(96,
        { Bytes { 0x30, 0x90, 70, 100, 0x30, 0x90, 71, 100, 0x30, 0x80, 71, 0, 0x30, 0x80, 70, 0 },
            Bytes { 0x00, 0x90, 40, 100, 0x30, 0x90, 41, 100, 0x30, 0x80, 40, 0, 0x30, 0x80, 41, 0 } }));
    ASSERT_TRUE(sorted);
    std::vector<int> pitches;
    for (const MIDINote& n : sorted->notes)
        pitches.push_back(n.pitch);
    EXPECT_EQ(pitches, (std::vector { 40, 70, 41, 71 }));
    EXPECT_DOUBLE_EQ(sorted->duration, 1.0);
}

TEST(MIDIFileParser, RunningStatusAndSystemMessages)
{
    auto running
        = MIDIFileParser::parse(file(96, { Bytes { 0x00, 0x90, 0x3C, 0x40, 0x00, 0x3E, 0x40, 0x60 } }));
    ASSERT_TRUE(running);
    // Held notes close in no particular order.
    std::sort(running->notes.begin(), running->notes.end(),
        [](const MIDINote& a, const MIDINote& b) { return a.pitch < b.pitch; });
    EXPECT_EQ(described(running->notes), described({ note(0x3C, 0, 0.5, 0x40), note(0x3E, 0, 0.5, 0x40) }));

    // A data byte first: the track is empty.
    EXPECT_EQ(MIDIFileParser::parse(file(96, { Bytes { 0x00, 0x3C, 0x40, 0x60, 0x80, 0x3C, 0x00 } })),
        std::nullopt);

    // Meta and system exclusive messages keep the running status, and all the other kinds of
    // message are read past by their sizes.
    const Bytes track { 0x00, 0x90, 60, 100, //
        0x00, 0xFF, 0x01, 0x03, 'a', 'b', 'c', //
        0x00, 0xF0, 0x02, 0x7E, 0xF7, //
        0x00, 0xF7, 0x01, 0x00, //
        0x00, 0xF8, 0x00, 0xF1, //
        0x00, 0xB0, 7, 100, 0x00, 0xA0, 60, 5, 0x00, 0xE0, 0, 64, 0x00, 0xC0, 3, 0x00, 0xD0, 9, //
        0x00, 0x90, 64, 80, //
        0x00, 0xFF, 0x2F, 0x00, // the end-of-track event does not stop the reading
        0x60, 60, 0, 0x00, 64, 0 };
    auto mixed = MIDIFileParser::parse(file(96, { track }));
    ASSERT_TRUE(mixed);
    EXPECT_EQ(described(mixed->notes), described({ note(60, 0, 0.5), note(64, 0, 0.5, 80) }));

    // A delta time of more than four bytes ends the track; so does a message cut short.
    auto longDelta = MIDIFileParser::parse(
        file(96, { quarterC + Bytes { 0x80, 0x80, 0x80, 0x80, 0x00, 0x90, 62, 100, 0x10 } }));
    EXPECT_DOUBLE_EQ(longDelta->duration, 0.5);
    EXPECT_EQ(described(longDelta->notes), described({ note(60, 0, 0.5) }));
    auto cut = MIDIFileParser::parse(file(96, { Bytes { 0x00, 0x90, 60, 100, 0x60, 0x80, 60 } }));
    EXPECT_EQ(described(cut->notes), described({ note(60, 0, 0.5) }));
    // A four-byte delta is still read: 0x0FFFFFFF ticks.
    auto longest = MIDIFileParser::parse(file(96, { Bytes { 0x00, 0x90, 60, 100, 0xFF, 0xFF, 0xFF, 0x7F } }));
    EXPECT_DOUBLE_EQ(longest->duration, 0x0FFFFFFF * 0.5 / 96);
    // A system exclusive length beyond the track skips to its end.
    auto sysex = MIDIFileParser::parse(file(96, { Bytes { 0x00, 0x90, 60, 100, 0x60, 0xF0, 0x8F, 0x00 } }));
    EXPECT_EQ(described(sysex->notes), described({ note(60, 0, 0.5) }));
}

TEST(MIDIFileParser, Chunks)
{
    const Bytes second { 0x60, 0x90, 72, 100, 0x60, 0x80, 72, 0 };

    // A track declared longer than the file adds nothing; the next chunk is looked for right
    // after its length field, where the bytes it claims would have begun.
    Bytes cutShort = header(2, 96) + chunk("MTrk", {}, 1000) + chunk("MTrk", second);
    auto afterCut = MIDIFileParser::parse(cutShort);
    ASSERT_TRUE(afterCut);
    EXPECT_EQ(described(afterCut->notes), described({ note(72, 0.5, 0.5) }));

    // Chunks of other types are skipped and count against the declared tracks.
    Bytes other
        = header(2, 96) + chunk("XFIH", { 1, 2, 3 }) + chunk("MTrk", quarterC) + chunk("MTrk", second);
    EXPECT_EQ(described(MIDIFileParser::parse(other)->notes), described({ note(60, 0, 0.5) }));
    Bytes enough
        = header(3, 96) + chunk("XFIH", { 1, 2, 3 }) + chunk("MTrk", quarterC) + chunk("MTrk", second);
    EXPECT_EQ(MIDIFileParser::parse(enough)->notes.size(), 2u);

    // A chunk type that is not ASCII ends the chunks; so does a cut-off chunk header.
    Bytes binary = header(2, 96) + chunk("MTrk", quarterC) + chunk("MTr\xC3", second);
    EXPECT_EQ(MIDIFileParser::parse(binary)->notes.size(), 1u);
    Bytes stub = header(2, 96) + chunk("MTrk", quarterC) + Bytes { 'M', 'T', 'r', 'k', 0, 0 };
    EXPECT_EQ(MIDIFileParser::parse(stub)->notes.size(), 1u);

    // Held notes close per track, and the playing time is the latest note end over all tracks.
    auto tracks = MIDIFileParser::parse(file(96, { Bytes { 0x00, 0x90, 50, 100, 0x83, 0x00 }, second }));
    ASSERT_TRUE(tracks);
    EXPECT_EQ(described(tracks->notes), described({ note(50, 0, 2.0), note(72, 0.5, 0.5) }));
    EXPECT_DOUBLE_EQ(tracks->duration, 2.0);
}

TEST(MIDIFileWriter, WritesWhatTheParserReads)
{
    for (auto style :
        { MIDIFileWriter::NoteOffStyle::noteOff, MIDIFileWriter::NoteOffStyle::zeroVelocityOn }) {
        for (int format : { 0, 1 }) {
            MIDIFileWriter writer(format, 480);
            writer.setNoteOffStyle(style);
            const int tempo = writer.addTrack();
            writer.addTrackName(tempo, "tempo");
            writer.addTempoBPM(tempo, 0, 120);
            writer.addTempoBPM(tempo, 960, 60);
            const int notes = writer.addTrack();
            writer.addProgramChange(notes, 0, 5, 2);
            writer.addNote(notes, 0, 480, 60, 100, 2);
            writer.addNote(notes, 480, 480, 60, 90, 2); // starts where the last one ends
            writer.addNote(notes, 960, 0, 61, 80); // zero length: written but dropped on reading
            writer.addNote(notes, 1440, 480, 62, 70);
            writer.addControlChange(notes, 1920, 64, 0);
            writer.addSysEx(notes, 1920, { 0x7E, 0x7F, 0x09, 0x01, 0xF7 });

            Bytes plain = writer.bytes();
            writer.setRunningStatus(MIDIFileWriter::RunningStatus::on);
            Bytes compact = writer.bytes();
            // Offs written as zero-velocity ons share the status of the ons.
            if (style == MIDIFileWriter::NoteOffStyle::zeroVelocityOn) {
                EXPECT_LT(compact.size(), plain.size());
            }
            EXPECT_EQ(plain[9], format);
            EXPECT_EQ(plain[11], format == 0 ? 1 : 2);

            const std::vector expected { note(60, 0, 0.5, 100, 2), note(60, 0.5, 0.5, 90, 2),
                note(62, 2.0, 1.0, 70) };
            for (const Bytes& bytes : { plain, compact }) {
                auto parsed = MIDIFileParser::parse(bytes);
                ASSERT_TRUE(parsed);
                EXPECT_EQ(described(parsed->notes), described(expected));
                EXPECT_DOUBLE_EQ(parsed->duration, 3.0);
                EXPECT_EQ(parsed->initialBPM, 120.0);
            }
            EXPECT_EQ(MIDIFileParser::parse(plain), MIDIFileParser::parse(compact));
        }
    }

    // A track can last beyond its last event.
    MIDIFileWriter writer(0, 96);
    writer.setTrackEnd(0, 192);
    EXPECT_DOUBLE_EQ(MIDIFileParser::parse(writer.bytes())->duration, 1.0);

    Bytes vlq;
    for (std::uint32_t value : { 0u, 0x7Fu, 0x80u, 0x3FFFu, 0x4000u, 0x0FFFFFFFu })
        MIDIFileWriter::appendVariableLength(vlq, value);
    EXPECT_EQ(vlq, (Bytes { 0x00, 0x7F, 0x81, 0x00, 0xFF, 0x7F, 0x81, 0x80, 0x00, 0xFF, 0xFF, 0xFF, 0x7F }));
}
