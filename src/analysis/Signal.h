#pragma once

// The pieces of analysis shared by the analysers: a mono signal at kAnalysisRate and its
// short-time magnitude spectra. Internal to the analysis library.

#include <cstddef>
#include <vector>

namespace kivo::analysis {

// Magnitude spectra of `signal` in Hann-windowed frames of `frameSize` every `hop` samples
// (row-major, frameSize / 2 + 1 bins a frame). A signal shorter than a frame gives one
// zero-padded frame.
std::vector<float> magnitudeSpectra(
    const std::vector<float>& signal, std::size_t frameSize, std::size_t hop, std::size_t& frames);

// Halves the rate: a short low-pass then every second sample.
std::vector<float> decimateByTwo(const std::vector<float>& signal);

} // namespace kivo::analysis
