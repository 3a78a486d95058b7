#pragma once

// The sampler's own tone for when no soundfont could be loaded: a small polyphonic
// additive voice (fundamental plus a soft octave) with a piano-like envelope.
// Render-thread only; fixed voice storage.

#include <array>

namespace kivo::playback {

class BuiltInTone {
public:
    explicit BuiltInTone(double sampleRate = 48000) { setSampleRate(sampleRate); }
    void setSampleRate(double rate) { m_rate = rate; }
    void setTuningCents(double cents);

    void noteOn(int key, int velocity, int channel);
    void noteOff(int key, int channel);
    void allNotesOff();
    // Adds into interleaved stereo.
    void render(float* stereo, int frames);
    int activeVoices() const;

private:
    struct Voice {
        bool active = false;
        bool releasing = false;
        int key = 0;
        int channel = 0;
        double phase = 0;
        double amplitude = 0;
        double envelope = 0;
        int age = 0;
    };
    double frequency(int key) const;

    std::array<Voice, 64> m_voices {};
    double m_rate = 48000;
    double m_tuning = 1.0;
};

} // namespace kivo::playback
