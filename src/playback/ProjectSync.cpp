#include "ProjectSync.h"

#include <cmath>

namespace kivo::playback {

double tempoRate(double sampleTempo, double projectTempo)
{
    if (!(sampleTempo > 0) || !(projectTempo > 0) || !std::isfinite(sampleTempo)
        || !std::isfinite(projectTempo))
        return 1.0;
    double rate = projectTempo / sampleTempo;
    // Folded into [1/sqrt 2, sqrt 2): the least stretch that keeps the beat.
    while (rate >= M_SQRT2)
        rate /= 2;
    while (rate < M_SQRT1_2)
        rate *= 2;
    return rate;
}

int keyShift(const music::MusicalKey& sample, const music::MusicalKey& project)
{
    // The project's key in the sample's mode: itself, or its relative (A minor for C major).
    int target = project.pitchClass;
    if (sample.isMinor != project.isMinor)
        target += sample.isMinor ? 9 : 3;
    int shift = ((target - sample.pitchClass) % 12 + 12) % 12;
    if (shift >= 6)
        shift -= 12; // a tritone goes down
    return shift;
}

bool playsAsLoop(const SampleMusic& sample, double duration)
{
    if (sample.isLoop)
        return *sample.isLoop;
    if (!sample.tempo || !(*sample.tempo > 0))
        return false;
    // A little short of the bar still counts: a loop may be cut a few milliseconds early.
    return duration >= 0.95 * 4 * 60 / *sample.tempo;
}

StretchAmount stretchFor(const ProjectSync& project, const SampleMusic& sample, double duration)
{
    StretchAmount amount;
    if (project.syncTempo && project.tempo && sample.tempo && playsAsLoop(sample, duration))
        amount.timeRatio = 1.0 / tempoRate(*sample.tempo, *project.tempo);
    if (project.syncKey && project.key && sample.key)
        amount.pitchScale = std::pow(2.0, keyShift(*sample.key, *project.key) / 12.0);
    return amount;
}

} // namespace kivo::playback
