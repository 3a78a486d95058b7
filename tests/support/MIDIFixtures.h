#pragma once

// MIDI files built by our own writer that both the tests and the fuzz seed corpus start from.

#include "music/MIDIFileWriter.h"

#include <cstdint>
#include <vector>

namespace kivo::test {

// Tempo changes in several tracks, the earliest neither in the first track nor first in its own:
// the tempo a file starts with is the earliest across all tracks, the first track winning ties.
inline std::vector<std::uint8_t> temposAcrossTracksMIDI()
{
    music::MIDIFileWriter writer(1, 96);
    writer.addTrackName(writer.addTrack(), "Empty");
    const int late = writer.addTrack();
    writer.addTempoBPM(late, 400, 90);
    writer.addTempoBPM(late, 500, 91);
    const int early = writer.addTrack();
    writer.addNote(early, 0, 96, 60, 100);
    writer.addTempoBPM(early, 200, 133);
    const int tie = writer.addTrack();
    writer.addTempoBPM(tie, 200, 77);
    writer.addNote(tie, 300, 96, 64, 100);
    return writer.bytes();
}

} // namespace kivo::test
