#include "Audition.h"

#include "AudioEngine.h"
#include "MIDISamplePlayer.h"
#include "platform/MainThread.h"
#include "platform/ResourceFolder.h"

#include <algorithm>
#include <cstdio>

namespace kivo::playback {

namespace {
constexpr int kMIDIChannels = 16;
constexpr int kAllNotesOff = 123;
} // namespace

Audition::Audition(AudioEngine& engine, platform::Clock& clock)
    : m_engine(engine)
    , m_clock(clock)
    , m_resourceFolder(platform::applicationResourceFolder)
{
}

Audition::~Audition()
{
    if (m_idleStop)
        m_idleStop->cancel();
}

SamplerNode& Audition::sampler()
{
    return m_engine.sampler();
}

double Audition::now() const
{
    return m_engine.now();
}

void Audition::log(const std::string& line) const
{
    if (m_log) {
        m_log(line);
        return;
    }
    std::fprintf(stdout, "%s\n", line.c_str());
    std::fflush(stdout);
}

void Audition::loadInstrument(MIDIInstrument sound)
{
    KIVO_MAIN_THREAD();
    if (m_loadedInstrument == sound && m_loadedRate == m_engine.sampleRate())
        return;
    std::optional<std::filesystem::path> resources = m_resourceFolder ? m_resourceFolder() : std::nullopt;
    if (!resources) {
        m_loadedInstrument.reset();
        log("MIDI: soundfont " + sound.fileName + " not found, using default sampler tone");
        return;
    }
    const std::filesystem::path file = *resources / "SoundFonts" / sound.fileName;
    ++m_presetLoads;
    std::optional<std::string> error
        = sampler().loadPreset(file.string(), sound.program, SamplerNode::kDefaultMelodicBankMSB, kBankLSB);
    if (error) {
        m_loadedInstrument.reset();
        log("MIDI: could not load soundfont " + sound.fileName + ", using default sampler tone: " + *error);
        return;
    }
    m_loadedInstrument = sound;
    m_loadedRate = m_engine.sampleRate();
}

std::optional<std::string> Audition::ensureRunning()
{
    KIVO_MAIN_THREAD();
    if (m_idleStop) {
        m_idleStop->cancel();
        m_idleStop.reset();
    }
    if (!m_engine.isRunning()) {
        if (std::optional<std::string> error = m_engine.start())
            return error;
        // A restarted engine gets a fresh synth for the sound it had.
        if (std::optional<MIDIInstrument> sound = m_loadedInstrument) {
            m_loadedInstrument.reset();
            loadInstrument(*sound);
        }
    } else if (m_loadedInstrument && m_loadedRate != m_engine.sampleRate()) {
        // The audio preview started the engine at its device's rate after the sound was
        // loaded: a synth made for another rate would play out of tune.
        loadInstrument(*m_loadedInstrument);
    }
    return std::nullopt;
}

void Audition::scheduleIdleStop()
{
    KIVO_MAIN_THREAD();
    if (m_idleStop) {
        m_idleStop->cancel();
        m_idleStop.reset();
    }
    if (m_keepWarm)
        return;
    m_idleStop = m_clock.after(kIdleStopDelay, [this] {
        m_idleStop.reset();
        if (m_owner && m_owner->isPlaying())
            return;
        // The engine is shared with the audio file preview, which must not be cut off.
        if (m_engine.hasFilePlayer())
            return;
        m_engine.stop();
    });
}

void Audition::setKeepWarm(bool on)
{
    KIVO_MAIN_THREAD();
    if (on == m_keepWarm)
        return;
    m_keepWarm = on;
    if (on)
        ensureRunning();
    else
        scheduleIdleStop();
}

void Audition::allNotesOff()
{
    KIVO_MAIN_THREAD();
    if (!m_engine.isRunning())
        return;
    for (int channel = 0; channel < kMIDIChannels; ++channel)
        sampler().sendController(kAllNotesOff, 0, channel);
}

void Audition::setOctaveShift(int shift)
{
    KIVO_MAIN_THREAD();
    sampler().setGlobalTuning(std::clamp(shift, -2, 2) * 1200.0);
}

} // namespace kivo::playback
