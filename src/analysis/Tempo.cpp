#include "Analysers.h"
#include "AudioAnalysis.h"

#include <qm-dsp/dsp/tempotracking/TempoTrackV2.h>

#include <algorithm>
#include <cmath>
#include <numeric>

namespace kivo::analysis {

namespace {

// Normalised autocorrelation of the envelope at whole lags up to `maxLag`; a loop's wraps
// around, since its end runs on into its start.
std::vector<double> autocorrelation(const std::vector<float>& v, std::size_t maxLag, bool circular)
{
    const std::size_t n = v.size();
    const double mean = std::accumulate(v.begin(), v.end(), 0.0) / double(std::max<std::size_t>(n, 1));
    std::vector<double> x(n);
    for (std::size_t i = 0; i < n; ++i)
        x[i] = v[i] - mean;
    std::vector<double> ac(maxLag + 1, 0.0);
    for (std::size_t lag = 0; lag <= maxLag && lag < n; ++lag) {
        double sum = 0;
        if (circular) {
            for (std::size_t i = 0; i < n; ++i)
                sum += x[i] * x[(i + lag) % n];
            ac[lag] = sum / double(n);
        } else {
            for (std::size_t i = 0; i + lag < n; ++i)
                sum += x[i] * x[i + lag];
            ac[lag] = sum / double(n - lag);
        }
    }
    if (ac[0] > 0)
        for (double& a : ac)
            a /= ac[0];
    return ac;
}

double at(const std::vector<double>& ac, double lag)
{
    if (lag < 0 || lag >= double(ac.size() - 1))
        return 0;
    const std::size_t i = std::size_t(lag);
    const double t = lag - double(i);
    return ac[i] * (1 - t) + ac[i + 1] * t;
}

// How well the onsets repeat at the beat of `bpm`.
double beatStrength(const std::vector<double>& ac, double frameRate, double bpm)
{
    return at(ac, 60.0 * frameRate / bpm);
}

// Producers work between about 70 and 180 BPM; a tempo outside falls off steeply by the octave,
// so that a loop is read at the tempo in that range rather than at its half or double.
double tempoPrior(double bpm)
{
    constexpr double low = 70, high = 180;
    const double outside = bpm < low ? std::log2(low / bpm) : bpm > high ? std::log2(bpm / high) : 0;
    return std::exp(-0.5 * outside * outside / (0.15 * 0.15));
}

double score(const std::vector<double>& ac, double frameRate, double bpm)
{
    return (0.1 + std::max(0.0, beatStrength(ac, frameRate, bpm))) * tempoPrior(bpm);
}

// Loops of 1, 2, 4 or 8 bars are the rule; other whole numbers of bars the exception.
double barCountPrior(int bars)
{
    if ((bars & (bars - 1)) == 0)
        return 1.0;
    return bars % 2 == 0 ? 0.8 : 0.6;
}

// The tracker's beats, their mean spacing as a tempo.
std::optional<double> trackedTempo(const std::vector<float>& envelope, double frameRate)
{
    std::vector<double> df(envelope.begin(), envelope.end());
    TempoTrackV2 tracker(float(frameRate * 256), 256);
    std::vector<double> periods, tempi, beats;
    tracker.calculateBeatPeriod(df, periods, tempi);
    tracker.calculateBeats(df, periods, beats);
    if (beats.size() < 4)
        return std::nullopt;
    // Least-squares slope of beat frame against beat number.
    const double n = double(beats.size());
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (std::size_t i = 0; i < beats.size(); ++i) {
        sx += double(i);
        sy += beats[i];
        sxx += double(i) * double(i);
        sxy += double(i) * beats[i];
    }
    const double slope = (n * sxy - sx * sy) / (n * sxx - sx * sx);
    if (!(slope > 0))
        return std::nullopt;
    return 60.0 * frameRate / slope;
}

} // namespace

std::optional<double> estimateTempo(const OnsetEnvelope& envelope, double duration, bool isLoop)
{
    const auto& v = envelope.values;
    const double rate = envelope.frameRate;
    if (v.size() < 8 || duration <= 0 || *std::max_element(v.begin(), v.end()) <= 0)
        return std::nullopt;
    const std::size_t maxLag = std::min(v.size() - 1, std::size_t(4 * 60.0 * rate / kMinBpm) + 2);
    const std::vector<double> ac = autocorrelation(envelope.beats, maxLag, isLoop);

    if (isLoop) {
        double best = -1;
        std::optional<double> bestBpm;
        for (int bars = 1; bars <= 64; ++bars) {
            const double bpm = 240.0 * bars / duration;
            if (bpm < kMinBpm - 0.5)
                continue;
            if (bpm > kMaxBpm + 0.5)
                break;
            const double s = score(ac, rate, bpm) * barCountPrior(bars);
            if (s > best) {
                best = s;
                bestBpm = bpm;
            }
        }
        if (bestBpm)
            return bestBpm;
    }

    // No whole number of bars fits: the tracker's tempo, moved by octaves to where the onsets
    // and the producer range agree best.
    std::optional<double> tracked = trackedTempo(v, rate);
    if (!tracked)
        return std::nullopt;
    double bpm = *tracked;
    while (bpm < kMinBpm)
        bpm *= 2;
    while (bpm > kMaxBpm)
        bpm /= 2;
    double best = -1, chosen = bpm;
    for (double candidate : { bpm / 2, bpm, bpm * 2 }) {
        if (candidate < kMinBpm || candidate > kMaxBpm)
            continue;
        const double s = score(ac, rate, candidate);
        if (s > best) {
            best = s;
            chosen = candidate;
        }
    }
    return chosen;
}

double preferFolderOctave(double bpm, const std::vector<double>& siblingTempos)
{
    std::vector<double> octaves;
    for (double t : siblingTempos)
        if (t > 0 && std::isfinite(t))
            octaves.push_back(std::log2(t));
    if (octaves.size() < 2 || !(bpm > 0))
        return bpm;
    // The median in octaves: a sibling heard at half or double itself moves it least.
    const auto middle = octaves.begin() + std::ptrdiff_t(octaves.size() / 2);
    std::nth_element(octaves.begin(), middle, octaves.end());
    double median = *middle;
    if (octaves.size() % 2 == 0)
        median = (median + *std::max_element(octaves.begin(), middle)) / 2;
    double chosen = bpm, nearest = std::fabs(std::log2(bpm) - median);
    for (double candidate : { bpm / 2, bpm * 2 }) {
        const double distance = std::fabs(std::log2(candidate) - median);
        if (candidate >= kMinBpm - 0.5 && candidate <= kMaxBpm + 0.5 && distance < nearest) {
            nearest = distance;
            chosen = candidate;
        }
    }
    return chosen;
}

} // namespace kivo::analysis
