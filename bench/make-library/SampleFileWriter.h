#pragma once

// Byte-exact contents of the small sample files the synthetic library is made of. Everything is built in
// memory so the generator can write each file with a single open/write/close; the tagged formats are
// tagged by TagLib working on an in-memory stream.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kivo::bench {

struct AudioShape {
    int sampleRate = 44100;
    int channels = 1;
    int frames = 1024; // 16-bit samples per channel
};

// One RIFF chunk we do not care about ("LIST", "junk", "bext", ...), often odd-sized so readers must
// honour the pad byte.
struct ExtraChunk {
    std::string id; // four characters
    std::uint32_t size = 0;
};

struct AcidInfo {
    float bpm = 120.0f;
    int rootNote = 57;
    bool rootValid = true;
    bool oneShot = false;
};

struct WavLayout {
    AudioShape shape;
    std::optional<AcidInfo> acid;
    bool acidBeforeFormat = false;
    std::vector<ExtraChunk> beforeFormat;
    std::vector<ExtraChunk> beforeData;
    std::vector<ExtraChunk> afterData;
};

// Tag texts exactly as they should appear in the file (untrimmed, possibly not numbers at all).
struct TagValues {
    std::optional<std::string> bpm;
    std::optional<std::string> key;
    std::string title;
};

struct MidiLayout {
    std::optional<double> bpm; // none: the file carries no tempo event
    std::optional<double> laterBpm; // a tempo change after the first bar
    int bars = 2;
    int rootNote = 60;
    bool formatOne = false; // tempo track plus one note track
};

std::string wavBytes(const WavLayout& layout);
std::string aiffBytes(const AudioShape& shape, const TagValues& tags);
std::string flacBytes(const AudioShape& shape, const TagValues& tags);
std::string mp3Bytes(int mpegFrames, const TagValues& tags);
std::string m4aBytes(const TagValues& tags);
std::string midiBytes(const MidiLayout& layout);

} // namespace kivo::bench
