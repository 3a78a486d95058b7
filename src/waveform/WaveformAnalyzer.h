#pragma once

// The amplitude of an audio file as exactly N values between 0 and 1, one per pixel column of the
// waveform drawn from them: 0 is full scale, 1 is at or below the noise floor. The file is decoded
// to interleaved 16-bit samples and consumed in whole blocks as they arrive, never held whole.
// Plain C++ without Qt; the caller runs it off the main thread.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kivo::waveform {

// Where the decoder stood when reading ended.
enum class ReaderStatus { unknown, reading, completed, failed, cancelled };
std::string readerStatusText(ReaderStatus status);

struct AnalyzeError {
    enum class Kind {
        readerError, // reading ended before the end of the file
        generic, // the decoder could not be set up for 16-bit output
        userError, // a request that cannot be met (no values asked for, no noise floor)
        emptyTracks, // the file has no audio
        openFailed, // the file could not be opened or read as audio at all
    };
    Kind kind = Kind::generic;
    ReaderStatus status = ReaderStatus::unknown; // for readerError
    std::string detail; // what the decoder said, when it said anything

    std::string description() const;
};

struct AnalyzeResult {
    std::vector<float> values;
    std::optional<AnalyzeError> error;
    bool ok() const { return !error.has_value(); }
};

class WaveformAnalyzer {
public:
    static constexpr float kDefaultNoiseFloor = -50.0f;
    float noiseFloorDecibelCutoff = kDefaultNoiseFloor;

    // True when the caller no longer wants the answer; asked between decoded buffers.
    using CancelCheck = std::function<bool()>;

    // `count` values (at least 1) for the audio file at `path`. A reader failure also writes
    // "ERROR: reading waveform audio data has failed " and the status to standard output.
    AnalyzeResult samples(const std::string& path, int count, const CancelCheck& cancelled = {}) const;
};

// The number of 16-bit samples per value for a file of `totalSamples` (all channels) drawn in
// `count` values.
int64_t samplesPerValue(int64_t totalSamples, int count);

} // namespace kivo::waveform
