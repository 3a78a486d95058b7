#pragma once

// The tempo a MIDI file starts with, exactly as MIDIFileParser::parse reports it in `initialBPM`,
// found while reading as little of the file as that answer needs: a file's first tempo event
// usually sits at tick 0 of its first track, and nothing after it can come earlier. The index
// reads the tempo of every MIDI file it scans, and some are megabytes of notes.
// Pure, like the parser: works on the bytes it is given.

#include <cstddef>
#include <optional>
#include <string_view>

namespace kivo::music {

class MIDITempoScan {
public:
    struct Result {
        bool complete = false; // false: the answer needs more of the file than `prefix` held
        std::optional<double> initialBPM; // when complete
        std::size_t needed = 0; // when not complete: the prefix must reach at least this size
    };

    // `prefix` is the start of a file of `fileSize` bytes (all of it when the sizes agree).
    static Result scan(std::string_view prefix, std::size_t fileSize);
};

} // namespace kivo::music
