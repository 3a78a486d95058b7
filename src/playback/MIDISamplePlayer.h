#pragma once

// One parsed MIDI file with a transport: play from the remembered position, pause there. Its
// notes go to the shared engine's sampler as one schedule of note-ons and note-offs on engine
// frames, replaced whenever the position changes. Main thread only.

#include "music/MIDIFileParser.h"

#include "MIDIInstrument.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kivo::playback {

class Audition;

class MIDISamplePlayer {
public:
    // None when the file cannot be read or holds no notes (both logged) or takes no time.
    // The sound is loaded into the engine and the new player becomes its owner.
    static std::unique_ptr<MIDISamplePlayer> create(
        Audition& audition, const std::string& path, const MIDIInstrument& sound);
    // From a file's bytes; `fileName` names it in the log.
    static std::unique_ptr<MIDISamplePlayer> fromBytes(Audition& audition, std::span<const uint8_t> bytes,
        const std::string& fileName, const MIDIInstrument& sound);
    // Any thread: the bytes of a file small enough to be a MIDI file; none when it cannot be read.
    static std::optional<std::vector<uint8_t>> readFile(const std::string& path);
    ~MIDISamplePlayer();
    MIDISamplePlayer(const MIDISamplePlayer&) = delete;
    MIDISamplePlayer& operator=(const MIDISamplePlayer&) = delete;

    // From the paused position, or from 0 once the end was reached. An engine that cannot
    // start is logged and the player stays paused.
    void play();
    // Remembers the reached position and silences the notes.
    void pause();
    // Drops the pending notes and sends all-notes-off.
    void cancelScheduledEvents();
    // Replaces the pending notes with those from position `from` on, counted from now.
    void schedule(double from);

    // Conveniences over the fields for the preview manager.
    void playFrom(double position);
    void stop(); // pause and go back to the start
    // The position now: the media clock against the anchor while playing, else the paused one.
    double currentTime() const;
    // Moves the position; a playing preview goes on from there at once.
    void setCurrentTime(double seconds);

    const std::vector<music::MIDINote>& notes() const { return m_notes; }
    double duration() const { return m_duration; }
    bool isPlaying() const { return m_isPlaying; }
    bool catchNotes() const { return m_catchNotes; }
    void setCatchNotes(bool on) { m_catchNotes = on; }
    // File seconds played per second (the project tempo over the file's); a playing preview goes
    // on from where it is at the new rate.
    double rate() const { return m_rate; }
    void setRate(double rate);
    // Media-clock time of position 0 while playing, at the current rate.
    std::optional<double> anchor() const { return m_anchor; }
    void setAnchor(std::optional<double> anchor) { m_anchor = anchor; }
    double pausedPosition() const { return m_pausedPosition; }
    void setPausedPosition(double seconds) { m_pausedPosition = seconds; }
    // Recorded here; the transposition is the engine's tuning (Audition::setOctaveShift).
    int octaveShift() const { return m_octaveShift; }
    void setOctaveShift(int shift) { m_octaveShift = shift; }

private:
    MIDISamplePlayer(Audition& audition, music::MIDIFileData data);
    void clearSchedule();

    Audition& m_audition;
    const uint64_t m_id; // owner of this player's schedules in the sampler
    std::vector<music::MIDINote> m_notes;
    double m_duration = 0;
    bool m_isPlaying = false;
    bool m_catchNotes = true;
    std::optional<double> m_anchor;
    double m_pausedPosition = 0;
    double m_rate = 1.0;
    int m_octaveShift = 0;
};

} // namespace kivo::playback
