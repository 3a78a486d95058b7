#pragma once

#include <string>
#include <vector>

namespace kivo::test {

// Runs a shell command; true when it exits 0.
bool shell(const std::string& command);

// What kivo-render printed (stdout and stderr together) and its exit status.
struct ToolRun {
    int status = -1;
    std::string out;
};
// Runs the built kivo-render with `args` (already quoted for the shell).
ToolRun runRender(const std::string& args);

// sox `stat` figures of a WAV file.
struct SoxStat {
    double rms = -1;
    double maximum = -1;
    double roughFrequency = -1;
};
SoxStat soxStat(const std::string& wavPath);

// Fundamental frequency of the left channel of interleaved stereo between two frames,
// by autocorrelation (robust to the harmonics of real instruments).
double estimatePitch(const std::vector<float>& stereo, int rate, int fromFrame, int toFrame);
// RMS of the left channel between two frames.
double rms(const std::vector<float>& stereo, int fromFrame, int toFrame);
// First frame at or after `fromFrame` whose left sample magnitude exceeds `threshold`.
int firstFrameAbove(const std::vector<float>& stereo, int fromFrame, float threshold);

} // namespace kivo::test
