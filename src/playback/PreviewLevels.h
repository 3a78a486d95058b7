#pragma once

// The arithmetic of the preview's volume knob and level meter, kept free of timers and
// players so every threshold can be checked directly.

#include "MeterTap.h"

#include <deque>
#include <utility>

namespace kivo::playback {

// Knob position 0..1 to linear gain: 1 is 0 dB, 0.5 about -6 dB, 0 is -30 dB (never silence).
float volumeGain(float position);
// The gain in dB, -160 when it is not positive.
float gainDecibels(float gain);

// Meter level 0..1 of an audio player channel: -65 dB (after the volume) is empty, -5 dB full,
// on a square curve.
float audioMeterLevel(float averagePowerDB, float volumeDB);
// Meter level 0..1 of the tapped MIDI output, which is already after the volume: -70 to -10 dB.
float midiMeterLevel(float decibels);
// Peak hold with a linear release of 0.1 per meter tick.
float releasedLevel(float shown, float measured);

using MeterPair = std::pair<float, float>; // left dB, right dB

// Appends one tap batch; at most 3 pairs stay queued, the oldest kept one raised to the loudest
// of the ones dropped, so a late meter never misses a peak.
void enqueueMeterBatch(std::deque<MeterPair>& queue, const MeterBatch& batch);

} // namespace kivo::playback
