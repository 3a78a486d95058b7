#pragma once

// Tempo from tap times: the mean interval, after dropping intervals that stray more than two
// standard deviations from the mean (only with three intervals or more, and only when that keeps
// at least four in five of them). Pure.

#include <optional>
#include <vector>

namespace kivo::hotkeys {

// Beats per minute from tap times in seconds; none for fewer than two taps or no positive mean.
std::optional<double> tapTempo(const std::vector<double>& times);

// Rounded to the nearest integer, halves away from zero.
int roundedBPM(double bpm);

} // namespace kivo::hotkeys
