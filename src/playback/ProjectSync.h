#pragma once

// The producer's project tempo and key, and how far a previewed sample moves to meet them. Pure.

#include "TimeStretcher.h"
#include "music/MusicalKey.h"

#include <optional>

namespace kivo::playback {

struct ProjectSync {
    static constexpr double kMinTempo = 20.0;
    static constexpr double kMaxTempo = 999.0;

    std::optional<double> tempo; // BPM, within kMinTempo..kMaxTempo
    std::optional<music::MusicalKey> key;
    bool syncTempo = false; // "Sync"
    bool syncKey = false; // "Key"

    bool operator==(const ProjectSync&) const = default;
};

// What is known of a sample's music: its effective tempo and key (the user's, the file's own, the
// folder's or the heard ones) and whether the analyser heard a loop or a one-shot in it.
struct SampleMusic {
    std::optional<double> tempo;
    std::optional<music::MusicalKey> key;
    std::optional<bool> isLoop; // none until the file is heard
};

// A loop, as heard; before the file is heard, one that lasts at least a bar at its tempo (a hit named
// for the tempo of its pack is shorter).
bool playsAsLoop(const SampleMusic& sample, double duration);

// Played speed over the file's own: a loop meets the project tempo in the nearest of half, the same
// or double time, so a 170 BPM loop in an 85 BPM project keeps its speed. 1 when either is unknown.
double tempoRate(double sampleTempo, double projectTempo);
// Semitones (-6 to 5) from `sample` to the project key, or to its relative when the modes differ.
int keyShift(const music::MusicalKey& sample, const music::MusicalKey& project);

// The stretch a sample `duration` seconds long plays with under the project settings: tempo for a
// loop with a known tempo when Sync is on, key for a sample with a known key when Key is on.
StretchAmount stretchFor(const ProjectSync& project, const SampleMusic& sample, double duration);

} // namespace kivo::playback
