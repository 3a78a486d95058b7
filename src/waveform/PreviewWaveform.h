#pragma once

// The look of the waveform in the preview strip, shared by the window and the command line so
// both draw the same image: mirrored lines around the middle, filling the height, on a
// transparent background. The window tints the lines (played part and the rest) as it paints.

#include "waveform/WaveformConfiguration.h"

namespace kivo::waveform {

inline Waveform::Configuration previewWaveformConfiguration(QSizeF size, double scale)
{
    Waveform::Configuration c;
    c.size = size;
    c.scale = scale > 0 ? scale : 1;
    c.backgroundColor = Qt::transparent;
    c.style = Waveform::Filled { QColor(0x8a, 0x8a, 0x8a) };
    c.verticalScalingFactor = 0.5; // the half-extent of a full-scale line is half the height
    c.shouldAntialias = true;
    return c;
}

inline Waveform::Position previewWaveformPosition()
{
    return Waveform::Position::middle();
}

} // namespace kivo::waveform
