// The preview player's glue to the settings: the knob's gain on both players, the debounced
// volume write, focus changes, and the MIDI settings copied into a MIDI player.

#include "AudioFilePlayer.h"

#include "AudioPlayerManager.h"
#include "platform/MainThread.h"

#include <algorithm>

namespace kivo::playback {

namespace {

float tuningCents(int octaves)
{
    return float(std::clamp(octaves, -2, 2) * 1200);
}

} // namespace

void AudioPlayerManager::applyGain()
{
    const float g = gain();
    if (m_audioPlayer)
        m_audioPlayer->setVolume(g);
    if (m_midiPlayer && m_midiEngine)
        m_midiEngine->setOutputVolume(g);
}

void AudioPlayerManager::scheduleVolumeWrite()
{
    if (m_volumeWrite)
        m_volumeWrite->cancel();
    QPointer<AudioPlayerManager> self(this);
    m_volumeWrite = m_clock.after(kVolumeWriteDelay, [self] {
        if (!self)
            return;
        self->m_volumeWrite.reset();
        self->writeVolume();
    });
}

void AudioPlayerManager::writeVolume()
{
    if (m_storeVolume)
        m_storeVolume(m_volumeControl.position());
}

void AudioPlayerManager::applicationWillTerminate()
{
    KIVO_MAIN_THREAD();
    if (m_volumeWrite) {
        m_volumeWrite->cancel();
        m_volumeWrite.reset();
    }
    writeVolume();
}

void AudioPlayerManager::applicationActiveChanged(bool active)
{
    KIVO_MAIN_THREAD();
    if (!active && m_autoPauseWhenUnfocused)
        stop();
}

void AudioPlayerManager::setMidiCatchNotes(bool on)
{
    KIVO_MAIN_THREAD();
    m_midiCatchNotes = on;
    if (m_midiPlayer)
        m_midiPlayer->setCatchNotes(on);
}

void AudioPlayerManager::setMidiOctaveShift(int octaves)
{
    KIVO_MAIN_THREAD();
    m_midiOctaveShift = octaves;
    if (m_midiPlayer)
        applyOctaveShift();
}

void AudioPlayerManager::applyOctaveShift()
{
    m_midiPlayer->setOctaveShift(m_midiOctaveShift);
    if (m_midiEngine)
        m_midiEngine->setGlobalTuning(tuningCents(m_midiOctaveShift));
}

void AudioPlayerManager::setMidiInstrument(int index)
{
    KIVO_MAIN_THREAD();
    m_midiInstrument = index;
    if (m_midiPlayer && m_midiEngine)
        m_midiEngine->loadInstrument(index);
}

std::shared_ptr<MIDIPreviewPlayer> AudioPlayerManager::makeMIDIPlayer(
    const QUrl& url, const std::vector<uint8_t>& bytes)
{
    if (!m_midiEngine)
        return nullptr;
    auto player = m_midiEngine->makePlayer(bytes, url.fileName().toStdString(), m_midiInstrument);
    if (!player)
        return nullptr;
    m_midiEngine->setOutputVolume(gain());
    player->setCatchNotes(m_midiCatchNotes);
    player->setOctaveShift(m_midiOctaveShift);
    player->setRate(midiRate());
    m_midiEngine->setGlobalTuning(tuningCents(m_midiOctaveShift));
    return player;
}

} // namespace kivo::playback

namespace kivo::playback {

double AudioPlayerManager::midiRate() const
{
    // MIDI follows the project tempo by playing its events faster or slower; nothing is stretched.
    if (m_project.syncTempo && m_project.tempo && m_music.tempo)
        return tempoRate(*m_music.tempo, *m_project.tempo);
    return 1.0;
}

void AudioPlayerManager::setProjectSync(const ProjectSync& project)
{
    KIVO_MAIN_THREAD();
    if (project == m_project)
        return;
    m_project = project;
    if (m_audioPlayer)
        m_audioPlayer->setStretch(stretchFor(m_project, m_music, m_audioPlayer->duration()));
    if (m_midiPlayer)
        m_midiPlayer->setRate(midiRate());
    // The file opened ahead was primed for the old project.
    if (m_ahead) {
        const QUrl ahead = m_ahead->url;
        dropAhead();
        prepareAhead(ahead);
    }
}

} // namespace kivo::playback
