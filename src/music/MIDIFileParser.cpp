#include "music/MIDIFileParser.h"

#include <algorithm>
#include <map>
#include <new>

namespace kivo::music {

namespace {

constexpr double kDefaultTempo = 500000.0; // microseconds per quarter note: 120 BPM
constexpr std::int64_t kSmpteFallbackTicksPerQuarter = 480;

// A cursor over the bytes; an operation that fails leaves the cursor where it was.
class ByteReader {
public:
    ByteReader(const std::uint8_t* data, std::size_t size)
        : m_data(data)
        , m_size(size)
    {
    }

    std::size_t remaining() const { return m_size - m_pos; }
    bool atEnd() const { return m_pos >= m_size; }
    std::size_t position() const { return m_pos; }

    // The bytes stay in the buffer: the returned reader covers them.
    std::optional<ByteReader> readBytes(std::int64_t n)
    {
        if (n < 0 || std::uint64_t(n) > remaining())
            return std::nullopt;
        ByteReader part(m_data + m_pos, std::size_t(n));
        m_pos += std::size_t(n);
        return part;
    }

    std::optional<std::uint8_t> readByte()
    {
        if (atEnd())
            return std::nullopt;
        return m_data[m_pos++];
    }

    std::optional<std::uint8_t> peekByte() const
    {
        if (atEnd())
            return std::nullopt;
        return m_data[m_pos];
    }

    std::optional<std::uint16_t> read16()
    {
        if (remaining() < 2)
            return std::nullopt;
        std::uint16_t value = std::uint16_t(m_data[m_pos] << 8 | m_data[m_pos + 1]);
        m_pos += 2;
        return value;
    }

    // Two 16-bit halves, high half first.
    std::optional<std::int64_t> read32()
    {
        if (remaining() < 4)
            return std::nullopt;
        auto high = read16();
        auto low = read16();
        return std::int64_t(*high) << 16 | *low;
    }

    void skip(std::int64_t n)
    {
        if (n <= 0)
            return;
        m_pos += std::size_t(std::min<std::uint64_t>(std::uint64_t(n), remaining()));
    }

    // At most four bytes, seven bits each, most significant first.
    std::optional<std::int64_t> readVariableLength()
    {
        std::size_t start = m_pos;
        std::int64_t value = 0;
        for (int i = 0; i < 4; ++i) {
            auto byte = readByte();
            if (!byte)
                break;
            value = value << 7 | (*byte & 0x7F);
            if (!(*byte & 0x80))
                return value;
        }
        m_pos = start;
        return std::nullopt;
    }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

struct RawNote {
    std::int64_t pitch;
    std::int64_t startTick;
    std::int64_t endTick;
    std::int64_t velocity;
    std::int64_t channel;
};

struct TempoEvent {
    std::int64_t tick;
    double microsPerQuarter;
};

struct TempoMapEntry {
    std::int64_t tick;
    double seconds;
    double secondsPerTick;
};

struct ActiveEntry {
    std::int64_t startTick;
    std::int64_t velocity;
};

// The notes sounding on one key and channel, oldest first.
struct ActiveList {
    std::vector<ActiveEntry> entries;
    std::size_t head = 0;

    bool empty() const { return head == entries.size(); }
    ActiveEntry takeFirst()
    {
        ActiveEntry first = entries[head++];
        if (empty()) {
            entries.clear();
            head = 0;
        }
        return first;
    }
};

bool isAscii(const std::uint8_t* bytes)
{
    return std::all_of(bytes, bytes + 4, [](std::uint8_t b) { return b < 0x80; });
}

class TrackParser {
public:
    TrackParser(std::vector<RawNote>& notes, std::vector<TempoEvent>& tempos)
        : m_notes(notes)
        , m_tempos(tempos)
    {
    }

    // Returns the track's final tick.
    std::int64_t parse(ByteReader track)
    {
        m_tick = 0;
        m_active.clear();
        readEvents(track);
        closeHeldNotes();
        return m_tick;
    }

private:
    void readEvents(ByteReader& in)
    {
        std::optional<std::uint8_t> runningStatus;
        for (;;) {
            auto delta = in.readVariableLength();
            if (!delta)
                return;
            m_tick += *delta;

            auto peeked = in.peekByte();
            if (!peeked)
                return;
            std::uint8_t status = *peeked;
            if (status < 0x80) {
                if (!runningStatus || !(*runningStatus & 0x80))
                    return;
                status = *runningStatus;
            } else {
                in.readByte();
                if (status <= 0xEF)
                    runningStatus = status;
            }
            if (!readEvent(in, status))
                return;
        }
    }

    // False when the event could not be read whole, which ends the track.
    bool readEvent(ByteReader& in, std::uint8_t status)
    {
        const int channel = status & 0x0F;
        switch (status & 0xF0) {
        case 0x80:
        case 0x90: {
            auto key = in.readByte();
            if (!key)
                return false;
            auto velocity = in.readByte();
            if (!velocity)
                return false;
            if ((status & 0xF0) == 0x90 && *velocity > 0)
                noteOn(channel, *key, *velocity);
            else
                noteOff(channel, *key);
            return true;
        }
        case 0xA0:
        case 0xB0:
        case 0xE0:
            return in.readByte() && in.readByte();
        case 0xC0:
        case 0xD0:
            return bool(in.readByte());
        default:
            break;
        }
        if (status == 0xF0 || status == 0xF7) {
            auto length = in.readVariableLength();
            if (!length)
                return false;
            in.skip(*length);
            return true;
        }
        if (status == 0xFF)
            return readMeta(in);
        return true;
    }

    bool readMeta(ByteReader& in)
    {
        auto type = in.readByte();
        if (!type)
            return false;
        auto length = in.readVariableLength();
        if (!length)
            return false;
        if (*type == 0x51 && *length == 3) {
            if (auto bytes = in.readBytes(3)) {
                auto b0 = *bytes->readByte(), b1 = *bytes->readByte(), b2 = *bytes->readByte();
                std::int64_t tempo = std::int64_t(b0) << 16 | std::int64_t(b1) << 8 | b2;
                if (tempo != 0)
                    m_tempos.push_back({ m_tick, double(tempo) });
                return true;
            }
        }
        in.skip(*length);
        return true;
    }

    void noteOn(int channel, std::uint8_t key, std::uint8_t velocity)
    {
        m_active[channel * 256 + key].entries.push_back({ m_tick, velocity });
    }

    void noteOff(int channel, std::uint8_t key)
    {
        auto found = m_active.find(channel * 256 + key);
        if (found == m_active.end() || found->second.empty())
            return;
        ActiveEntry entry = found->second.takeFirst();
        m_notes.push_back({ key, entry.startTick, m_tick, entry.velocity, channel });
    }

    // Notes still held end where the track ends; one begun at that very tick has no length.
    void closeHeldNotes()
    {
        for (auto& [key, list] : m_active) {
            for (std::size_t i = list.head; i < list.entries.size(); ++i) {
                const ActiveEntry& entry = list.entries[i];
                if (entry.startTick < m_tick)
                    m_notes.push_back({ key % 256, entry.startTick, m_tick, entry.velocity, key / 256 });
            }
        }
        m_active.clear();
    }

    std::vector<RawNote>& m_notes;
    std::vector<TempoEvent>& m_tempos;
    std::map<int, ActiveList> m_active;
    std::int64_t m_tick = 0;
};

// Seconds from the start of the file for a tick, under the file's timing.
class TickClock {
public:
    static TickClock fixed(double secondsPerTick)
    {
        TickClock clock;
        clock.m_map.push_back({ 0, 0.0, secondsPerTick });
        return clock;
    }

    // The tempo events must already be in tick order.
    static TickClock fromTempos(std::int64_t ticksPerQuarter, const std::vector<TempoEvent>& sorted)
    {
        TickClock clock;
        const double tpq = double(ticksPerQuarter);
        clock.m_map.reserve(sorted.size() + 1);
        clock.m_map.push_back({ 0, 0.0, kDefaultTempo / 1000000.0 / tpq });
        double seconds = 0;
        std::int64_t previousTick = 0;
        double previousTempo = kDefaultTempo;
        for (const TempoEvent& event : sorted) {
            seconds += previousTempo / 1000000.0 / tpq * double(event.tick - previousTick);
            clock.m_map.push_back({ event.tick, seconds, event.microsPerQuarter / 1000000.0 / tpq });
            previousTick = event.tick;
            previousTempo = event.microsPerQuarter;
        }
        return clock;
    }

    double seconds(std::int64_t tick) const
    {
        // The last entry at or before the tick; the first entry sits at tick 0 and ticks are never negative.
        auto after = std::upper_bound(m_map.begin(), m_map.end(), tick,
            [](std::int64_t t, const TempoMapEntry& entry) { return t < entry.tick; });
        const TempoMapEntry& entry = after == m_map.begin() ? m_map.front() : *(after - 1);
        return entry.seconds + entry.secondsPerTick * double(tick - entry.tick);
    }

private:
    std::vector<TempoMapEntry> m_map;
};

std::optional<MIDIFileData> parseFile(const std::uint8_t* data, std::size_t size)
{
    ByteReader in(data, size);

    auto magic = in.readBytes(4);
    if (!magic || std::string_view(reinterpret_cast<const char*>(data), 4) != "MThd")
        return std::nullopt;
    auto headerLength = in.read32();
    if (!headerLength || *headerLength < 6)
        return std::nullopt;
    auto format = in.read16();
    auto trackCount = format ? in.read16() : std::nullopt;
    auto division = trackCount ? in.read16() : std::nullopt;
    if (!division)
        return std::nullopt;
    in.skip(*headerLength - 6);

    std::int64_t ticksPerQuarter = 0;
    std::optional<double> fixedSecondsPerTick;
    if (!(*division & 0x8000)) {
        ticksPerQuarter = std::max<std::int64_t>(*division & 0x7FFF, 1);
    } else {
        const int framesPerSecond = 256 - (*division >> 8);
        const int ticksPerFrame = *division & 0xFF;
        if (ticksPerFrame == 0)
            ticksPerQuarter = kSmpteFallbackTicksPerQuarter;
        else
            fixedSecondsPerTick = 1.0 / (double(framesPerSecond) * double(ticksPerFrame));
    }

    std::vector<RawNote> rawNotes;
    std::vector<TempoEvent> tempos;
    TrackParser trackParser(rawNotes, tempos);
    std::int64_t maxTick = 0;
    // Every chunk counts against the declared number of tracks, whatever its type.
    for (int chunk = 0; chunk < *trackCount; ++chunk) {
        if (in.remaining() < 4)
            break;
        const std::size_t typeAt = in.position();
        in.skip(4);
        if (!isAscii(data + typeAt))
            break;
        auto length = in.read32();
        if (!length)
            break;
        if (std::string_view(reinterpret_cast<const char*>(data + typeAt), 4) == "MTrk") {
            // A track cut short by the end of the file reads as empty, and the next chunk is
            // looked for right after its length field.
            auto track = in.readBytes(*length);
            std::int64_t finalTick = trackParser.parse(track ? *track : ByteReader(nullptr, 0));
            maxTick = std::max(maxTick, finalTick);
        } else {
            in.skip(*length);
        }
    }

    if (rawNotes.empty() && maxTick < 1)
        return std::nullopt;

    MIDIFileData result;
    std::stable_sort(tempos.begin(), tempos.end(),
        [](const TempoEvent& a, const TempoEvent& b) { return a.tick < b.tick; });
    const TickClock clock = fixedSecondsPerTick ? TickClock::fixed(*fixedSecondsPerTick)
                                                : TickClock::fromTempos(ticksPerQuarter, tempos);
    if (!fixedSecondsPerTick && !tempos.empty())
        result.initialBPM = 60000000.0 / tempos.front().microsPerQuarter;

    result.notes.reserve(rawNotes.size());
    for (const RawNote& raw : rawNotes) {
        if (raw.startTick >= raw.endTick)
            continue;
        const double start = clock.seconds(raw.startTick);
        result.notes.push_back({ int(raw.pitch), start, clock.seconds(raw.endTick) - start, int(raw.velocity),
            int(raw.channel) });
    }
    std::stable_sort(result.notes.begin(), result.notes.end(),
        [](const MIDINote& a, const MIDINote& b) { return a.start < b.start; });

    if (result.notes.empty()) {
        result.duration = clock.seconds(maxTick);
    } else {
        for (const MIDINote& note : result.notes)
            result.duration = std::max(result.duration, note.start + note.duration);
    }
    if (!(result.duration > 0))
        return std::nullopt;
    return result;
}

} // namespace

std::optional<MIDIFileData> MIDIFileParser::parse(const std::uint8_t* data, std::size_t size)
{
    if (!data)
        return std::nullopt;
    try {
        return parseFile(data, size);
    } catch (const std::bad_alloc&) {
        // Only a file far beyond any real MIDI file's size gets here; it reads as no MIDI file.
        return std::nullopt;
    }
}

} // namespace kivo::music
