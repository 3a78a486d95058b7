// Writes the sampler's soundfonts: each a standalone SF2 with one preset taken from
// the General MIDI soundfont of the system (FluidR3_GM), renumbered for our table.

#include "SoundFont.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

using namespace kivo::tools;

namespace {

struct Recipe {
    const char* fileName;
    const char* presetName;
    uint16_t sourceProgram; // in the General MIDI bank 0
    PresetChange change;
};

std::vector<Recipe> recipes()
{
    return {
        { "Piano.sf2", "Piano", 0, { "Piano", 0, {} } },
        // The same grand, felted: the filter closes by two and a half octaves, a little
        // quieter, with a longer release.
        { "Felt Piano.sf2", "Felt Piano", 0,
            { "Felt Piano", 1,
                { { sfgen::kInitialFilterFc, uint16_t(int16_t(-3000)) }, { sfgen::kInitialAttenuation, 30 },
                    { sfgen::kReleaseVolEnv, 600 } } } },
        { "Rhodes.sf2", "Rhodes", 4, { "Rhodes", 0, {} } },
        { "Synth Pad.sf2", "Synth Pad", 89, { "Synth Pad", 0, {} } },
    };
}

bool readFile(const std::string& path, std::string& bytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream s;
    s << in.rdbuf();
    bytes = s.str();
    return bool(in) || in.eof();
}

bool writeAtomically(const std::string& path, const std::string& bytes)
{
    std::string temp = path + ".part";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), std::streamsize(bytes.size()));
        if (!out.flush()) {
            std::filesystem::remove(temp);
            return false;
        }
    }
    std::error_code ec;
    std::filesystem::rename(temp, path, ec);
    return !ec;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::string(argv[1]) == "--list") {
        std::string bytes;
        SoundFont font;
        if (!readFile(argv[2], bytes) || !readSoundFont(bytes, font).empty()) {
            std::fprintf(stderr, "kivo-soundfonts: cannot read %s\n", argv[2]);
            return 1;
        }
        for (std::size_t i = 0; i + 1 < font.presets.size(); ++i)
            std::printf(
                "%3u %3u %s\n", font.presets[i].bank, font.presets[i].preset, font.presets[i].name.c_str());
        return 0;
    }
    if (argc != 3) {
        std::fprintf(stderr,
            "usage: kivo-soundfonts SOURCE.sf2 OUTPUT-FOLDER\n       kivo-soundfonts --list SOURCE.sf2\n");
        return 2;
    }
    std::string bytes;
    if (!readFile(argv[1], bytes)) {
        std::fprintf(stderr, "kivo-soundfonts: cannot read %s: %s\n", argv[1], std::strerror(errno));
        return 1;
    }
    SoundFont source;
    if (std::string err = readSoundFont(bytes, source); !err.empty()) {
        std::fprintf(stderr, "kivo-soundfonts: %s: %s\n", argv[1], err.c_str());
        return 1;
    }
    std::error_code ec;
    std::filesystem::create_directories(argv[2], ec);
    for (const Recipe& r : recipes()) {
        SoundFont out;
        if (std::string err = extractPreset(source, 0, r.sourceProgram, r.change, out); !err.empty()) {
            std::fprintf(stderr, "kivo-soundfonts: %s: %s\n", r.fileName, err.c_str());
            return 1;
        }
        std::string path = (std::filesystem::path(argv[2]) / r.fileName).string();
        if (!writeAtomically(path, writeSoundFont(out))) {
            std::fprintf(stderr, "kivo-soundfonts: cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
