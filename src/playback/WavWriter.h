#pragma once

// Writes interleaved float audio as a 16-bit PCM WAV file, atomically (temporary
// file, then rename), so a reader never sees half a file.

#include <string>
#include <vector>

namespace kivo::playback {

// Empty on success, else what went wrong.
std::string writeWav16(
    const std::string& path, const std::vector<float>& interleaved, int channels, int sampleRate);

} // namespace kivo::playback
