#pragma once

// A preview player on an offline engine and a manual clock: advancing time renders the
// matching audio and fires the timers, so transport tests run without a sound card or sleeps.

#include "support/TestEnvironment.h"

#include "library/MissingFileTracker.h"
#include "platform/Clock.h"
#include "playback/AudioEngine.h"
#include "playback/AudioPlayerManager.h"
#include "playback/Audition.h"
#include "playback/AuditionPreviewEngine.h"

#include <QUrl>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kivo::platform {
class TaskRunner;
}

namespace kivo::test {

class PreviewHarness {
public:
    static constexpr int kRate = 48000;

    explicit PreviewHarness(float storedVolume = 1.0f, playback::MIDIPreviewEngine* midi = nullptr);
    // MIDI previews on a real Audition over this harness's engine and clock, built-in tone.
    struct WithAudition { };
    PreviewHarness(float storedVolume, WithAudition);
    // Selected files open on `tasks`, each after `willOpen` (on the opening thread) returns.
    PreviewHarness(platform::TaskRunner& tasks, std::function<void(const std::string&)> willOpen);
    // Waits (running the event loop) until the newest selection is open; false after 10 s.
    bool settle();

    playback::Audition& audition() { return *m_audition; }

    playback::AudioPlayerManager& manager() { return *m_manager; }
    playback::AudioEngine& engine() { return m_engine; }
    platform::ManualClock& clock() { return m_clock; }
    library::MissingFileTracker& tracker() { return m_tracker; }
    const std::vector<float>& storedVolumes() const { return m_stored; }
    const ScratchDir& dir() const { return m_dir; }

    // Renders `seconds` of audio in 20 ms steps, moving the clock with it; returns the audio.
    std::vector<float> run(double seconds);
    // A sox-made file in the scratch folder: `soxEffect` follows "sox -n -r 48000 -c N FILE".
    QUrl makeTone(const std::string& name, const std::string& soxEffect, int channels = 2);

private:
    void makeManager(float storedVolume, playback::MIDIPreviewEngine* midi,
        platform::TaskRunner* tasks = nullptr, std::function<void(const std::string&)> willOpen = {});

    ScratchDir m_dir;
    playback::AudioEngine m_engine;
    platform::ManualClock m_clock;
    library::MissingFileTracker m_tracker;
    std::vector<float> m_stored;
    std::unique_ptr<playback::Audition> m_audition;
    std::unique_ptr<playback::AuditionPreviewEngine> m_auditionPreview;
    std::unique_ptr<playback::AudioPlayerManager> m_manager;
};

} // namespace kivo::test
