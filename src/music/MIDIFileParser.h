#pragma once

// Turns the bytes of a Standard MIDI File into a time-sorted list of notes in seconds, the
// playing time and the tempo the file starts with. Pure: no I/O, no state between calls, never
// throws, safe from any thread. Damaged files are read as far as they make sense.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace kivo::music {

struct MIDINote {
    int pitch = 0; // the key number as read: 0 to 127 in a valid file
    double start = 0; // seconds from the start of the file
    double duration = 0; // seconds, always > 0
    int velocity = 0; // the note-on velocity: 1 to 127 in a valid file
    int channel = 0; // 0 to 15

    bool operator==(const MIDINote&) const = default;
};

struct MIDIFileData {
    std::vector<MIDINote> notes; // sorted by start
    double duration = 0; // seconds, > 0
    std::optional<double> initialBPM;

    bool operator==(const MIDIFileData&) const = default;
};

class MIDIFileParser {
public:
    // None when the bytes are not a MIDI file or hold nothing that takes time.
    static std::optional<MIDIFileData> parse(const std::uint8_t* data, std::size_t size);
    static std::optional<MIDIFileData> parse(std::span<const std::uint8_t> bytes)
    {
        return parse(bytes.data(), bytes.size());
    }
    static std::optional<MIDIFileData> parse(std::string_view bytes)
    {
        return parse(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    }
};

} // namespace kivo::music
