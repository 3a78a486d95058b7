#include "Audition.h"

#include "AudioEngine.h"
#include "MIDISamplePlayer.h"
#include "SamplerNode.h"
#include "platform/MainThread.h"
#include "platform/ResourceFolder.h"
#include "platform/TaskRunner.h"

#include <algorithm>
#include <cstdio>

namespace kivo::playback {

namespace {
constexpr int kMIDIChannels = 16;
constexpr int kAllNotesOff = 123;
} // namespace

// A soundfont read into a synth, or why it could not be.
struct Audition::Loaded {
    SamplerNode::PreparedSound sound { nullptr, [](SamplerNode::Voice*) {} };
    bool noFolder = false;
    std::string error;
};

namespace {

Audition::Loaded prepareSound(const Audition::ResourceFolder& folder, const MIDIInstrument& sound, int rate)
{
    Audition::Loaded out;
    std::optional<std::filesystem::path> resources = folder ? folder() : std::nullopt;
    if (!resources) {
        out.noFolder = true;
        return out;
    }
    const std::filesystem::path file = *resources / "SoundFonts" / sound.fileName;
    out.sound = SamplerNode::prepare(file.string(), sound.program, SamplerNode::kDefaultMelodicBankMSB,
        Audition::kBankLSB, rate, out.error);
    return out;
}

} // namespace

Audition::Audition(AudioEngine& engine, platform::Clock& clock, platform::TaskRunner* tasks)
    : m_engine(engine)
    , m_clock(clock)
    , m_tasks(tasks)
    , m_resourceFolder(platform::applicationResourceFolder)
{
}

Audition::~Audition()
{
    if (m_loading)
        m_loading->cancel();
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
    const int rate = m_engine.sampleRate();
    if (m_loadingSound && m_loadingSound->first == sound && m_loadingSound->second == rate)
        return;
    // A newer request replaces one still loading, even when it asks for the sound in place.
    if (m_loading) {
        m_loading->cancel();
        m_loading.reset();
        m_loadingSound.reset();
    }
    if (m_loadedInstrument == sound && m_loadedRate == rate)
        return;
    if (!m_tasks) {
        installLoaded(sound, rate, prepareSound(m_resourceFolder, sound, rate));
        return;
    }
    m_loadingSound = std::make_pair(sound, rate);
    m_loading = m_tasks->run(
        nullptr,
        [folder = m_resourceFolder, sound, rate] {
            return std::make_shared<Loaded>(prepareSound(folder, sound, rate));
        },
        [this, sound, rate](std::shared_ptr<Loaded> loaded) {
            m_loading.reset();
            m_loadingSound.reset();
            installLoaded(sound, rate, std::move(*loaded));
        });
}

void Audition::installLoaded(const MIDIInstrument& sound, int rate, Loaded loaded)
{
    if (loaded.noFolder) {
        m_loadedInstrument.reset();
        log("MIDI: soundfont " + sound.fileName + " not found, using default sampler tone");
        return;
    }
    ++m_presetLoads;
    if (!loaded.sound) {
        sampler().useBuiltInTone();
        m_loadedInstrument.reset();
        log("MIDI: could not load soundfont " + sound.fileName
            + ", using default sampler tone: " + loaded.error);
        return;
    }
    // The render thread switches at its next block; what sounded keeps sounding until then.
    sampler().install(std::move(loaded.sound));
    m_loadedInstrument = sound;
    m_loadedRate = rate;
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

void Audition::engineRateChanged()
{
    KIVO_MAIN_THREAD();
    if (m_loadedInstrument && m_loadedRate != m_engine.sampleRate())
        loadInstrument(*m_loadedInstrument);
    else if (m_loadingSound && m_loadingSound->second != m_engine.sampleRate())
        loadInstrument(m_loadingSound->first);
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
        // The engine is shared with the audio file preview, which must not be cut off; a loaded
        // file that does not play lets it sleep (it starts again with the file).
        if (m_engine.isFilePlaying())
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
