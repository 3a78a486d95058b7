#include "Analysers.h"
#include "AudioAnalysis.h"
#include "Signal.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace kivo::analysis {

namespace {
constexpr std::size_t kFrame = 1024;
constexpr std::size_t kHop = 256;
constexpr double kMaxFluxHz = 8000;
constexpr double kFloorDb = 55;
// A slow swell is not an onset: keep what rises above the local mean (about 0.3 s).
std::vector<float> aboveLocalMean(const std::vector<float>& flux)
{
    const std::size_t frames = flux.size();
    const std::size_t half = 12;
    std::vector<double> prefix(frames + 1, 0.0);
    for (std::size_t f = 0; f < frames; ++f)
        prefix[f + 1] = prefix[f] + flux[f];
    std::vector<float> out(frames);
    for (std::size_t f = 0; f < frames; ++f) {
        const std::size_t a = f > half ? f - half : 0;
        const std::size_t b = std::min(frames, f + half + 1);
        const double mean = (prefix[b] - prefix[a]) / double(b - a);
        out[f] = float(std::max(0.0, flux[f] - mean));
    }
    return out;
}

} // namespace

OnsetEnvelope onsetEnvelope(const std::vector<float>& mono)
{
    OnsetEnvelope envelope;
    envelope.frameRate = double(kAnalysisRate) / kHop;
    if (mono.empty())
        return envelope;
    std::size_t frames = 0;
    std::vector<float> spectra = magnitudeSpectra(mono, kFrame, kHop, frames);
    const std::size_t bins = kFrame / 2 + 1;
    const std::size_t usedBins = std::min(bins, std::size_t(kMaxFluxHz * kFrame / kAnalysisRate));
    // Level above a floor 55 dB under the loudest bin, in nepers: background noise and the
    // quiet ends of decays sit at the floor and add nothing to the flux.
    const float loudest = *std::max_element(spectra.begin(), spectra.end());
    if (!(loudest > 0))
        return envelope;
    const float floor = loudest * float(std::pow(10.0, -kFloorDb / 20));
    for (float& m : spectra)
        m = std::log(std::max(m, floor) / floor);
    // Before the first frame is silence, so a sound that starts at once has its onset. Each band
    // gives its mean rise a bin, so that a kick's few low bins count as much as a snare's many.
    const std::size_t edges[] = { 1, std::size_t(200.0 * kFrame / kAnalysisRate),
        std::size_t(2000.0 * kFrame / kAnalysisRate), usedBins };
    std::vector<float> flux(frames, 0.0f), beatFlux(frames, 0.0f);
    for (std::size_t f = 0; f < frames; ++f) {
        const float* now = spectra.data() + f * bins;
        for (std::size_t band = 0; band + 1 < std::size(edges); ++band) {
            float sum = 0;
            for (std::size_t b = edges[band]; b < edges[band + 1]; ++b)
                sum += f == 0 ? now[b] : std::max(0.0f, now[b] - now[b - bins]);
            flux[f] += sum / float(edges[band + 1] - edges[band]);
            if (band < 2)
                beatFlux[f] += sum / float(edges[band + 1] - edges[band]);
        }
    }
    envelope.values = aboveLocalMean(flux);
    envelope.beats = aboveLocalMean(beatFlux);
    return envelope;
}

std::vector<std::size_t> onsetFrames(const OnsetEnvelope& envelope)
{
    std::vector<std::size_t> onsets;
    const auto& v = envelope.values;
    if (v.empty())
        return onsets;
    const float threshold = std::max(kMinOnset, 0.2f * *std::max_element(v.begin(), v.end()));
    const std::size_t gap = std::max<std::size_t>(1, std::size_t(0.05 * envelope.frameRate));
    for (std::size_t f = 0; f < v.size(); ++f) {
        if (v[f] < threshold || (f > 0 && v[f] < v[f - 1]) || (f + 1 < v.size() && v[f] < v[f + 1]))
            continue;
        if (!onsets.empty() && f - onsets.back() < gap) {
            if (v[f] > v[onsets.back()])
                onsets.back() = f;
            continue;
        }
        onsets.push_back(f);
    }
    return onsets;
}

bool looksLikeLoop(const std::vector<float>& mono, const OnsetEnvelope& envelope)
{
    const double duration = double(mono.size()) / kAnalysisRate;
    // One bar at the fastest tempo is the shortest loop.
    if (duration < 0.95 * 4 * 60 / kMaxBpm)
        return false;
    // A one-shot dies away: its second half is quieter than its first, and by its last 150 ms
    // it is near silence. A loop holds its level and is cut while it still sounds, so that its
    // end runs on into its start; a sparse one still shows several onsets.
    const std::size_t window = std::size_t(0.15 * kAnalysisRate);
    double loudest = 0;
    for (std::size_t start = 0; start + window <= mono.size(); start += window / 2) {
        double sum = 0;
        for (std::size_t i = start; i < start + window; ++i)
            sum += double(mono[i]) * mono[i];
        loudest = std::max(loudest, sum);
    }
    double tail = 0, firstHalf = 0, secondHalf = 0;
    for (std::size_t i = mono.size() - std::min(window, mono.size()); i < mono.size(); ++i)
        tail += double(mono[i]) * mono[i];
    for (std::size_t i = 0; i < mono.size(); ++i)
        (i < mono.size() / 2 ? firstHalf : secondHalf) += double(mono[i]) * mono[i];
    if (loudest <= 0 || firstHalf <= 0)
        return false;
    const double tailDb = 10 * std::log10(std::max(tail, 1e-20) / loudest);
    const double halvesDb = 10 * std::log10(std::max(secondHalf, 1e-20) / firstHalf);
    const bool sustained = tailDb > -24;
    const bool rhythmic = onsetFrames(envelope).size() >= 3;
    return halvesDb > -6 && (sustained || rhythmic);
}

} // namespace kivo::analysis
