#include "PreviewLevels.h"

#include <algorithm>
#include <cmath>

namespace kivo::playback {

namespace {
constexpr std::size_t kMaxQueuedPairs = 3;
// Below this the meter shows nothing, so the release ends on an exact zero rather than on
// float dust left by repeated subtraction.
constexpr float kMeterFloor = 1e-4f;

float squareCurve(float x)
{
    x = std::clamp(x, 0.0f, 1.0f);
    return x * x;
}
} // namespace

float volumeGain(float position)
{
    const double p = std::max(double(position), 0.0);
    return float(std::pow(10.0, -30.0 * (1.0 - std::pow(p, 0.32)) / 20.0));
}

float gainDecibels(float gain)
{
    return gain > 0 ? float(20.0 * std::log10(double(gain))) : kSilenceDB;
}

float audioMeterLevel(float averagePowerDB, float volumeDB)
{
    return squareCurve((volumeDB + averagePowerDB + 5.0f + 60.0f) / 60.0f);
}

float midiMeterLevel(float decibels)
{
    return squareCurve((decibels + 10.0f + 60.0f) / 60.0f);
}

float releasedLevel(float shown, float measured)
{
    float level = std::max(measured, shown - 0.1f);
    return level < kMeterFloor ? 0.0f : level;
}

void enqueueMeterBatch(std::deque<MeterPair>& queue, const MeterBatch& batch)
{
    const int count = std::clamp(batch.count, 0, MeterBatch::kMaxPairs);
    for (int i = 0; i < count; ++i)
        queue.emplace_back(batch.left[std::size_t(i)], batch.right[std::size_t(i)]);
    if (queue.size() <= kMaxQueuedPairs)
        return;
    float loudestLeft = kSilenceDB, loudestRight = kSilenceDB;
    while (queue.size() > kMaxQueuedPairs) {
        loudestLeft = std::max(loudestLeft, queue.front().first);
        loudestRight = std::max(loudestRight, queue.front().second);
        queue.pop_front();
    }
    queue.front().first = std::max(queue.front().first, loudestLeft);
    queue.front().second = std::max(queue.front().second, loudestRight);
}

} // namespace kivo::playback
