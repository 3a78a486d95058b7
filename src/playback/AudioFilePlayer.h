#pragma once

// The audio file player of the preview: opens any browsable audio file, decodes it ahead of time
// on the engine's decode worker into a lock-free ring of chunks, and is played by the engine's file
// player node. Opening (which reads the disk) may happen on any thread; attaching and every other
// public operation belong to the main thread.

#include "SpscQueue.h"
#include "TimeStretcher.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kivo::playback {

class AudioDecoder;
class AudioEngine;

class AudioFilePlayer {
public:
    // Any thread: opens and probes the file and decodes its first chunk for an engine running at
    // `sampleRate`, stretched by what `stretchFor` picks once the file's length (in seconds) is
    // known. Needs no engine, only its stretchers, so the engine may go while this runs. Null with
    // `error` set when it cannot be played.
    static std::unique_ptr<AudioFilePlayer> open(std::shared_ptr<StretcherPool> stretchers, int sampleRate,
        const std::string& path, std::string& error,
        const std::function<StretchAmount(double duration)>& stretchFor);
    // Main thread: starts the engine, opens the file and attaches the player in one go.
    static std::unique_ptr<AudioFilePlayer> create(
        AudioEngine& engine, const std::string& path, std::string& error, StretchAmount stretch = {});
    ~AudioFilePlayer(); // never waits for the decoder: a stalled read finishes on its own

    // Main thread: the engine plays this player from now on and the decode worker keeps it fed.
    void attach(AudioEngine& engine);
    // The rate the file was opened for; an engine that has moved to another rate needs a new open.
    int sampleRate() const { return m_rate; }

    // Duration, position and seeking are in the file's own time, stretched or not.
    double duration() const;
    double currentTime() const;
    void setCurrentTime(double seconds);
    bool isPlaying() const { return m_playing.load(std::memory_order_acquire); }
    // Played through to its end (and stopped there by itself).
    bool isAtEnd() const { return m_atEnd.load(std::memory_order_acquire); }
    int numberOfChannels() const { return m_channels; }
    float volume() const { return m_volume.load(std::memory_order_relaxed); }
    void setVolume(float gain) { m_volume.store(gain, std::memory_order_relaxed); }
    void setMeteringEnabled(bool on) { m_metering.store(on, std::memory_order_relaxed); }
    void updateMeters();
    float averagePower(int channel) const; // dB; -160 is silence

    // Plays on from the current position at this stretch.
    void setStretch(StretchAmount stretch);
    StretchAmount stretch() const { return m_stretch; }

    bool prepareToPlay();
    bool play();
    void pause();
    void stop();

    // Render thread: adds this player's output (at its volume) into `stereo`.
    void renderInto(float* stereo, int frames, bool waitForDecoder);

    struct Chunk {
        static constexpr int kFrames = 512;
        uint64_t generation = 0;
        int64_t startFrame = 0; // file frame of the first one
        double fileStep = 1.0; // file frames per played frame
        int frames = 0;
        bool end = false;
        // Only the first `frames` are ever written or read: left uninitialised, a ring of them costs
        // no page touched before the decoder fills it.
        std::array<float, kFrames * 2> samples;
    };
    // The decoding side, shared with the decode worker so that a closed player's last step (on a
    // slow disk, perhaps) finishes on the worker and never on the thread that closed it.
    struct Stream;

private:
    explicit AudioFilePlayer(std::shared_ptr<Stream> stream);
    void requestPosition(int64_t frame);

    AudioEngine* m_engine = nullptr; // once attached
    std::shared_ptr<Stream> m_stream;
    int m_rate;
    int m_channels;
    int64_t m_durationFrames;
    double m_duration;
    StretchAmount m_stretch;

    std::atomic<uint64_t> m_renderGeneration { 1 }; // generation the render side has reached
    std::atomic<int64_t> m_renderFrame { 0 }; // frames played so far in that generation
    std::atomic<bool> m_playing { false };
    std::atomic<bool> m_atEnd { false };
    std::atomic<float> m_volume { 1.0f };
    std::atomic<bool> m_metering { false };
    std::atomic<float> m_meterPower[2] = { -160.0f, -160.0f };
    float m_shownPower[2] = { -160.0f, -160.0f };
    double m_meterSum[2] = { 0, 0 };
    int m_meterFrames = 0;
    int m_chunkOffset = 0;
};

} // namespace kivo::playback
