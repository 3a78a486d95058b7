#pragma once

// An SF2 file in memory: the INFO strings, the 16-bit sample pool and the nine
// preset-data tables, each including its terminal record, exactly as stored.

#include <cstdint>
#include <string>
#include <vector>

namespace kivo::tools {

struct SfPresetHeader {
    std::string name; // up to 20 bytes
    uint16_t preset = 0, bank = 0, bagIndex = 0;
    uint32_t library = 0, genre = 0, morphology = 0;
};
struct SfBag {
    uint16_t genIndex = 0, modIndex = 0;
};
struct SfModulator {
    uint16_t source = 0, destination = 0;
    int16_t amount = 0;
    uint16_t amountSource = 0, transform = 0;
};
struct SfGenerator {
    uint16_t oper = 0;
    uint16_t amount = 0; // signed, unsigned or a low/high range byte pair depending on oper
};
struct SfInstrument {
    std::string name;
    uint16_t bagIndex = 0;
};
struct SfSample {
    std::string name;
    uint32_t start = 0, end = 0, startLoop = 0, endLoop = 0, sampleRate = 0;
    uint8_t originalPitch = 60;
    int8_t pitchCorrection = 0;
    uint16_t sampleLink = 0, sampleType = 1;
};

namespace sfgen {
constexpr uint16_t kInitialFilterFc = 8;
constexpr uint16_t kReleaseVolEnv = 38;
constexpr uint16_t kInitialAttenuation = 48;
constexpr uint16_t kInstrument = 41;
constexpr uint16_t kSampleId = 53;
} // namespace sfgen

struct SoundFont {
    std::vector<std::pair<std::string, std::string>> info; // chunk id, text (ifil kept as raw bytes)
    std::vector<int16_t> samples;
    std::vector<SfPresetHeader> presets;
    std::vector<SfBag> presetBags;
    std::vector<SfModulator> presetMods;
    std::vector<SfGenerator> presetGens;
    std::vector<SfInstrument> instruments;
    std::vector<SfBag> instrumentBags;
    std::vector<SfModulator> instrumentMods;
    std::vector<SfGenerator> instrumentGens;
    std::vector<SfSample> sampleHeaders;
};

// Empty on success, else why the bytes are not a usable SF2.
std::string readSoundFont(const std::string& bytes, SoundFont& out);
std::string writeSoundFont(const SoundFont& font);

// A standalone font holding one preset of `source` and only the instruments and
// samples it uses, renumbered to `newProgram` in bank 0.
struct PresetChange {
    std::string name;
    uint16_t newProgram = 0;
    std::vector<SfGenerator> extraGenerators; // added to every zone of the preset
};
std::string extractPreset(
    const SoundFont& source, uint16_t bank, uint16_t program, const PresetChange& change, SoundFont& out);

} // namespace kivo::tools
