#pragma once

// Writes interleaved float audio as a 16-bit PCM WAV file while it is produced, so a render of
// any length needs only one block in memory. The file appears whole or not at all: the samples go
// to a temporary beside it, which is renamed into place when finished.

#include <cstdint>
#include <cstdio>
#include <string>

namespace kivo::playback {

class WavWriter {
public:
    WavWriter() = default;
    ~WavWriter(); // an unfinished file is removed
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;

    // Empty on success, else what went wrong.
    std::string open(const std::string& path, int channels, int sampleRate);
    // `frames` frames of `channels` interleaved samples; out-of-range samples are clipped.
    std::string append(const float* interleaved, int64_t frames);
    // Writes the final sizes and puts the file in place.
    std::string finish();

    int64_t frames() const { return m_frames; }

private:
    std::string fail(const std::string& what);

    std::string m_path;
    std::string m_temp;
    std::FILE* m_file = nullptr;
    int m_channels = 0;
    int64_t m_frames = 0;
    std::string m_buffer;
};

} // namespace kivo::playback
