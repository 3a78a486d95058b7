#pragma once

// What a sample file's own header says about its tempo, key and length. WAV files are read by a small
// RIFF chunk walk of ours that seeks over the audio; MIDI files through the MIDI parser; the tagged
// formats through TagLib (FFmpeg's demuxer for raw ADTS ".aac", which TagLib cannot open). Files are
// opened read-only and never written. Every failure just leaves a value absent: nothing is thrown or
// logged. No state is kept between calls; safe on any thread.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kivo::index {

struct HeaderMetadata {
    std::optional<std::int64_t> bpm; // always within 40-400
    std::optional<std::string> key; // WAV: a root name; tags: the tag's own text, trimmed
    std::optional<double> duration; // seconds, finite and > 0

    bool operator==(const HeaderMetadata&) const = default;
};

// Chooses the reader by the path's extension, lower-cased: wav; mp3, m4a, aac, aiff, flac; mid, midi.
// Any other extension gives nothing.
HeaderMetadata readHeaderMetadata(const std::string& path);

HeaderMetadata readWavHeader(const std::string& path);
HeaderMetadata readTaggedHeader(const std::string& path);
HeaderMetadata readMidiHeader(const std::string& path);

// Opens a file for a header read, read-only, with `flags` added. Inside a FolderHandleScope on this
// thread, a file of that folder is opened beside the folder's open handle: the kernel then looks up
// one name instead of walking the whole path again for every file of a scan.
int openHeaderFile(const std::string& path, int flags = 0);

class FolderHandleScope {
public:
    // `folderFd` (a directory handle, or -1 for none) stands for `folder` until the scope ends.
    FolderHandleScope(int folderFd, std::string_view folder);
    ~FolderHandleScope();
    FolderHandleScope(const FolderHandleScope&) = delete;
    FolderHandleScope& operator=(const FolderHandleScope&) = delete;

private:
    int m_previousFd;
    std::string_view m_previousFolder;
};

constexpr std::int64_t kMinHeaderBPM = 40;
constexpr std::int64_t kMaxHeaderBPM = 400;

// A tempo rounded to the nearest integer (halves away from zero); none when it is not finite or the
// result falls outside 40-400.
std::optional<std::int64_t> headerTempo(double bpm);
// A tempo tag's text: the whole text must read as a decimal number ("120", "120.4", "1e2").
std::optional<std::int64_t> headerTempoFromText(std::string_view text);
// A key tag's text with white space trimmed at both ends, kept as written otherwise; none when empty.
std::optional<std::string> headerKeyFromText(std::string_view text);

} // namespace kivo::index
