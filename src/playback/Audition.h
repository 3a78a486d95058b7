#pragma once

// The process-wide MIDI engine: the audio engine's sampler with the sound loaded into it, and
// the bookkeeping that keeps the engine warm or lets it sleep 30 seconds after the last
// preview stopped. Main thread only; notes reach the render thread through the sampler's
// queues and schedules.

#include "MIDIInstrument.h"
#include "platform/CancelHandle.h"
#include "platform/Clock.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace kivo::platform {
class TaskRunner;
}

namespace kivo::playback {

class AudioEngine;
class MIDISamplePlayer;
class SamplerNode;

class Audition {
public:
    static constexpr double kIdleStopDelay = 30.0;
    static constexpr uint8_t kBankLSB = 0;

    // With a task runner soundfonts load in the background and the sound playing until then stays;
    // without one (tests, offline tools) they load on the calling thread.
    Audition(AudioEngine& engine, platform::Clock& clock, platform::TaskRunner* tasks = nullptr);
    ~Audition();
    Audition(const Audition&) = delete;
    Audition& operator=(const Audition&) = delete;

    // Loads the sound's preset unless it is the one loaded (or loading); a sound that cannot be
    // loaded leaves the sampler on its built-in tone. The newest request wins.
    void loadInstrument(MIDIInstrument sound);
    const std::optional<MIDIInstrument>& loadedInstrument() const { return m_loadedInstrument; }
    bool isLoadingInstrument() const { return m_loading.has_value(); }

    // Cancels a pending idle stop and starts the engine if needed; the start error otherwise.
    std::optional<std::string> ensureRunning();
    void scheduleIdleStop();
    // The engine moved to another rate: the loaded sound is made again for it (until then the
    // sampler's synth stays silent rather than off pitch).
    void engineRateChanged();
    bool idleStopPending() const { return m_idleStop != nullptr; }
    void setKeepWarm(bool on);
    bool keepWarm() const { return m_keepWarm; }
    // Controller 123 on every channel, only while the engine runs.
    void allNotesOff();

    // The whole preview transposes through the sampler's tuning: clamp(shift, -2, 2) octaves.
    void setOctaveShift(int shift);

    // The player that last loaded a file; it clears itself when destroyed.
    MIDISamplePlayer* owner() const { return m_owner; }
    void setOwner(MIDISamplePlayer* player) { m_owner = player; }

    AudioEngine& engine() { return m_engine; }
    SamplerNode& sampler();
    // Media clock, seconds.
    double now() const;

    // Tests point the sound search elsewhere; a function giving none means no resource folder.
    using ResourceFolder = std::function<std::optional<std::filesystem::path>()>;
    void setResourceFolder(ResourceFolder folder) { m_resourceFolder = std::move(folder); }
    // The diagnostic log; standard output unless replaced.
    void setLog(std::function<void(const std::string&)> log) { m_log = std::move(log); }
    void log(const std::string& line) const;
    // Soundfont presets loaded so far (successful or not): a reload is observable.
    int presetLoads() const { return m_presetLoads; }

    struct Loaded;

private:
    void installLoaded(const MIDIInstrument& sound, int rate, Loaded loaded);

    AudioEngine& m_engine;
    platform::Clock& m_clock;
    MIDISamplePlayer* m_owner = nullptr;
    platform::TaskRunner* m_tasks;
    std::optional<MIDIInstrument> m_loadedInstrument;
    // The sound being loaded in the background, for the engine rate it was asked at.
    std::optional<platform::CancelHandle> m_loading;
    std::optional<std::pair<MIDIInstrument, int>> m_loadingSound;
    int m_loadedRate = 0; // the engine's rate when the sound was loaded
    std::shared_ptr<platform::Clock::Timer> m_idleStop;
    bool m_keepWarm = false;
    int m_presetLoads = 0;
    ResourceFolder m_resourceFolder;
    std::function<void(const std::string&)> m_log;
};

} // namespace kivo::playback
