#pragma once

// The last stage of the engine's output, there to protect ears and monitors: a mix that stays
// below -1 dBFS passes bit for bit; above that, a soft knee bends peaks towards 0 dBFS, which
// the output never reaches. Both sides share one gain, so the stereo image holds. The gain
// drops at once (no look-ahead, no added latency) and recovers smoothly.
// Render thread only: no allocation, no locks.

namespace kivo::playback {

class SafetyLimiter {
public:
    static constexpr float kThreshold = 0.8912509f; // -1 dBFS
    static constexpr float kCeiling = 1.0f; // 0 dBFS, never reached

    explicit SafetyLimiter(double sampleRate = 48000) { setSampleRate(sampleRate); }
    // Cheap when the rate is unchanged, so the render thread can call it for every block.
    void setSampleRate(double sampleRate);

    // In place, interleaved stereo. Samples that are not numbers become silence.
    void process(float* stereo, int frames);

    // 1 when passing the signal unchanged.
    double gain() const { return m_gain; }

private:
    // In double: near 1 a float step of the recovery would round away and leave the gain short of 1.
    double m_gain = 1.0;
    double m_release = 0.0; // share of the way back to 1 recovered per frame
    double m_rate = 0;
};

} // namespace kivo::playback
