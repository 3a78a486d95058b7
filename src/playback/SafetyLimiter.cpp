#include "SafetyLimiter.h"

#include <algorithm>
#include <cmath>

namespace kivo::playback {

namespace {

constexpr double kReleaseSeconds = 0.08;
// Closer than this to 1, the gain is 1: a released limiter leaves the samples exactly as they were.
constexpr double kUnity = 0.99999;

// The gain that puts a peak of `peak` (above the threshold) on the knee: slope 1 at the
// threshold, approaching the ceiling but never reaching it.
double kneeGain(float peak)
{
    constexpr float span = SafetyLimiter::kCeiling - SafetyLimiter::kThreshold;
    const float shaped
        = SafetyLimiter::kThreshold + span * std::tanh((peak - SafetyLimiter::kThreshold) / span);
    // Rounding must not carry the product past the ceiling.
    return double(std::min(shaped, SafetyLimiter::kCeiling * 0.99999f)) / double(peak);
}

} // namespace

void SafetyLimiter::setSampleRate(double sampleRate)
{
    const double rate = sampleRate > 0 ? sampleRate : 48000.0;
    if (rate == m_rate)
        return;
    m_rate = rate;
    m_release = 1.0 - std::exp(-1.0 / (kReleaseSeconds * rate));
}

void SafetyLimiter::process(float* stereo, int frames)
{
    double gain = m_gain;
    for (int i = 0; i < frames; ++i) {
        float& left = stereo[2 * i];
        float& right = stereo[2 * i + 1];
        if (!std::isfinite(left))
            left = 0.0f;
        if (!std::isfinite(right))
            right = 0.0f;
        if (gain < 1.0) {
            gain += (1.0 - gain) * m_release;
            if (gain > kUnity)
                gain = 1.0;
        }
        const float peak = std::max(std::fabs(left), std::fabs(right));
        if (peak > kThreshold)
            gain = std::min(gain, kneeGain(peak));
        if (gain < 1.0) {
            left = float(left * gain);
            right = float(right * gain);
        }
    }
    m_gain = gain;
}

} // namespace kivo::playback
