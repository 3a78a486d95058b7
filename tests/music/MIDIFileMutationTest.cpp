// Damaged MIDI files: realistic files from our writer, corrupted in thousands of reproducible
// ways, must parse without a crash into results that make sense. Run under the sanitizers this
// also catches reads past the buffer.

#include "music/MIDIFileParser.h"
#include "music/MIDIFileWriter.h"
#include "music/MIDITempoScan.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

using kivo::music::MIDIFileData;
using kivo::music::MIDIFileParser;
using kivo::music::MIDIFileWriter;
using kivo::music::MIDINote;
using kivo::music::MIDITempoScan;
using Bytes = std::vector<std::uint8_t>;

namespace {

// Four bars of chords and a bass line over a tempo track with changes and the usual meta events.
Bytes songFormat1()
{
    MIDIFileWriter writer(1, 480);
    const int tempo = writer.addTrack();
    writer.addTrackName(tempo, "Tempo");
    writer.addMeta(tempo, 0, 0x58, std::string("\x04\x02\x18\x08", 4)); // 4/4
    writer.addMeta(tempo, 0, 0x59, std::string("\x00\x00", 2)); // C major
    writer.addTempoBPM(tempo, 0, 92);
    writer.addTempoBPM(tempo, 1920 * 2, 100);
    writer.addTempoBPM(tempo, 1920 * 3, 84.5);

    const int chords = writer.addTrack();
    writer.addTrackName(chords, "Keys");
    writer.addProgramChange(chords, 0, 4);
    writer.addControlChange(chords, 0, 7, 100);
    const int roots[] = { 60, 57, 65, 67 };
    for (int bar = 0; bar < 4; ++bar) {
        for (int offset : { 0, 4, 7 })
            writer.addNote(chords, bar * 1920, 1800, roots[bar] + offset, 70 + offset);
        writer.addRaw(chords, bar * 1920 + 960, { 0xE0, 0x00, 0x48 }); // a little pitch bend
    }
    writer.addSysEx(chords, 0, { 0x7E, 0x7F, 0x09, 0x01, 0xF7 });

    const int bass = writer.addTrack();
    writer.addProgramChange(bass, 0, 33, 1);
    for (int step = 0; step < 32; ++step)
        writer.addNote(bass, step * 240, 200, roots[step / 8] - 24 + (step % 2) * 12, 90 + step % 3, 1);
    return writer.bytes();
}

// One merged track with running status and offs as zero-velocity ons, the compact way.
Bytes melodyFormat0()
{
    MIDIFileWriter writer(0, 96);
    writer.setRunningStatus(MIDIFileWriter::RunningStatus::on);
    writer.setNoteOffStyle(MIDIFileWriter::NoteOffStyle::zeroVelocityOn);
    writer.addTempoBPM(0, 0, 128);
    const int scale[] = { 0, 2, 3, 5, 7, 8, 10, 12 };
    for (int i = 0; i < 64; ++i)
        writer.addNote(0, i * 48, i % 4 == 3 ? 0 : 40 + i % 5, 62 + scale[(i * 5) % 8], 60 + i % 40, i % 3);
    writer.addNote(1, 0, 64 * 48, 38, 100, 9); // a long drone on the drum channel
    writer.addMeta(1, 1000, 0x06, "Marker");
    return writer.bytes();
}

Bytes smpteDrums()
{
    MIDIFileWriter writer(1, 0xE728);
    const int drums = writer.addTrack();
    writer.addTempo(drums, 0, 400000); // ignored under SMPTE timing
    for (int i = 0; i < 48; ++i) {
        writer.addNote(drums, i * 125, 60, i % 4 == 0 ? 36 : 42, 110, 9);
        if (i % 8 == 4)
            writer.addNote(drums, i * 125, 90, 38, 120, 9);
    }
    return writer.bytes();
}

// A longer header and a chunk of an unknown type before the tracks, as some tools write.
Bytes withExtraChunks()
{
    MIDIFileWriter writer(1, 240);
    writer.addTempoBPM(0, 0, 140);
    for (int i = 0; i < 24; ++i)
        writer.addNote(1, i * 120, 100, 48 + (i * 7) % 24, 100);
    Bytes song = writer.bytes();
    Bytes out(song.begin(), song.begin() + 8);
    out[7] = 10;
    out.insert(out.end(), song.begin() + 8, song.begin() + 14);
    out.insert(out.end(), { 0, 0, 0, 0 });
    out.insert(out.end(), { 'X', 'F', 'I', 'H', 0, 0, 0, 3, 1, 2, 3 });
    out.insert(out.end(), song.begin() + 14, song.end());
    out[11] = std::uint8_t(out[11] + 1); // the unknown chunk counts as a track
    return out;
}

// Tempo changes in several tracks, the earliest neither in the first track nor first in its own:
// the tempo a file starts with is the earliest across all tracks, the first track winning ties.
Bytes temposAcrossTracks()
{
    MIDIFileWriter writer(1, 96);
    writer.addTrackName(writer.addTrack(), "Empty");
    const int late = writer.addTrack();
    writer.addTempoBPM(late, 400, 90);
    writer.addTempoBPM(late, 500, 91);
    const int early = writer.addTrack();
    writer.addNote(early, 0, 96, 60, 100);
    writer.addTempoBPM(early, 200, 133);
    const int tie = writer.addTrack();
    writer.addTempoBPM(tie, 200, 77);
    writer.addNote(tie, 300, 96, 64, 100);
    return writer.bytes();
}

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

// Where a length field follows a chunk type, so the corruption can aim at it.
std::vector<std::size_t> lengthFields(const Bytes& bytes)
{
    std::vector<std::size_t> positions;
    for (std::size_t i = 0; i + 8 <= bytes.size(); ++i) {
        if ((bytes[i] == 'M' && bytes[i + 1] == 'T') || (bytes[i] == 'X' && bytes[i + 1] == 'F'))
            positions.push_back(i + 4);
    }
    return positions;
}

class Corruptor {
public:
    explicit Corruptor(std::uint32_t seed)
        : m_random(seed)
    {
    }

    Bytes corrupt(Bytes bytes)
    {
        const int rounds = 1 + int(next(3));
        for (int r = 0; r < rounds && !bytes.empty(); ++r)
            corruptOnce(bytes);
        return bytes;
    }

private:
    // The engine's own output, not a distribution: the same variants on every standard library.
    std::uint32_t next(std::uint32_t bound) { return bound == 0 ? 0 : std::uint32_t(m_random() % bound); }
    std::uint8_t anyByte() { return std::uint8_t(next(256)); }

    void corruptOnce(Bytes& bytes)
    {
        const std::size_t at = next(std::uint32_t(bytes.size()));
        switch (next(8)) {
        case 0:
            bytes[at] ^= std::uint8_t(1u << next(8));
            break;
        case 1:
            for (std::uint32_t n = 1 + next(4); n > 0; --n)
                bytes[next(std::uint32_t(bytes.size()))] = anyByte();
            break;
        case 2:
            bytes.resize(at);
            break;
        case 3:
            for (std::uint32_t n = 1 + next(8); n > 0; --n)
                bytes.insert(bytes.begin() + std::ptrdiff_t(at), anyByte());
            break;
        case 4:
            bytes.erase(bytes.begin() + std::ptrdiff_t(at),
                bytes.begin() + std::ptrdiff_t(std::min(bytes.size(), at + 1 + next(8))));
            break;
        case 5: {
            // A chunk length of all ones, near the end of the file or anything at all.
            auto fields = lengthFields(bytes);
            if (fields.empty())
                break;
            std::size_t field = fields[next(std::uint32_t(fields.size()))];
            std::uint32_t value = next(3) == 0 ? 0xFFFFFFFFu : std::uint32_t(m_random());
            for (int i = 0; i < 4 && field + std::size_t(i) < bytes.size(); ++i)
                bytes[field + std::size_t(i)] = std::uint8_t(value >> (24 - 8 * i));
            break;
        }
        case 6: {
            // The longest variable-length value, or one that never ends, anywhere: a delta, a
            // system exclusive or meta length.
            const std::uint8_t longest[] = { 0xFF, 0xFF, 0xFF, 0x7F };
            const std::uint8_t endless[] = { 0xFF, 0xFF, 0xFF, 0xFF, 0xFF };
            const bool ends = next(2) == 0;
            const std::uint8_t* from = ends ? longest : endless;
            const std::size_t count = ends ? 4 : 5;
            for (std::size_t i = 0; i < count && at + i < bytes.size(); ++i)
                bytes[at + i] = from[i];
            break;
        }
        default:
            // Header fields: the track count or the division.
            if (bytes.size() >= 14) {
                const std::size_t field = next(2) == 0 ? 10 : 12;
                bytes[field] = anyByte();
                bytes[field + 1] = anyByte();
            }
            break;
        }
    }

    std::mt19937 m_random;
};

// Everything a client relies on, whatever the input was.
testing::AssertionResult sane(const MIDIFileData& data, std::size_t inputSize)
{
    if (!std::isfinite(data.duration) || !(data.duration > 0))
        return testing::AssertionFailure() << "duration " << data.duration;
    if (data.initialBPM
        && !(std::isfinite(*data.initialBPM) && *data.initialBPM > 3.5 && *data.initialBPM <= 6e7))
        return testing::AssertionFailure() << "initial tempo " << *data.initialBPM;
    // Every note needs at least a delta and two data bytes of its own.
    if (data.notes.size() > inputSize / 3)
        return testing::AssertionFailure() << data.notes.size() << " notes from " << inputSize << " bytes";
    double previousStart = 0;
    for (const MIDINote& n : data.notes) {
        if (!std::isfinite(n.start) || n.start < previousStart)
            return testing::AssertionFailure() << "start " << n.start << " after " << previousStart;
        if (!std::isfinite(n.duration) || !(n.duration > 0) || n.start + n.duration > data.duration)
            return testing::AssertionFailure() << "note of " << n.duration << " s at " << n.start;
        if (n.pitch < 0 || n.pitch > 255 || n.velocity < 1 || n.velocity > 255 || n.channel < 0
            || n.channel > 15)
            return testing::AssertionFailure()
                << "note " << n.pitch << " v" << n.velocity << " ch" << n.channel;
        previousStart = n.start;
    }
    return testing::AssertionSuccess();
}

} // namespace

TEST(MIDIFileMutation, CorruptedFilesParseSafely)
{
    const std::vector<Bytes> songs { songFormat1(), melodyFormat0(), smpteDrums(), withExtraChunks(),
        temposAcrossTracks() };
    for (const Bytes& song : songs) {
        auto parsed = MIDIFileParser::parse(song);
        ASSERT_TRUE(parsed);
        ASSERT_TRUE(sane(*parsed, song.size()));
        ASSERT_FALSE(parsed->notes.empty());
    }

    int readable = 0;
    int changed = 0;
    for (std::size_t s = 0; s < songs.size(); ++s) {
        const Bytes& song = songs[s];
        const auto original = MIDIFileParser::parse(song);

        // Every truncation, each in a buffer of its own size.
        for (std::size_t length = 0; length < song.size(); ++length) {
            const Bytes cut(song.begin(), song.begin() + std::ptrdiff_t(length));
            if (auto result = MIDIFileParser::parse(cut)) {
                EXPECT_TRUE(sane(*result, length)) << "song " << s << " cut to " << length;
            }
            // The index's tempo read, from any amount read first, agrees with the whole parse.
            EXPECT_EQ(tempoReadAsNeeded(cut, length % 40).first, parsedTempo(cut))
                << "song " << s << " cut to " << length;
        }

        Corruptor corruptor(std::uint32_t(0x4D546864u + s));
        for (int variant = 0; variant < 1250; ++variant) {
            // On the heap at exactly its size, so the sanitizers see any read past the end.
            const Bytes bytes = corruptor.corrupt(song);
            auto result = MIDIFileParser::parse(bytes);
            ASSERT_EQ(tempoReadAsNeeded(bytes, std::size_t(variant) % 64).first,
                result ? result->initialBPM : std::nullopt)
                << "song " << s << " variant " << variant;
            if (!result)
                continue;
            ++readable;
            changed += *result != *original;
            ASSERT_TRUE(sane(*result, bytes.size())) << "song " << s << " variant " << variant;
            ASSERT_EQ(MIDIFileParser::parse(bytes), result) << "song " << s << " variant " << variant;
        }
    }
    // The corruption must neither leave the files alone nor only ever destroy them.
    EXPECT_GT(readable, 2000);
    EXPECT_GT(changed, 1000);
}

TEST(MIDITempoScan, ReadsOnlyAsFarAsTheTempoNeeds)
{
    const Bytes across = temposAcrossTracks();
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
