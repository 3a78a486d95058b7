#pragma once

// What the preview player needs from the MIDI side: one previewed MIDI file with a
// transport, and the shared sampler engine that plays it. The preview player keeps
// the transport rules (position from the media clock, seeking, the end of the file);
// the MIDI side keeps the notes, the timers and the sampler.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace kivo::playback {

class MIDIPreviewPlayer {
public:
    virtual ~MIDIPreviewPlayer() = default;

    virtual double duration() const = 0; // seconds, above 0
    virtual bool isPlaying() const = 0;
    // File seconds played per media-clock second (the project tempo over the file's).
    virtual double rate() const { return 1.0; }
    virtual void setRate(double) { }
    // Media-clock time of position 0 while playing, at the rate; none while paused.
    virtual std::optional<double> anchor() const = 0;
    virtual void setAnchor(std::optional<double> anchor) = 0;
    virtual double pausedPosition() const = 0;
    virtual void setPausedPosition(double seconds) = 0;
    virtual void setCatchNotes(bool on) = 0;
    virtual void setOctaveShift(int octaves) = 0;

    // Starts from the paused position, or from 0 once the end was reached.
    virtual void play() = 0;
    // Remembers the reached position.
    virtual void pause() = 0;
    // Drops the pending notes and silences what sounds.
    virtual void cancelScheduledEvents() = 0;
    // Plans the notes from a position while playing.
    virtual void schedule(double from) = 0;
};

class MIDIPreviewEngine {
public:
    virtual ~MIDIPreviewEngine() = default;

    // From a file's bytes, read in the background; `fileName` names it in the log. Null when the
    // file has no playable notes (the reason is logged by the MIDI side).
    virtual std::shared_ptr<MIDIPreviewPlayer> makePlayer(
        std::span<const uint8_t> bytes, const std::string& fileName, int instrumentIndex)
        = 0;
    // The error text when the engine cannot start.
    virtual std::optional<std::string> ensureRunning() = 0;
    // The stored sound index (any value; out-of-range ones select the first sound).
    virtual void loadInstrument(int instrumentIndex) = 0;
    virtual void setOutputVolume(float gain) = 0;
    virtual void setGlobalTuning(float cents) = 0;
    // Nothing plays any more: the engine may sleep after a while unless something plays again.
    virtual void scheduleIdleStop() = 0;
    // Keeps the engine running while something that plays at once (the chord bank) is shown.
    virtual void setKeepWarm(bool on) = 0;
    // Seconds on the media clock the anchors refer to.
    virtual double now() const = 0;
};

} // namespace kivo::playback
