#pragma once

#include "support/TestEnvironment.h"

#include <string>
#include <vector>

namespace kivo::test {

// Fundamental frequency of the left channel of interleaved stereo between two frames,
// by autocorrelation (robust to the harmonics of real instruments).
double estimatePitch(const std::vector<float>& stereo, int rate, int fromFrame, int toFrame);
// Frequency of a steady sine on the left channel, from the first to the last rising zero crossing
// (interpolated), far finer than a cent over a second.
double sineFrequency(const std::vector<float>& stereo, int rate, int fromFrame, int toFrame);
// RMS of the left channel between two frames.
double rms(const std::vector<float>& stereo, int fromFrame, int toFrame);
// First frame at or after `fromFrame` whose left sample magnitude exceeds `threshold`.
int firstFrameAbove(const std::vector<float>& stereo, int fromFrame, float threshold);

} // namespace kivo::test
