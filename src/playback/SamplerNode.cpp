#include "SamplerNode.h"

#include <fluidsynth.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <mutex>

namespace kivo::playback {

namespace {

constexpr int kChannels = 16;
constexpr int kMaxBlock = 4096;
constexpr int kFluidBlock = 64; // FluidSynth renders in blocks of this many frames

// FluidSynth reports load errors through its log; keep the last one for our message
// instead of letting it reach stderr.
thread_local std::string t_lastFluidError;
void captureFluidLog(int level, const char* message, void*)
{
    if (level <= FLUID_ERR && message)
        t_lastFluidError = message;
}
void installFluidLog()
{
    static std::once_flag once;
    std::call_once(once, [] {
        for (int level : { FLUID_PANIC, FLUID_ERR, FLUID_WARN, FLUID_INFO, FLUID_DBG })
            fluid_set_log_function(level, captureFluidLog, nullptr);
    });
}

} // namespace

struct SamplerNode::Voice {
    double rate = 0;
    fluid_settings_t* settings = nullptr;
    fluid_synth_t* synth = nullptr;
    ~Voice()
    {
        if (synth)
            delete_fluid_synth(synth);
        if (settings)
            delete_fluid_settings(settings);
    }
};

SamplerNode::SamplerNode()
    : m_retiredVoices(16)
    , m_retiredSchedules(64)
    , m_immediate(4096)
    , m_scratch(kMaxBlock * 2)
{
    installFluidLog();
}

SamplerNode::~SamplerNode()
{
    collectRetired();
    delete m_pendingVoice.exchange(nullptr);
    delete m_voice;
    delete m_pendingSchedule.exchange(nullptr);
    delete m_schedule;
}

void SamplerNode::setSampleRate(double rate)
{
    m_rate.store(rate, std::memory_order_relaxed);
}

void SamplerNode::collectRetired()
{
    Voice* v = nullptr;
    while (m_retiredVoices.pop(v))
        delete v;
    NoteSchedule* s = nullptr;
    while (m_retiredSchedules.pop(s))
        delete s;
}

void SamplerNode::publish(Voice* voice)
{
    collectRetired();
    // A generation never picked up by the render thread is simply replaced.
    delete m_pendingVoice.exchange(voice ? voice : new Voice);
}

SamplerNode::PreparedSound SamplerNode::prepare(const std::string& path, uint8_t program, uint8_t bankMSB,
    uint8_t bankLSB, double sampleRate, std::string& error)
{
    installFluidLog();
    PreparedSound none(nullptr, [](Voice* v) { delete v; });
    auto fail = [&](std::string why) {
        error = std::move(why);
        return std::move(none);
    };
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        return fail("file not found");

    PreparedSound voice(new Voice, [](Voice* v) { delete v; });
    voice->rate = sampleRate;
    voice->settings = new_fluid_settings();
    fluid_settings_setnum(voice->settings, "synth.sample-rate", sampleRate);
    fluid_settings_setint(voice->settings, "synth.threadsafe-api", 0); // only the render thread plays it
    fluid_settings_setint(voice->settings, "synth.cpu-cores", 1);
    fluid_settings_setnum(voice->settings, "synth.gain", 0.6);
    fluid_settings_setint(voice->settings, "synth.midi-channels", kChannels);
    voice->synth = new_fluid_synth(voice->settings);
    if (!voice->synth)
        return fail("the synthesizer could not be created");

    t_lastFluidError.clear();
    int sfont = fluid_synth_sfload(voice->synth, path.c_str(), 0);
    if (sfont == FLUID_FAILED)
        return fail(t_lastFluidError.empty() ? "not a readable soundfont" : t_lastFluidError);
    // Bank MSB 121 addresses the default melodic bank, which a soundfont numbers 0.
    int bank = bankMSB == kDefaultMelodicBankMSB ? 0 : bankMSB * 128 + bankLSB;
    for (int ch = 0; ch < kChannels; ++ch) {
        fluid_synth_set_channel_type(voice->synth, ch, CHANNEL_TYPE_MELODIC);
        if (fluid_synth_program_select(voice->synth, ch, sfont, bank, program) != FLUID_OK)
            return fail("no preset " + std::to_string(program) + " in bank " + std::to_string(bank));
    }
    return voice;
}

void SamplerNode::install(PreparedSound sound)
{
    if (!sound) {
        useBuiltInTone();
        return;
    }
    m_builtInSelected = false;
    publish(sound.release());
}

std::optional<std::string> SamplerNode::loadPreset(
    const std::string& path, uint8_t program, uint8_t bankMSB, uint8_t bankLSB)
{
    std::string error;
    PreparedSound sound = prepare(path, program, bankMSB, bankLSB, sampleRate(), error);
    if (!sound) {
        useBuiltInTone();
        return error;
    }
    install(std::move(sound));
    return std::nullopt;
}

void SamplerNode::useBuiltInTone()
{
    m_builtInSelected = true;
    publish(nullptr);
}

void SamplerNode::startNote(int key, int velocity, int channel)
{
    m_immediate.push({ 0, NoteEvent::NoteOn, uint8_t(key & 0x7F), uint8_t(std::clamp(velocity, 0, 127)),
        uint8_t(channel & 0x0F) });
}

void SamplerNode::stopNote(int key, int channel)
{
    m_immediate.push({ 0, NoteEvent::NoteOff, uint8_t(key & 0x7F), 0, uint8_t(channel & 0x0F) });
}

void SamplerNode::sendController(int controller, int value, int channel)
{
    m_immediate.push({ 0, NoteEvent::Controller, uint8_t(controller & 0x7F), uint8_t(value & 0x7F),
        uint8_t(channel & 0x0F) });
}

void SamplerNode::setSchedule(std::unique_ptr<NoteSchedule> schedule)
{
    collectRetired();
    m_liveOwner = schedule->owner;
    delete m_pendingSchedule.exchange(schedule.release());
}

void SamplerNode::clearSchedule(uint64_t owner)
{
    if (owner != 0 && owner == m_liveOwner)
        setSchedule(std::make_unique<NoteSchedule>());
}

void SamplerNode::adopt()
{
    if (Voice* v = m_pendingVoice.exchange(nullptr)) {
        if (m_voice && !m_retiredVoices.push(m_voice)) {
            Voice* none = nullptr; // retire queue full: try again next block
            m_pendingVoice.compare_exchange_strong(none, v);
        } else {
            if (!v->synth) { // the built-in tone generation carries no synth
                m_retiredVoices.push(v);
                v = nullptr;
            }
            m_voice = v;
            m_tone.allNotesOff();
            m_tuningDirty = true;
        }
    }
    if (NoteSchedule* s = m_pendingSchedule.exchange(nullptr)) {
        if (m_schedule && !m_retiredSchedules.push(m_schedule)) {
            NoteSchedule* none = nullptr;
            m_pendingSchedule.compare_exchange_strong(none, s);
        } else {
            m_schedule = s;
            m_scheduleIndex = 0;
        }
    }
    double cents = m_tuningCents.load(std::memory_order_relaxed);
    if (m_tuningDirty || cents != m_appliedTuning) {
        m_appliedTuning = cents;
        m_tuningDirty = false;
        m_tone.setTuningCents(cents);
        if (m_voice)
            for (int ch = 0; ch < kChannels; ++ch)
                fluid_synth_set_gen(m_voice->synth, ch, GEN_FINETUNE, float(cents));
    }
}

void SamplerNode::applyEvent(const NoteEvent& e)
{
    if (m_voice) {
        switch (e.kind) {
        case NoteEvent::NoteOn:
            fluid_synth_noteon(m_voice->synth, e.channel, e.key, e.value);
            break;
        case NoteEvent::NoteOff:
            fluid_synth_noteoff(m_voice->synth, e.channel, e.key);
            break;
        case NoteEvent::Controller:
            fluid_synth_cc(m_voice->synth, e.channel, e.key, e.value);
            break;
        }
        return;
    }
    switch (e.kind) {
    case NoteEvent::NoteOn:
        m_tone.noteOn(e.key, e.value, e.channel);
        break;
    case NoteEvent::NoteOff:
        m_tone.noteOff(e.key, e.channel);
        break;
    case NoteEvent::Controller:
        if (e.key == 123 || e.key == 120)
            m_tone.allNotesOff();
        break;
    }
}

// FluidSynth starts a note at its next internal block, so a timed event is applied at
// the block boundary nearest its frame: never more than half a block off.
int64_t SamplerNode::effectiveFrame(int64_t frame, int64_t startFrame) const
{
    if (!m_voice)
        return frame;
    int64_t synthFrame = m_blockSynthStart + (frame - startFrame);
    int64_t rounded = (synthFrame + kFluidBlock / 2) / kFluidBlock * kFluidBlock;
    return rounded - m_blockSynthStart + startFrame;
}

void SamplerNode::renderSegment(float* stereo, int frames)
{
    if (frames <= 0)
        return;
    if (m_voice) {
        // A synth made for another rate would sound off pitch: silent until the one for this rate
        // is installed.
        if (m_voice->rate != m_renderRate)
            return;
        fluid_synth_write_float(m_voice->synth, frames, m_scratch.data(), 0, 2, m_scratch.data(), 1, 2);
        for (int i = 0; i < frames * 2; ++i)
            stereo[i] += m_scratch[i];
    } else {
        m_tone.render(stereo, frames);
    }
}

void SamplerNode::render(float* stereo, int frames, int64_t startFrame, double sampleRate)
{
    m_tone.setSampleRate(sampleRate);
    m_renderRate = sampleRate;
    adopt();
    m_blockSynthStart = m_synthFrames;
    NoteEvent e;
    while (m_immediate.pop(e))
        applyEvent(e);
    int pos = 0;
    while (pos < frames) {
        int next = std::min(frames, pos + kMaxBlock);
        if (m_schedule && m_scheduleIndex < m_schedule->events.size()) {
            const NoteEvent& ev = m_schedule->events[m_scheduleIndex];
            int64_t at = effectiveFrame(ev.frame, startFrame) - startFrame;
            if (at <= pos) {
                applyEvent(ev);
                ++m_scheduleIndex;
                continue;
            }
            if (at < next)
                next = int(at);
        }
        renderSegment(stereo + pos * 2, next - pos);
        m_synthFrames += next - pos;
        pos = next;
    }
}

} // namespace kivo::playback
