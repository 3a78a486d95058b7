#include "music/MIDITempoScan.h"

#include <algorithm>
#include <cstdint>

namespace kivo::music {

namespace {

// Thrown when the answer depends on bytes past the prefix.
struct NeedBytes {
    std::size_t upTo;
};

// The parser's byte reader over file offsets [position, end), of which only the bytes below
// `available` are at hand. Reads past `end` fail as in the parser; reads past `available` ask
// for more of the file.
class Cursor {
public:
    Cursor(const std::uint8_t* data, std::size_t available, std::size_t begin, std::size_t end)
        : m_data(data)
        , m_available(available)
        , m_pos(begin)
        , m_end(end)
    {
    }

    std::size_t position() const { return m_pos; }
    std::size_t remaining() const { return m_end - m_pos; }

    std::optional<std::uint8_t> peekByte() const
    {
        if (m_pos >= m_end)
            return std::nullopt;
        need(m_pos + 1);
        return m_data[m_pos];
    }

    std::optional<std::uint8_t> readByte()
    {
        auto byte = peekByte();
        if (byte)
            ++m_pos;
        return byte;
    }

    std::optional<std::int64_t> readBigEndian(int count)
    {
        if (remaining() < std::size_t(count))
            return std::nullopt;
        need(m_pos + std::size_t(count));
        std::int64_t value = 0;
        for (int i = 0; i < count; ++i)
            value = value << 8 | m_data[m_pos++];
        return value;
    }

    void skip(std::int64_t n)
    {
        if (n > 0)
            m_pos += std::size_t(std::min<std::uint64_t>(std::uint64_t(n), remaining()));
    }

    std::optional<std::int64_t> readVariableLength()
    {
        const std::size_t start = m_pos;
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

    void need(std::size_t upTo) const
    {
        if (upTo > m_available)
            throw NeedBytes { upTo };
    }

private:
    const std::uint8_t* m_data;
    std::size_t m_available;
    std::size_t m_pos;
    std::size_t m_end;
};

// What the scan has learnt across tracks: the earliest tempo event (the first met among equal
// ticks, as the parser's stable sort keeps them) and whether any track reaches tick 1, without
// which the parser reports no file at all.
struct Findings {
    std::optional<std::int64_t> tempoTick;
    double microsPerQuarter = 0;
    bool reachesTickOne = false;

    // Nothing at or after `tick` in the current track can change the answer.
    bool settledFrom(std::int64_t tick, bool tempoInTrack) const
    {
        return reachesTickOne && (tempoInTrack || (tempoTick && tick >= *tempoTick));
    }
};

// One track, event by event as the parser reads it, only as far as the findings need.
void scanTrack(Cursor in, Findings& found)
{
    std::int64_t tick = 0;
    bool tempoInTrack = false;
    std::optional<std::uint8_t> runningStatus;
    for (;;) {
        if (found.settledFrom(tick, tempoInTrack))
            return;
        auto delta = in.readVariableLength();
        if (!delta)
            return;
        tick += *delta;
        found.reachesTickOne = found.reachesTickOne || tick >= 1;
        if (found.settledFrom(tick, tempoInTrack))
            return;

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

        switch (status & 0xF0) {
        case 0x80:
        case 0x90:
        case 0xA0:
        case 0xB0:
        case 0xE0:
            if (!in.readByte() || !in.readByte())
                return;
            continue;
        case 0xC0:
        case 0xD0:
            if (!in.readByte())
                return;
            continue;
        default:
            break;
        }
        if (status == 0xF0 || status == 0xF7) {
            auto length = in.readVariableLength();
            if (!length)
                return;
            in.skip(*length);
        } else if (status == 0xFF) {
            auto type = in.readByte();
            if (!type)
                return;
            auto length = in.readVariableLength();
            if (!length)
                return;
            if (*type == 0x51 && *length == 3 && in.remaining() >= 3) {
                const std::int64_t tempo = *in.readBigEndian(3);
                if (tempo != 0) {
                    if (!found.tempoTick || tick < *found.tempoTick) {
                        found.tempoTick = tick;
                        found.microsPerQuarter = double(tempo);
                    }
                    tempoInTrack = true;
                }
            } else {
                in.skip(*length);
            }
        }
    }
}

std::optional<double> scanFile(const std::uint8_t* data, std::size_t available, std::size_t fileSize)
{
    Cursor in(data, available, 0, fileSize);
    if (in.remaining() < 4)
        return std::nullopt;
    in.need(4);
    if (std::string_view(reinterpret_cast<const char*>(data), 4) != "MThd")
        return std::nullopt;
    in.skip(4);
    auto headerLength = in.readBigEndian(4);
    if (!headerLength || *headerLength < 6)
        return std::nullopt;
    auto format = in.readBigEndian(2);
    auto trackCount = format ? in.readBigEndian(2) : std::nullopt;
    auto division = trackCount ? in.readBigEndian(2) : std::nullopt;
    if (!division)
        return std::nullopt;
    in.skip(*headerLength - 6);
    // Fixed SMPTE timing ignores tempo events.
    if ((*division & 0x8000) && (*division & 0xFF) != 0)
        return std::nullopt;

    Findings found;
    for (std::int64_t chunk = 0; chunk < *trackCount; ++chunk) {
        if (found.reachesTickOne && found.tempoTick == 0)
            break; // nothing can come before tick 0
        if (in.remaining() < 4)
            break;
        const std::size_t typeAt = in.position();
        in.need(typeAt + 4);
        if (!std::all_of(data + typeAt, data + typeAt + 4, [](std::uint8_t b) { return b < 0x80; }))
            break;
        in.skip(4);
        auto length = in.readBigEndian(4);
        if (!length)
            break;
        const bool isTrack = std::string_view(reinterpret_cast<const char*>(data + typeAt), 4) == "MTrk";
        // A track cut short by the end of the file is empty, and the cursor stays put.
        if (isTrack && std::uint64_t(*length) > in.remaining())
            continue;
        if (isTrack)
            scanTrack(Cursor(data, available, in.position(), in.position() + std::size_t(*length)), found);
        in.skip(*length);
    }
    if (!found.tempoTick || !found.reachesTickOne)
        return std::nullopt;
    return 60000000.0 / found.microsPerQuarter;
}

} // namespace

MIDITempoScan::Result MIDITempoScan::scan(std::string_view prefix, std::size_t fileSize)
{
    const std::size_t available = std::min(prefix.size(), fileSize);
    try {
        return { true, scanFile(reinterpret_cast<const std::uint8_t*>(prefix.data()), available, fileSize),
            0 };
    } catch (const NeedBytes& need) {
        return { false, std::nullopt, need.upTo };
    }
}

} // namespace kivo::music
