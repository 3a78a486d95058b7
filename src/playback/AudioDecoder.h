#pragma once

// FFmpeg decoding of one audio file into interleaved stereo float at a chosen rate.
// Used from one thread at a time (the player's decoding worker after opening).

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace kivo::playback {

class AudioDecoder {
public:
    AudioDecoder();
    ~AudioDecoder();
    AudioDecoder(const AudioDecoder&) = delete;
    AudioDecoder& operator=(const AudioDecoder&) = delete;

    // Empty on success, else a description of why the file cannot be played.
    std::string open(const std::string& path, int outputRate);

    double duration() const { return m_duration; } // seconds, from the container
    int64_t durationFrames() const { return m_durationFrames; } // at the output rate
    int channelCount() const { return m_channels; }
    int outputRate() const { return m_outputRate; }

    // Positions the next decodeNext() output at `frame` (output rate).
    void seek(int64_t frame);
    // Decodes the next piece; `sink(samples, frames, firstFrame)` receives stereo
    // frames. False at the end of the stream (or on a decoding error that ends it).
    using Sink = std::function<void(const float* stereo, int frames)>;
    bool decodeNext(const Sink& sink);
    int64_t position() const { return m_position; }

    // Opening (with the stream probe) and each later decodeNext() or seek must finish within
    // these, or the file ends as if it ended there; set before open(). wasCut() tells such an
    // end from the file's own after decodeNext() returned false.
    void setBounds(std::chrono::milliseconds open, std::chrono::milliseconds read);
    bool wasCut() const;

private:
    struct State;
    enum class Next { frame, end, error };
    Next receive(); // reads until the decoder gives a frame (then held in the state)
    bool configureResampler();
    void emit(const float* samples, int frames, const Sink& sink);
    bool convertSlice(const Sink& sink);

    std::unique_ptr<State> m_state;
    double m_duration = 0;
    int64_t m_durationFrames = 0;
    int m_channels = 0;
    int m_outputRate = 48000;
    int64_t m_position = 0; // output frame of the next emitted sample
    int64_t m_seekTarget = -1; // drop output before this frame after a seek
    bool m_needPosition = false; // take the position from the next frame's timestamp
    bool m_flushed = false;
    std::chrono::milliseconds m_openBound { 5000 };
    std::chrono::milliseconds m_readBound { 5000 };
};

} // namespace kivo::playback
