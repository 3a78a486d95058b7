#pragma once

// Writes Standard MIDI Files from notes, tempo changes and raw events laid out on absolute
// ticks. Used to make test material and resources; the output is always well formed unless
// raw events say otherwise.

#include <cstdint>
#include <string>
#include <vector>

namespace kivo::music {

class MIDIFileWriter {
public:
    enum class RunningStatus { off, on };
    // How a note ends: a note-off message, or a note-on with velocity 0 (which pairs well with
    // running status).
    enum class NoteOffStyle { noteOff, zeroVelocityOn };

    // Format 0 writes every track merged into one; format 1 writes them one chunk each.
    // The division goes into the header as given: ticks per quarter note, or an SMPTE word
    // with bit 15 set.
    explicit MIDIFileWriter(int format = 1, std::uint16_t division = 480);

    void setRunningStatus(RunningStatus mode) { m_runningStatus = mode; }
    void setNoteOffStyle(NoteOffStyle style) { m_noteOffStyle = style; }

    // Returns the new track's index. The first call to any add function makes track 0 if needed.
    int addTrack();
    int trackCount() const { return int(m_tracks.size()); }

    void addTempo(int track, std::int64_t tick, std::uint32_t microsPerQuarter);
    void addTempoBPM(int track, std::int64_t tick, double bpm);
    void addNote(int track, std::int64_t tick, std::int64_t length, int pitch, int velocity, int channel = 0);
    void addProgramChange(int track, std::int64_t tick, int program, int channel = 0);
    void addControlChange(int track, std::int64_t tick, int controller, int value, int channel = 0);
    void addMeta(int track, std::int64_t tick, std::uint8_t type, const std::string& payload);
    void addTrackName(int track, const std::string& name) { addMeta(track, 0, 0x03, name); }
    void addSysEx(int track, std::int64_t tick, const std::vector<std::uint8_t>& payload);
    // Bytes written as they are after the event's delta time (status included when wanted).
    // Running status is forgotten after them.
    void addRaw(int track, std::int64_t tick, const std::vector<std::uint8_t>& bytes);
    // A track ends at its last event unless a later end is asked for.
    void setTrackEnd(int track, std::int64_t tick);

    std::vector<std::uint8_t> bytes() const;

    static void appendVariableLength(std::vector<std::uint8_t>& out, std::uint32_t value);
    static void append16(std::vector<std::uint8_t>& out, std::uint16_t value);
    static void append32(std::vector<std::uint8_t>& out, std::uint32_t value);

private:
    // Within one tick: tempo and other meta events first, then the notes that end, other
    // messages, the notes that begin, and last the ends of notes that begin at that same tick.
    enum class Kind { meta, noteOff, other, noteOn, lateNoteOff };
    struct Event {
        std::int64_t tick;
        Kind kind;
        std::uint64_t sequence;
        std::vector<std::uint8_t> bytes; // status first, except for raw events
        bool raw = false;
    };
    struct Track {
        std::vector<Event> events;
        std::int64_t endTick = 0;
    };

    Track& track(int index);
    void add(int track, std::int64_t tick, Kind kind, std::vector<std::uint8_t> bytes, bool raw = false);
    std::vector<std::uint8_t> trackBytes(std::vector<Event> events, std::int64_t endTick) const;

    int m_format;
    std::uint16_t m_division;
    RunningStatus m_runningStatus = RunningStatus::off;
    NoteOffStyle m_noteOffStyle = NoteOffStyle::noteOff;
    std::vector<Track> m_tracks;
    std::uint64_t m_sequence = 0;
};

} // namespace kivo::music
