#pragma once

// Sounds made in memory for the analysis tests, and a WAV writer for them. Only for test targets
// that link the playback library (the WAV writer is its).

#include "playback/WavWriter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace kivo::test {

// A kick on every beat and a noise snare on beats 2 and 4, exactly `bars` bars long, stereo.
inline std::vector<float> drumLoop(double bpm, int bars, int rate = 44100)
{
    std::vector<float> out(std::size_t(bars * 4 * 60.0 / bpm * rate) * 2, 0.0f);
    std::mt19937 random(7);
    std::uniform_real_distribution<float> noise(-1, 1);
    for (int beat = 0; beat < bars * 4; ++beat) {
        const std::size_t start = std::size_t(beat * 60.0 / bpm * rate);
        for (std::size_t i = 0; i < std::size_t(0.2 * rate) && 2 * (start + i) + 1 < out.size(); ++i) {
            const double t = double(i) / rate;
            float v = float(0.8 * std::sin(2 * M_PI * 60 * t) * std::exp(-t * 15));
            if (beat % 2 == 1)
                v += 0.5f * noise(random) * float(std::exp(-t * 30));
            out[2 * (start + i)] += v;
            out[2 * (start + i) + 1] += v;
        }
    }
    return out;
}

inline void writeWav(
    const std::string& path, const std::vector<float>& samples, int rate = 44100, int channels = 2)
{
    playback::WavWriter wav;
    ASSERT_EQ(wav.open(path, channels, rate), "");
    ASSERT_EQ(wav.append(samples.data(), int64_t(samples.size()) / channels), "");
    ASSERT_EQ(wav.finish(), "");
}

} // namespace kivo::test
