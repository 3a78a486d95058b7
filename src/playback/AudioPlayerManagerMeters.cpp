// The level meter side of the preview player: 30 ticks a second while something plays and
// until the shown levels have fallen back to zero.

#include "AudioEngine.h"

#include "AudioFilePlayer.h"
#include "AudioPlayerManager.h"
#include "RepeatingTimer.h"
#include "platform/MainThread.h"

namespace kivo::playback {

void AudioPlayerManager::startMeterTimer()
{
    KIVO_MAIN_THREAD();
    if (m_meterTimer)
        return;
    QPointer<AudioPlayerManager> self(this);
    m_meterTimer = std::make_unique<RepeatingTimer>(m_clock, kMeterInterval, [self] {
        if (self)
            self->meterTick();
    });
}

void AudioPlayerManager::meterTick()
{
    drainTap();
    const auto [l, r] = currentLevels();
    const float left = releasedLevel(m_outputLevels.left(), l);
    const float right = releasedLevel(m_outputLevels.right(), r);
    m_outputLevels.setLeft(left);
    m_outputLevels.setRight(right);
    if (isPlaying())
        return;
    if (left <= 0 && right <= 0)
        m_meterTimer.reset();
}

std::pair<float, float> AudioPlayerManager::currentLevels()
{
    KIVO_MAIN_THREAD();
    if (m_audioPlayer && m_audioPlayer->isPlaying()) {
        m_audioPlayer->updateMeters();
        const float volumeDB = gainDecibels(gain());
        const float left = audioMeterLevel(m_audioPlayer->averagePower(0), volumeDB);
        if (m_audioPlayer->numberOfChannels() < 2)
            return { left, left };
        return { left, audioMeterLevel(m_audioPlayer->averagePower(1), volumeDB) };
    }
    if (m_midiPlayer && m_midiPlayer->isPlaying()) {
        if (!m_midiMeterQueue.empty()) {
            m_midiMeterDB = m_midiMeterQueue.front();
            m_midiMeterQueue.pop_front();
        }
        return { midiMeterLevel(m_midiMeterDB.first), midiMeterLevel(m_midiMeterDB.second) };
    }
    return { 0.0f, 0.0f };
}

void AudioPlayerManager::enqueueMIDIMeterBatch(const MeterBatch& batch)
{
    KIVO_MAIN_THREAD();
    enqueueMeterBatch(m_midiMeterQueue, batch);
}

void AudioPlayerManager::drainTap()
{
    // The tap sees the whole mixer; only a MIDI preview reads it, an audio preview has its own
    // channel meters.
    MeterBatch batch;
    while (m_engine.tap().takeBatch(batch))
        if (m_midiPlayer)
            enqueueMIDIMeterBatch(batch);
}

} // namespace kivo::playback
