// Writes the chord bank's MIDI files: for each of the 24 major and natural minor keys, one short
// file per diatonic triad, named "<numeral> - <chord>.mid" in the key's folder
// (Major/Db/ii - Ebm.mid, Minor/C#m/ii° - D#dim.mid). The output is the same on every run.

#include "music/DiatonicTriads.h"
#include "music/MIDIFileWriter.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;
using namespace kivo::music;

namespace {

constexpr std::uint16_t kTicksPerQuarter = 480;
constexpr double kTempo = 120.0;
// A beat and a half: long enough to hear the chord, short enough to fire the next one.
constexpr std::int64_t kLength = kTicksPerQuarter * 3 / 2;
constexpr int kVelocity = 92;

std::vector<std::uint8_t> triadFile(const DiatonicTriad& triad)
{
    MIDIFileWriter writer(0, kTicksPerQuarter);
    const int track = writer.addTrack();
    writer.addTrackName(track, triad.name);
    writer.addTempoBPM(track, 0, kTempo);
    writer.addProgramChange(track, 0, 0);
    // The root a touch stronger than the upper voices, as a player's hand would.
    const int velocities[3] = { kVelocity + 6, kVelocity - 4, kVelocity };
    for (int i = 0; i < 3; ++i)
        writer.addNote(track, 0, kLength, triad.notes[std::size_t(i)], velocities[i]);
    return writer.bytes();
}

bool writeFile(const fs::path& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(out.flush());
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: kivo-chordtriads OUTPUT_FOLDER\n");
        return 2;
    }
    const fs::path target = argv[1];
    // Built beside the target and swapped in whole, so a failed run never leaves half a bank.
    const fs::path staging = target.string() + ".part";
    std::error_code ec;
    fs::remove_all(staging, ec);
    for (bool minor : { false, true }) {
        for (int pc = 0; pc < 12; ++pc) {
            const fs::path folder = staging / chordKeyFolder(pc, minor);
            fs::create_directories(folder, ec);
            if (ec) {
                std::fprintf(
                    stderr, "kivo-chordtriads: cannot create %s: %s\n", folder.c_str(), ec.message().c_str());
                return 1;
            }
            for (const DiatonicTriad& triad : diatonicTriads(pc, minor)) {
                const fs::path file = folder / (triad.numeral + " - " + triad.name + ".mid");
                if (!writeFile(file, triadFile(triad))) {
                    std::fprintf(stderr, "kivo-chordtriads: cannot write %s\n", file.c_str());
                    return 1;
                }
            }
        }
    }
    fs::remove_all(target, ec);
    fs::rename(staging, target, ec);
    if (ec) {
        std::fprintf(stderr, "kivo-chordtriads: cannot move the bank into %s: %s\n", target.c_str(),
            ec.message().c_str());
        return 1;
    }
    return 0;
}
