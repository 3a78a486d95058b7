#pragma once

// The audio file player of the preview: opens any browsable audio file, decodes it
// ahead of time on its own worker into a lock-free ring of chunks, and is played by
// the engine's file player node. All public operations belong to the main thread.

#include "SpscQueue.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kivo::playback {

class AudioDecoder;
class AudioEngine;

class AudioFilePlayer {
public:
    // Null with `error` set when the file cannot be played.
    static std::unique_ptr<AudioFilePlayer> create(
        AudioEngine& engine, const std::string& path, std::string& error);
    ~AudioFilePlayer();

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

    bool prepareToPlay();
    bool play();
    void pause();
    void stop();

    // Render thread: adds this player's output (at its volume) into `stereo`.
    void renderInto(float* stereo, int frames, bool waitForDecoder);

private:
    struct Chunk {
        static constexpr int kFrames = 512;
        uint64_t generation = 0;
        int64_t startFrame = 0;
        int frames = 0;
        bool end = false;
        std::array<float, kFrames * 2> samples {};
    };

    friend class DecodeWorker;
    AudioFilePlayer(AudioEngine& engine, std::unique_ptr<AudioDecoder> decoder);
    // Decoding side (the shared decode worker, or the creating thread for the first chunk):
    // one step of work; false when there is nothing to do until the ring drains or a seek.
    bool decodeStep();
    void requestPosition(int64_t frame);

    AudioEngine& m_engine;
    std::unique_ptr<AudioDecoder> m_decoder;
    int m_rate;
    int m_channels;
    int64_t m_durationFrames;
    double m_duration;

    SpscQueue<Chunk> m_ring;
    std::atomic<uint64_t> m_generation { 1 }; // bumped by every reposition
    std::atomic<int64_t> m_targetFrame { 0 }; // where the latest reposition goes
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

    std::mutex m_mutex; // between the main thread and the decoder, never the render thread

    // Decoder state, touched only by whoever runs decodeStep().
    std::vector<float> m_pending;
    std::size_t m_pendingPos = 0; // in frames
    int64_t m_pendingFrame = 0; // output frame of m_pending[m_pendingPos]
    uint64_t m_decodeGeneration = 1;
    bool m_exhausted = false;
    bool m_endSent = false;
};

} // namespace kivo::playback
