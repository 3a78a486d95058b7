#pragma once

// A labelled set for the analysers, made by the program's own means: chord progressions from the
// chord bank's triad tables played on the sampler's sounds, drum parts of synthesised hits, at
// known tempos and keys, with swing, background noise and fades, in a folder for each style (as
// packs are kept) and one for the one-shots. Deterministic for a seed.

#include <optional>
#include <string>
#include <vector>

namespace kivo::bench {

struct LabelledSample {
    std::string path;
    bool isLoop = false;
    std::optional<double> bpm; // loops only
    std::optional<int> pitchClass; // tonal samples only
    bool isMinor = false;
};

// Writes the set into `folder` (emptied first); `soundFonts` holds the sampler's sounds.
// Empty with `error` on failure.
std::vector<LabelledSample> makeAnalysisSet(
    const std::string& folder, const std::string& soundFonts, unsigned seed, std::string& error);

} // namespace kivo::bench
