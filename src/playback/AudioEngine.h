#pragma once

// The process-wide audio engine: a main mixer fed by the file player node and the
// sampler node, a level tap on the mixer output, and an output that is a PortAudio
// device when there is one and a clocked null output otherwise. A safety limiter after the mixer
// keeps what leaves the engine below 0 dBFS; the level tap sees the mix before it. Pull-driven: every
// output calls render(), which tests and tools may also call directly (offline mode).

#include "DecodeWorker.h"
#include "MeterTap.h"
#include "OutputBackend.h"
#include "OutputDevice.h"
#include "SafetyLimiter.h"
#include "SamplerNode.h"
#include "TimeStretcher.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kivo::playback {

class AudioFilePlayer;
class AudioOutput;

class AudioEngine {
public:
    enum class OutputKind { None, Device, Null, Offline };

    // Without a backend the output is PortAudio's.
    explicit AudioEngine(std::unique_ptr<OutputBackend> backend = nullptr);
    ~AudioEngine();
    AudioEngine(const AudioEngine&) = delete;
    AudioEngine& operator=(const AudioEngine&) = delete;

    // Makes the engine render only when render() is called, at this rate; for tests and
    // tools. Takes effect when the engine is stopped.
    void useOfflineRendering(int sampleRate);

    // Starting never fails for want of a device: the null output keeps time instead. Neither
    // starting nor stopping waits for the device: the output's own thread opens and closes it.
    std::optional<std::string> start();
    void stop();
    bool isRunning() const { return m_running.load(std::memory_order_acquire); }
    OutputKind outputKind() const;

    // The output device to use from now on (reopened at once while running). Any thread.
    void setOutputChoice(const OutputChoice& choice);
    OutputStatus outputStatus() const;
    // Called on the output's thread whenever outputStatus() changed (a device opened, fell back,
    // or moved the engine to another rate).
    void setOutputObserver(std::function<void()> observer);
    // Lists the output devices afresh; it waits for the output's thread, so never on the main one.
    std::vector<OutputDevice> listOutputDevices();
    // The output itself, for what may outlive the engine (a device listing under way when it goes):
    // the engine shuts it down as it goes, after which it lists and reports nothing. None offline.
    std::shared_ptr<AudioOutput> output() const { return m_output; }

    // The rate the engine renders at: the open device's. Players opened for another rate are
    // silent until opened again for this one.
    int sampleRate() const { return m_sampleRate.load(std::memory_order_relaxed); }
    // Media clock: seconds of audio rendered since the engine was created, across rate changes.
    double now() const { return m_seconds.load(std::memory_order_acquire); }
    int64_t renderedFrames() const { return m_frames.load(std::memory_order_acquire); }

    // Main mixer's output volume; it scales the sampler bus (the file player carries its own).
    void setOutputVolume(float gain) { m_outputVolume.store(gain, std::memory_order_relaxed); }
    float outputVolume() const { return m_outputVolume.load(std::memory_order_relaxed); }

    SamplerNode& sampler() { return m_sampler; }
    MeterTap& tap() { return m_tap; }
    DecodeWorker& decodeWorker() { return m_decodeWorker; }
    const std::shared_ptr<StretcherPool>& stretchers() const { return m_stretchers; }

    void attachFilePlayer(AudioFilePlayer* player);
    void detachFilePlayer(AudioFilePlayer* player);
    bool hasFilePlayer() const { return m_filePlayer.load(std::memory_order_acquire) != nullptr; }
    // Main thread (which attaches and detaches players): the attached file player is playing.
    bool isFilePlaying() const;

    // Renders interleaved stereo. Silence (and no clock movement) while stopped.
    void render(float* stereo, int frames);
    std::vector<float> render(int frames);

    // Observed by the bench: the engine frame at which the file player first produced sound.
    int64_t firstAudibleFileFrame() const { return m_firstAudible.load(std::memory_order_acquire); }
    void resetFirstAudible() { m_firstAudible.store(-1, std::memory_order_release); }

private:
    void renderBlock(float* stereo, int frames);
    void outputRateChanged(int rate);

    std::atomic<bool> m_running { false };
    std::atomic<int> m_sampleRate { 48000 };
    bool m_offline = false;
    std::atomic<int64_t> m_frames { 0 };
    std::atomic<double> m_seconds { 0 };
    std::atomic<float> m_outputVolume { 1.0f };
    std::atomic<AudioFilePlayer*> m_filePlayer { nullptr };
    std::atomic<AudioFilePlayer*> m_filePlayerInUse { nullptr };
    std::atomic<int64_t> m_firstAudible { -1 };
    SamplerNode m_sampler;
    MeterTap m_tap;
    SafetyLimiter m_limiter;
    std::vector<float> m_samplerBus;
    std::shared_ptr<AudioOutput> m_output;
    std::shared_ptr<StretcherPool> m_stretchers = std::make_shared<StretcherPool>();
    DecodeWorker m_decodeWorker;
};

} // namespace kivo::playback
