#pragma once

// Level analysis of the mixer output for the MIDI meter: the output is cut into
// 1024-frame buffers, each buffer into windows of 1/30 s, each window into one
// (left dB, right dB) pair. Runs on the render thread, so it keeps fixed storage.

#include "SpscQueue.h"

#include <array>
#include <cstdint>

namespace kivo::playback {

constexpr float kSilenceDB = -160.0f;

struct MeterBatch {
    static constexpr int kMaxPairs = 32;
    int count = 0;
    std::array<float, kMaxPairs> left {};
    std::array<float, kMaxPairs> right {};
};

// Windows of one tapped buffer (interleaved, `channels` wide) turned into dB pairs.
MeterBatch analyseTapBuffer(const float* samples, int frames, int channels, double sampleRate);

// Lets one silent batch through after sound, then drops silence until sound returns.
class SilenceFilter {
public:
    bool admit(const MeterBatch& batch);

private:
    bool m_lastWasSilent = false;
};

class MeterTap {
public:
    static constexpr int kBufferFrames = 1024;

    MeterTap();

    // Render thread: feed mixer output (interleaved stereo).
    void feed(const float* stereo, int frames, double sampleRate);
    // Main thread.
    bool takeBatch(MeterBatch& out) { return m_batches.pop(out); }
    void setEnabled(bool on) { m_enabled.store(on, std::memory_order_relaxed); }
    bool isEnabled() const { return m_enabled.load(std::memory_order_relaxed); }

private:
    std::array<float, kBufferFrames * 2> m_buffer {};
    int m_filled = 0;
    SilenceFilter m_filter;
    SpscQueue<MeterBatch> m_batches;
    std::atomic<bool> m_enabled { false };
};

} // namespace kivo::playback
