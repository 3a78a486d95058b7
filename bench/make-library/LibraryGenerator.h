#pragma once

// A deterministic synthetic sample library: sample packs laid out the way vendors ship them, with the
// tempo and key spellings, tagged formats, MIDI files and non-sample clutter that a real library has.

#include <cstdint>
#include <string>

namespace kivo::bench {

struct LibraryOptions {
    std::string directory; // created; must not exist or be empty
    std::size_t files = 1000; // compatible files written (clutter the browser ignores comes on top)
    std::size_t folders = 0; // folders below the directory; 0 means about one per ten files
    std::uint64_t seed = 1;
    // Percentage of the audio samples written as tagged mp3, flac, m4a and aiff (in equal parts) instead
    // of the usual mix of mostly WAV; 0 keeps the usual mix.
    std::size_t taggedPercent = 0;
};

struct LibraryStats {
    std::size_t compatibleFiles = 0;
    std::size_t ignoredFiles = 0;
    std::size_t folders = 0;
    std::size_t wav = 0, mp3 = 0, flac = 0, aiff = 0, m4a = 0, midi = 0;
    std::uint64_t bytes = 0;
};

// Throws std::runtime_error when the directory cannot be used or a write fails.
LibraryStats makeLibrary(const LibraryOptions& options);

} // namespace kivo::bench
