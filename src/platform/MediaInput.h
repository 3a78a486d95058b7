#pragma once

// The one way this program opens a sample file with FFmpeg. Sample files come from anywhere, and
// FFmpeg left to itself will treat a text file as a playlist and open whatever it names (other
// local files, a FIFO that blocks forever, network addresses). So:
// - only a regular file is opened, through our own reader on its descriptor (never a URL);
// - only the container that belongs to the name's extension is tried (wav, aiff, mp3, flac,
//   ADTS aac, mp4/m4a), never probed among all demuxers;
// - nothing else is ever opened from inside it (no protocols but "file", and every nested
//   open is refused);
// - every open and read has a time bound: past it, FFmpeg is told to give up.

#include <chrono>
#include <memory>
#include <string>

struct AVFormatContext;

namespace kivo::platform {

class MediaInput {
public:
    ~MediaInput();
    MediaInput(const MediaInput&) = delete;
    MediaInput& operator=(const MediaInput&) = delete;

    // Opens `path` and reads its container header within `budget`. Empty on failure, with a
    // short description in `error` (when given).
    static std::unique_ptr<MediaInput> open(
        const std::string& path, std::chrono::milliseconds budget, std::string* error = nullptr);

    // The FFmpeg name of the container allowed for a file name's extension, or null.
    static const char* containerForPath(const std::string& path);

    AVFormatContext* format() const { return m_format; }
    // Starts a new bound for the reads that follow (each piece of work gets its own).
    void allow(std::chrono::milliseconds budget);
    bool expired() const;
    // Whether the work since the last allow() ended because its bound ran out, not at the end
    // of the file or on an error of its own.
    bool wasCut() const;

private:
    MediaInput() = default;

    AVFormatContext* m_format = nullptr;
    struct Source;
    std::unique_ptr<Source> m_source;
};

} // namespace kivo::platform
