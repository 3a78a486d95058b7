#pragma once

// The four sounds MIDI previews can be played with, chosen by the setting midiInstrument.

#include <array>
#include <cstdint>
#include <string>

namespace kivo::playback {

struct MIDIInstrument {
    std::string name; // shown in the settings
    std::string fileName; // soundfont file in the resource folder's "SoundFonts"
    uint8_t program = 0; // preset number in that soundfont

    bool operator==(const MIDIInstrument&) const = default;

    static const std::array<MIDIInstrument, 4>& all()
    {
        static const std::array<MIDIInstrument, 4> sounds { {
            { "Piano", "Piano.sf2", 0 },
            { "Felt", "Felt Piano.sf2", 1 },
            { "Rhode", "Rhodes.sf2", 0 },
            { "Pad", "Synth Pad.sf2", 0 },
        } };
        return sounds;
    }

    // A stored index outside the table falls back to the piano.
    static const MIDIInstrument& forIndex(int index)
    {
        return index >= 0 && index < int(all().size()) ? all()[std::size_t(index)] : all()[0];
    }
};

} // namespace kivo::playback
