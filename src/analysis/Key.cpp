#include "Analysers.h"
#include "AudioAnalysis.h"
#include "Signal.h"

#include "music/DiatonicTriads.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>

namespace kivo::analysis {

namespace {

using Chroma = std::array<double, 12>;

constexpr std::size_t kFrame = 4096; // at kAnalysisRate / 2: 2.7 Hz a bin
constexpr double kLowestHz = 55;
constexpr double kHighestHz = 2100;
constexpr double kBassHz = 220;

// Krumhansl and Kessler's probe-tone ratings of the twelve degrees in major and minor keys.
constexpr Chroma kMajorProfile { 6.35, 2.23, 3.48, 2.33, 4.38, 4.09, 2.52, 5.19, 2.39, 3.66, 2.29, 2.88 };
constexpr Chroma kMinorProfile { 6.33, 2.68, 3.52, 5.38, 2.60, 3.53, 2.54, 4.75, 3.98, 2.69, 3.34, 3.17 };

double correlation(const Chroma& a, const Chroma& profile, int shift)
{
    const double ma = std::accumulate(a.begin(), a.end(), 0.0) / 12;
    const double mp = std::accumulate(profile.begin(), profile.end(), 0.0) / 12;
    double sab = 0, saa = 0, spp = 0;
    for (int i = 0; i < 12; ++i) {
        const double x = a[std::size_t((i + shift) % 12)] - ma;
        const double y = profile[std::size_t(i)] - mp;
        sab += x * y;
        saa += x * x;
        spp += y * y;
    }
    return saa > 0 && spp > 0 ? sab / std::sqrt(saa * spp) : 0;
}

Chroma triadTemplate(bool isMinor)
{
    Chroma t {};
    t[0] = 1;
    t[isMinor ? 3 : 4] = 1;
    t[7] = 1;
    return t;
}

struct Chromagram {
    std::vector<Chroma> frames; // pitch-class energy of each frame, all registers
    Chroma bass {}; // the sum of the frames below kBassHz
};

Chromagram chromagram(const std::vector<float>& mono)
{
    const std::vector<float> low = decimateByTwo(mono);
    const double rate = kAnalysisRate / 2.0;
    std::size_t count = 0;
    const std::vector<float> spectra = magnitudeSpectra(low, kFrame, kFrame / 2, count);
    const std::size_t bins = kFrame / 2 + 1;
    // Each bin's pitch class and its weight by distance from the semitone's centre.
    const std::size_t first = std::size_t(std::ceil(kLowestHz * kFrame / rate));
    const std::size_t last = std::min(bins - 2, std::size_t(kHighestHz * kFrame / rate));
    std::vector<int> pitchClass(bins, -1);
    std::vector<double> weight(bins, 0);
    for (std::size_t b = first; b <= last; ++b) {
        const double midi = 69 + 12 * std::log2(double(b) * rate / kFrame / 440.0);
        const double nearest = std::round(midi);
        pitchClass[b] = int(nearest) % 12;
        weight[b] = std::max(0.0, 1 - 2 * std::fabs(midi - nearest));
    }
    const std::size_t bassLast = std::size_t(kBassHz * kFrame / rate);

    Chromagram result;
    result.frames.resize(count);
    for (std::size_t f = 0; f < count; ++f) {
        const float* m = spectra.data() + f * bins;
        Chroma& c = result.frames[f];
        c.fill(0);
        // Only spectral peaks: a partial's leakage into the neighbouring bins is not a note.
        for (std::size_t b = first; b <= last; ++b) {
            if (m[b] <= m[b - 1] || m[b] < m[b + 1] || weight[b] <= 0)
                continue;
            const double e = weight[b] * m[b];
            c[std::size_t(pitchClass[b])] += e;
            if (b <= bassLast)
                result.bass[std::size_t(pitchClass[b])] += e;
        }
    }
    return result;
}

Chroma sum(const std::vector<Chroma>& frames, std::size_t from, std::size_t to)
{
    Chroma total {};
    for (std::size_t f = from; f < to && f < frames.size(); ++f)
        for (std::size_t i = 0; i < 12; ++i)
            total[i] += frames[f][i];
    return total;
}

double energy(const Chroma& c)
{
    return std::accumulate(c.begin(), c.end(), 0.0);
}

music::MusicalKey keyOf(int pitchClass, bool isMinor)
{
    music::MusicalKey key;
    key.pitchClass = pitchClass;
    key.isMinor = isMinor;
    key.spelling = music::chordKeyRootName(pitchClass, isMinor);
    return key;
}

} // namespace

std::optional<music::MusicalKey> estimateKey(const std::vector<float>& mono, bool isLoop)
{
    if (mono.empty())
        return std::nullopt;
    const Chromagram gram = chromagram(mono);
    const Chroma total = sum(gram.frames, 0, gram.frames.size());
    const double totalEnergy = energy(total);
    if (!(totalEnergy > 0))
        return std::nullopt;
    // Noise and unpitched hits spread evenly over the twelve classes: no key to hear.
    const double strongest = *std::max_element(total.begin(), total.end());
    const double spread = totalEnergy / 12 / strongest;
    if (spread > 0.7)
        return std::nullopt;

    // The opening chord is the usual tonic of a loop; the bass names a one-shot's root.
    const std::size_t openingFrames = std::max<std::size_t>(1, gram.frames.size() / 5);
    const Chroma opening = sum(gram.frames, 0, openingFrames);
    double best = -1e9;
    int bestRoot = 0;
    bool bestMinor = false;
    for (int root = 0; root < 12; ++root)
        for (bool minor : { false, true }) {
            const Chroma triad = triadTemplate(minor);
            double s = 0;
            if (isLoop) {
                s = correlation(total, minor ? kMinorProfile : kMajorProfile, root)
                    + 0.5 * correlation(opening, triad, root);
            } else {
                s = correlation(total, triad, root);
            }
            if (energy(gram.bass) > 0)
                s += 0.15 * correlation(gram.bass, triad, root);
            if (s > best) {
                best = s;
                bestRoot = root;
                bestMinor = minor;
            }
        }
    return keyOf(bestRoot, bestMinor);
}

} // namespace kivo::analysis
