#include "music/MIDIFileWriter.h"

#include <algorithm>
#include <cmath>

namespace kivo::music {

namespace {

std::uint8_t dataByte(int value)
{
    return std::uint8_t(std::clamp(value, 0, 127));
}

std::uint8_t channelStatus(std::uint8_t kind, int channel)
{
    return std::uint8_t(kind | (std::clamp(channel, 0, 15)));
}

} // namespace

MIDIFileWriter::MIDIFileWriter(int format, std::uint16_t division)
    : m_format(format)
    , m_division(division)
{
}

int MIDIFileWriter::addTrack()
{
    m_tracks.emplace_back();
    return int(m_tracks.size()) - 1;
}

MIDIFileWriter::Track& MIDIFileWriter::track(int index)
{
    index = std::max(index, 0);
    while (int(m_tracks.size()) <= index)
        m_tracks.emplace_back();
    return m_tracks[std::size_t(index)];
}

void MIDIFileWriter::add(
    int trackIndex, std::int64_t tick, Kind kind, std::vector<std::uint8_t> bytes, bool raw)
{
    tick = std::max<std::int64_t>(tick, 0);
    Track& t = track(trackIndex);
    t.events.push_back({ tick, kind, m_sequence++, std::move(bytes), raw });
    t.endTick = std::max(t.endTick, tick);
}

void MIDIFileWriter::addTempo(int trackIndex, std::int64_t tick, std::uint32_t microsPerQuarter)
{
    microsPerQuarter = std::min<std::uint32_t>(microsPerQuarter, 0xFFFFFF);
    add(trackIndex, tick, Kind::meta,
        { 0xFF, 0x51, 0x03, std::uint8_t(microsPerQuarter >> 16), std::uint8_t(microsPerQuarter >> 8),
            std::uint8_t(microsPerQuarter) });
}

void MIDIFileWriter::addTempoBPM(int trackIndex, std::int64_t tick, double bpm)
{
    addTempo(trackIndex, tick, std::uint32_t(std::lround(60000000.0 / bpm)));
}

void MIDIFileWriter::addNote(
    int trackIndex, std::int64_t tick, std::int64_t length, int pitch, int velocity, int channel)
{
    tick = std::max<std::int64_t>(tick, 0);
    length = std::max<std::int64_t>(length, 0);
    add(trackIndex, tick, Kind::noteOn,
        { channelStatus(0x90, channel), dataByte(pitch), dataByte(velocity) });
    const Kind offKind = length == 0 ? Kind::lateNoteOff : Kind::noteOff;
    if (m_noteOffStyle == NoteOffStyle::zeroVelocityOn)
        add(trackIndex, tick + length, offKind, { channelStatus(0x90, channel), dataByte(pitch), 0 });
    else
        add(trackIndex, tick + length, offKind, { channelStatus(0x80, channel), dataByte(pitch), 0x40 });
}

void MIDIFileWriter::addProgramChange(int trackIndex, std::int64_t tick, int program, int channel)
{
    add(trackIndex, tick, Kind::other, { channelStatus(0xC0, channel), dataByte(program) });
}

void MIDIFileWriter::addControlChange(
    int trackIndex, std::int64_t tick, int controller, int value, int channel)
{
    add(trackIndex, tick, Kind::other,
        { channelStatus(0xB0, channel), dataByte(controller), dataByte(value) });
}

void MIDIFileWriter::addMeta(int trackIndex, std::int64_t tick, std::uint8_t type, const std::string& payload)
{
    std::vector<std::uint8_t> bytes { 0xFF, type };
    appendVariableLength(bytes, std::uint32_t(payload.size()));
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    add(trackIndex, tick, Kind::meta, std::move(bytes));
}

void MIDIFileWriter::addSysEx(int trackIndex, std::int64_t tick, const std::vector<std::uint8_t>& payload)
{
    std::vector<std::uint8_t> bytes { 0xF0 };
    appendVariableLength(bytes, std::uint32_t(payload.size()));
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    add(trackIndex, tick, Kind::other, std::move(bytes));
}

void MIDIFileWriter::addRaw(int trackIndex, std::int64_t tick, const std::vector<std::uint8_t>& bytes)
{
    add(trackIndex, tick, Kind::other, bytes, true);
}

void MIDIFileWriter::setTrackEnd(int trackIndex, std::int64_t tick)
{
    Track& t = track(trackIndex);
    t.endTick = std::max(t.endTick, tick);
}

std::vector<std::uint8_t> MIDIFileWriter::trackBytes(std::vector<Event> events, std::int64_t endTick) const
{
    std::stable_sort(events.begin(), events.end(), [](const Event& a, const Event& b) {
        if (a.tick != b.tick)
            return a.tick < b.tick;
        if (a.kind != b.kind)
            return a.kind < b.kind;
        return a.sequence < b.sequence;
    });

    std::vector<std::uint8_t> body;
    std::int64_t tick = 0;
    int lastStatus = -1;
    for (const Event& event : events) {
        appendVariableLength(body, std::uint32_t(event.tick - tick));
        tick = event.tick;
        const std::uint8_t status = event.bytes.empty() ? 0 : event.bytes.front();
        const bool channelMessage = !event.raw && status >= 0x80 && status <= 0xEF;
        const bool omitStatus
            = channelMessage && m_runningStatus == RunningStatus::on && status == lastStatus;
        body.insert(body.end(), event.bytes.begin() + (omitStatus ? 1 : 0), event.bytes.end());
        // Readers differ on whether system and meta events keep the running status, so
        // the next channel message always states its status again.
        lastStatus = channelMessage ? status : -1;
    }
    appendVariableLength(body, std::uint32_t(std::max<std::int64_t>(endTick - tick, 0)));
    body.insert(body.end(), { 0xFF, 0x2F, 0x00 });

    std::vector<std::uint8_t> chunk { 'M', 'T', 'r', 'k' };
    append32(chunk, std::uint32_t(body.size()));
    chunk.insert(chunk.end(), body.begin(), body.end());
    return chunk;
}

std::vector<std::uint8_t> MIDIFileWriter::bytes() const
{
    std::vector<Track> tracks = m_tracks;
    if (tracks.empty())
        tracks.emplace_back();
    if (m_format == 0 && tracks.size() > 1) {
        Track merged;
        for (const Track& t : tracks) {
            merged.events.insert(merged.events.end(), t.events.begin(), t.events.end());
            merged.endTick = std::max(merged.endTick, t.endTick);
        }
        tracks = { merged };
    }

    std::vector<std::uint8_t> out { 'M', 'T', 'h', 'd' };
    append32(out, 6);
    append16(out, std::uint16_t(m_format));
    append16(out, std::uint16_t(tracks.size()));
    append16(out, m_division);
    for (const Track& t : tracks) {
        std::vector<std::uint8_t> chunk = trackBytes(t.events, t.endTick);
        out.insert(out.end(), chunk.begin(), chunk.end());
    }
    return out;
}

void MIDIFileWriter::appendVariableLength(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    value &= 0x0FFFFFFF;
    std::uint8_t groups[4];
    int count = 0;
    do {
        groups[count++] = std::uint8_t(value & 0x7F);
        value >>= 7;
    } while (value != 0 && count < 4);
    for (int i = count - 1; i >= 0; --i)
        out.push_back(std::uint8_t(groups[i] | (i > 0 ? 0x80 : 0)));
}

void MIDIFileWriter::append16(std::vector<std::uint8_t>& out, std::uint16_t value)
{
    out.push_back(std::uint8_t(value >> 8));
    out.push_back(std::uint8_t(value));
}

void MIDIFileWriter::append32(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    append16(out, std::uint16_t(value >> 16));
    append16(out, std::uint16_t(value));
}

} // namespace kivo::music
