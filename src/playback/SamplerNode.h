#pragma once

// The engine's sampler: FluidSynth rendered inside our own callback, or the built-in
// tone when no soundfont is loaded. The main thread never touches a live synth: it
// builds a new one (soundfont, preset) and hands it over; notes, controllers and
// timed schedules reach the render thread through lock-free queues and atomics.

#include "BuiltInTone.h"
#include "SpscQueue.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kivo::playback {

struct NoteEvent {
    enum Kind : uint8_t { NoteOn, NoteOff, Controller };
    int64_t frame = 0; // engine frame at which it applies; earlier frames apply at once
    Kind kind = NoteOn;
    uint8_t key = 0; // controller number for Controller
    uint8_t value = 0; // velocity or controller value
    uint8_t channel = 0;
};

// A player's timed notes, sorted by frame; replaced as a whole, never edited in place.
struct NoteSchedule {
    uint64_t owner = 0;
    std::vector<NoteEvent> events;
};

class SamplerNode {
public:
    static constexpr uint8_t kDefaultMelodicBankMSB = 121;

    struct Voice; // one synth generation: settings, synth, soundfont id
    using PreparedSound = std::unique_ptr<Voice, void (*)(Voice*)>;

    SamplerNode();
    ~SamplerNode();

    // Any thread: builds a synth at `sampleRate` with the preset (bank MSB 121 is the
    // soundfont's default melodic bank 0) from the file. Loading a soundfont reads the disk
    // for tens of milliseconds, so the window does it in the background. Null with `error`.
    static PreparedSound prepare(const std::string& soundFontPath, uint8_t program, uint8_t bankMSB,
        uint8_t bankLSB, double sampleRate, std::string& error);
    // Main thread: the render thread switches to the prepared synth at its next block; what
    // sounded before keeps sounding until then.
    void install(PreparedSound sound);
    // Main thread: prepare() and install() in one; on failure the error text is returned and
    // the sampler switches to the built-in tone.
    std::optional<std::string> loadPreset(
        const std::string& soundFontPath, uint8_t program, uint8_t bankMSB, uint8_t bankLSB);
    double sampleRate() const { return m_rate.load(std::memory_order_relaxed); }
    void useBuiltInTone();
    bool usesBuiltInTone() const { return m_builtInSelected; }

    void startNote(int key, int velocity, int channel);
    void stopNote(int key, int channel);
    void sendController(int controller, int value, int channel);
    void setGlobalTuning(double cents) { m_tuningCents.store(cents, std::memory_order_relaxed); }
    double globalTuning() const { return m_tuningCents.load(std::memory_order_relaxed); }

    // Replaces the timed notes; an owner of 0 never matches in clearSchedule.
    void setSchedule(std::unique_ptr<NoteSchedule> schedule);
    void clearSchedule(uint64_t owner);

    // Any thread, while nothing renders.
    void setSampleRate(double rate);
    // Render thread.
    void render(float* stereo, int frames, int64_t startFrame, double sampleRate);

private:
    void publish(Voice* voice);
    void collectRetired();
    void applyEvent(const NoteEvent& e);
    void renderSegment(float* stereo, int frames);
    void adopt();
    int64_t effectiveFrame(int64_t frame, int64_t startFrame) const;

    std::atomic<double> m_rate { 48000 }; // set by whichever thread moves the engine to a rate
    double m_renderRate = 48000;
    std::atomic<Voice*> m_pendingVoice { nullptr };
    Voice* m_voice = nullptr; // render thread's current generation; null = built-in tone
    SpscQueue<Voice*> m_retiredVoices;
    bool m_builtInSelected = true;

    std::atomic<NoteSchedule*> m_pendingSchedule { nullptr };
    uint64_t m_liveOwner = 0; // main thread's record of whose schedule is live
    NoteSchedule* m_schedule = nullptr;
    std::size_t m_scheduleIndex = 0;
    SpscQueue<NoteSchedule*> m_retiredSchedules;

    SpscQueue<NoteEvent> m_immediate;
    std::atomic<double> m_tuningCents { 0 };
    double m_appliedTuning = 0;
    bool m_tuningDirty = true;
    int64_t m_synthFrames = 0;
    int64_t m_blockSynthStart = 0;
    BuiltInTone m_tone;
    std::vector<float> m_scratch;
};

} // namespace kivo::playback
