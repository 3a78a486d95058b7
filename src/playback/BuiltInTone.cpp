#include "BuiltInTone.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kivo::playback {

namespace {
constexpr double kAttackSeconds = 0.004;
constexpr double kDecayPerSecond = 1.2; // exponential fall towards the sustain floor
constexpr double kSustain = 0.35;
constexpr double kReleasePerSecond = 18.0;
} // namespace

void BuiltInTone::setTuningCents(double cents)
{
    m_tuning = std::pow(2.0, cents / 1200.0);
}

double BuiltInTone::frequency(int key) const
{
    return 440.0 * std::pow(2.0, (key - 69) / 12.0) * m_tuning;
}

void BuiltInTone::noteOn(int key, int velocity, int channel)
{
    if (velocity <= 0) {
        noteOff(key, channel);
        return;
    }
    Voice* slot = nullptr;
    for (auto& v : m_voices) {
        if (!v.active) {
            slot = &v;
            break;
        }
    }
    if (!slot) { // steal the oldest voice
        slot = &m_voices[0];
        for (auto& v : m_voices)
            if (v.age > slot->age)
                slot = &v;
    }
    *slot = Voice { true, false, key, channel, 0.0, 0.3 * velocity / 127.0, 0.0, 0 };
}

void BuiltInTone::noteOff(int key, int channel)
{
    for (auto& v : m_voices)
        if (v.active && !v.releasing && v.key == key && v.channel == channel) {
            v.releasing = true;
            break;
        }
}

void BuiltInTone::allNotesOff()
{
    for (auto& v : m_voices)
        if (v.active)
            v.releasing = true;
}

int BuiltInTone::activeVoices() const
{
    int n = 0;
    for (const auto& v : m_voices)
        n += v.active;
    return n;
}

void BuiltInTone::render(float* stereo, int frames)
{
    const double attackStep = 1.0 / (kAttackSeconds * m_rate);
    const double decay = std::exp(-kDecayPerSecond / m_rate);
    const double release = std::exp(-kReleasePerSecond / m_rate);
    const int attackFrames = int(kAttackSeconds * m_rate);
    for (auto& v : m_voices) {
        if (!v.active)
            continue;
        const double step = 2.0 * std::numbers::pi * frequency(v.key) / m_rate;
        for (int i = 0; i < frames; ++i) {
            if (v.releasing)
                v.envelope *= release;
            else if (v.age < attackFrames)
                v.envelope = std::min(1.0, v.envelope + attackStep);
            else
                v.envelope = kSustain + (v.envelope - kSustain) * decay;
            double s = v.amplitude * v.envelope * (std::sin(v.phase) + 0.25 * std::sin(2.0 * v.phase));
            stereo[2 * i] += float(s);
            stereo[2 * i + 1] += float(s);
            v.phase += step;
            if (v.phase > 2.0 * std::numbers::pi)
                v.phase -= 2.0 * std::numbers::pi;
            ++v.age;
            if (v.releasing && v.envelope < 1e-4) {
                v.active = false;
                break;
            }
        }
    }
}

} // namespace kivo::playback
