#pragma once

// The preview player's MIDI side on the shared MIDI engine: MIDI files become
// MIDISamplePlayers on an Audition, the sound table is indexed by the stored setting, and the
// mixer volume and tuning go to the Audition's audio engine.

#include "MIDIPreview.h"

namespace kivo::playback {

class Audition;

class AuditionPreviewEngine : public MIDIPreviewEngine {
public:
    explicit AuditionPreviewEngine(Audition& audition);

    std::shared_ptr<MIDIPreviewPlayer> makePlayer(
        std::span<const uint8_t> bytes, const std::string& fileName, int instrumentIndex) override;
    std::optional<std::string> ensureRunning() override;
    void loadInstrument(int instrumentIndex) override;
    void setOutputVolume(float gain) override;
    void setGlobalTuning(float cents) override;
    void scheduleIdleStop() override;
    void setKeepWarm(bool on) override;
    double now() const override;

private:
    Audition& m_audition;
};

} // namespace kivo::playback
