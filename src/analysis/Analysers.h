#pragma once

// The single analysers behind analyseFile(), each on a mono signal at kAnalysisRate (loudness
// on the decoded channels). Internal to the analysis library; exposed for its tests.

#include "music/MusicalKey.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace kivo::analysis {

// Spectral flux of the log-compressed spectrum, less its local mean: peaks where notes and
// hits begin.
struct OnsetEnvelope {
    std::vector<float> values;
    // The same below 2 kHz: kicks, snares and chords without the hats that fill between beats.
    std::vector<float> beats;
    double frameRate = 0; // values a second
};
OnsetEnvelope onsetEnvelope(const std::vector<float>& mono);

// The least rise, in mean nepers a bin, that counts as an onset: background noise near the floor
// stays well below it.
inline constexpr float kMinOnset = 0.25f;
// Frames of the envelope where a clear onset begins.
std::vector<std::size_t> onsetFrames(const OnsetEnvelope& envelope);

// Whether the audio repeats as a loop rather than sounding once: long enough for a bar, and
// either several onsets or still sounding when the end meets the start.
bool looksLikeLoop(const std::vector<float>& mono, const OnsetEnvelope& envelope);

// Beats a minute within kMinBpm to kMaxBpm. A loop's length is taken to be a whole number of
// 4/4 bars at one of those tempos; the choice between them, and between half and double of a
// free estimate, goes by how well the onsets repeat at the beat within the usual producer range.
inline constexpr double kMinBpm = 60;
inline constexpr double kMaxBpm = 200;
std::optional<double> estimateTempo(const OnsetEnvelope& envelope, double duration, bool isLoop);

// Major or minor key from a chroma profile match. A loop is matched against key profiles with
// the opening chord as the tonic's evidence; a one-shot names the triad it sounds.
std::optional<music::MusicalKey> estimateKey(const std::vector<float>& mono, bool isLoop);

struct Loudness {
    std::optional<double> integrated; // LUFS
    std::optional<double> truePeak; // dBTP
};
// Interleaved frames of `channels` (1 or 2) at `rate`.
Loudness measureLoudness(const std::vector<float>& interleaved, int channels, int rate);

// Raw chromaprint fingerprint of a mono signal at kAnalysisRate; empty when the library refuses it.
std::vector<uint32_t> fingerprint(const std::vector<float>& mono);
// A hash of the samples' bits, taken two samples (a 64-bit word) at a time.
uint64_t hashSamples(const std::vector<float>& samples);

} // namespace kivo::analysis
