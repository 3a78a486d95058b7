#include "Analysers.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <memory>

namespace kivo::analysis {

namespace {

using State = std::unique_ptr<ebur128_state, void (*)(ebur128_state*)>;

State makeState(int channels, int rate, int mode)
{
    return State(ebur128_init(unsigned(channels), unsigned(rate), mode),
        [](ebur128_state* s) { ebur128_destroy(&s); });
}

// Frames either side of a loud sample that the oversampling filter reaches.
constexpr std::size_t kReach = 24;

} // namespace

Loudness measureLoudness(const std::vector<float>& interleaved, int channels, int rate)
{
    Loudness result;
    if (interleaved.empty() || channels < 1)
        return result;
    const std::size_t frames = interleaved.size() / std::size_t(channels);
    State integrated = makeState(channels, rate, EBUR128_MODE_I);
    if (!integrated
        || ebur128_add_frames_float(integrated.get(), interleaved.data(), frames) != EBUR128_SUCCESS)
        return result;
    double lufs = 0;
    // Below one 400 ms block, or all silence, there is no integrated loudness to give.
    if (ebur128_loudness_global(integrated.get(), &lufs) == EBUR128_SUCCESS && std::isfinite(lufs))
        result.integrated = lufs;

    float samplePeak = 0;
    for (float s : interleaved)
        samplePeak = std::max(samplePeak, std::fabs(s));
    if (!(samplePeak > 0))
        return result;
    // Oversampling every frame costs several times the decoding. A reconstructed peak above the
    // sample peak needs samples near it within 6 dB of that peak, so only the stretches around
    // such samples are oversampled, each set apart by silence the filter settles in. Where a
    // stretch starts or ends the samples are below half the peak and cannot ring past it.
    State peak = makeState(channels, rate, EBUR128_MODE_TRUE_PEAK);
    if (!peak)
        return result;
    const float loud = samplePeak / 2;
    const std::vector<float> silence(2 * kReach * std::size_t(channels), 0.0f);
    std::size_t frame = 0;
    while (frame < frames) {
        std::size_t first = frame;
        auto isLoud = [&](std::size_t f) {
            for (int c = 0; c < channels; ++c)
                if (std::fabs(interleaved[f * std::size_t(channels) + std::size_t(c)]) >= loud)
                    return true;
            return false;
        };
        while (first < frames && !isLoud(first))
            ++first;
        if (first == frames)
            break;
        std::size_t last = first;
        for (std::size_t f = first; f < frames && f <= last + 2 * kReach; ++f)
            if (isLoud(f))
                last = f;
        const std::size_t from = first > kReach ? first - kReach : 0;
        const std::size_t to = std::min(frames, last + kReach + 1);
        ebur128_add_frames_float(peak.get(), interleaved.data() + from * std::size_t(channels), to - from);
        ebur128_add_frames_float(peak.get(), silence.data(), 2 * kReach);
        frame = to;
    }
    double truePeak = samplePeak;
    for (int c = 0; c < channels; ++c) {
        double channelPeak = 0;
        if (ebur128_true_peak(peak.get(), unsigned(c), &channelPeak) == EBUR128_SUCCESS)
            truePeak = std::max(truePeak, channelPeak);
    }
    result.truePeak = 20 * std::log10(truePeak);
    return result;
}

} // namespace kivo::analysis
