#pragma once

// The piano-roll picture of a MIDI file in the preview strip: one rounded bar per note, higher
// pitches higher up, at least an octave of rows so a one-note riff does not fill the strip.

#include "music/MIDIFileParser.h"

#include <QRectF>

#include <vector>

namespace kivo::app {

struct NoteBar {
    QRectF rect;
    double radius = 0;
};

// The notes' bars inside `area`; none for a file without notes or length.
std::vector<NoteBar> midiRegionBars(const music::MIDIFileData& data, const QRectF& area);

// True for the extensions the MIDI preview plays ("mid", "midi", any case).
bool isMIDIPath(const QString& path);

} // namespace kivo::app
