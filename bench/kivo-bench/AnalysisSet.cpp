#include "AnalysisSet.h"

#include "music/DiatonicTriads.h"
#include "playback/AudioEngine.h"
#include "playback/WavWriter.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <random>

namespace kivo::bench {

namespace {

constexpr int kRate = 44100;
const char* const kSounds[] = { "Piano.sf2", "Felt Piano.sf2", "Rhodes.sf2", "Synth Pad.sf2" };

struct Note {
    double start = 0; // seconds
    double end = 0;
    int key = 60;
    int velocity = 100;
};

// Renders notes on one of the sampler's sounds, exactly `seconds` long.
std::vector<float> renderNotes(
    playback::AudioEngine& engine, const std::string& soundFont, std::vector<Note> notes, double seconds)
{
    engine.sampler().loadPreset(soundFont, 0, 121, 0);
    struct Event {
        int64_t frame;
        bool on;
        int key;
        int velocity;
    };
    std::vector<Event> events;
    for (const Note& n : notes) {
        events.push_back({ int64_t(std::llround(n.start * kRate)), true, n.key, n.velocity });
        events.push_back({ int64_t(std::llround(n.end * kRate)), false, n.key, 0 });
    }
    std::stable_sort(events.begin(), events.end(), [](const Event& a, const Event& b) {
        return a.frame != b.frame ? a.frame < b.frame : !a.on && b.on;
    });
    const int64_t total = int64_t(std::llround(seconds * kRate));
    std::vector<float> out;
    out.reserve(std::size_t(total) * 2);
    int64_t frame = 0;
    std::size_t next = 0;
    while (frame < total) {
        while (next < events.size() && events[next].frame <= frame) {
            const Event& e = events[next++];
            if (e.on)
                engine.sampler().startNote(e.key, e.velocity, 0);
            else
                engine.sampler().stopNote(e.key, 0);
        }
        int64_t until = next < events.size() ? std::min(events[next].frame, total) : total;
        until = std::min(until, frame + 4096);
        const std::vector<float> block = engine.render(int(until - frame));
        out.insert(out.end(), block.begin(), block.end());
        frame = until;
    }
    // Silence whatever still rings before the next render.
    for (int key = 0; key < 128; ++key)
        engine.sampler().stopNote(key, 0);
    engine.render(kRate);
    return out;
}

// Synthesised drum hits added into a stereo buffer at `time`.
enum class Drum { kick, snare, hat };
void addDrum(std::vector<float>& stereo, double time, Drum drum, float gain, std::mt19937& random)
{
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    const std::size_t start = std::size_t(std::llround(time * kRate)) * 2;
    const double length = drum == Drum::kick ? 0.35 : drum == Drum::snare ? 0.2 : 0.06;
    double phase = 0;
    float previous = 0;
    for (int i = 0; i < int(length * kRate); ++i) {
        const std::size_t at = start + 2 * std::size_t(i);
        if (at + 1 >= stereo.size())
            break;
        const double t = double(i) / kRate;
        float v = 0;
        if (drum == Drum::kick) {
            phase += 2 * M_PI * (50 + 90 * std::exp(-t * 30)) / kRate;
            v = float(std::sin(phase) * std::exp(-t * 9));
        } else if (drum == Drum::snare) {
            phase += 2 * M_PI * 190 / kRate;
            v = float((0.5 * std::sin(phase) + 0.6 * noise(random)) * std::exp(-t * 22));
        } else {
            const float n = noise(random);
            v = float((n - previous) * 0.5 * std::exp(-t * 70)); // a first difference: bright
            previous = n;
        }
        stereo[at] += gain * v;
        stereo[at + 1] += gain * v;
    }
}

struct Style {
    const char* folder; // a pack of one style, as libraries are bought and kept
    double minBpm, maxBpm;
    const char* kick; // 16 steps a bar, 'x' where the hit sounds
    const char* snare;
    const char* hats;
};
const Style kStyles[] = {
    { "House", 118, 130, "x...x...x...x...", "....x.......x...", "..x...x...x...x." }, // four on the floor
    { "Hip-hop", 80, 98, "x......x..x.....", "....x.......x...", "x.x.x.x.x.x.x.x." }, // hip-hop
    { "Pop and rock", 98, 125, "x.......x.x.....", "....x.......x...", "x.x.x.x.x.x.x.x." }, // pop and rock
    { "Drum and bass", 165, 178, "x.........x.....", "....x.......x...",
        "x.x.x.x.x.x.x.x." }, // drum and bass
    { "Downtempo", 66, 80, "x.....x...x.....", "....x.......x...", "xxxxxxxxxxxxxxxx" }, // downtempo
};

const int kMajorProgressions[][4] = { { 1, 5, 6, 4 }, { 1, 4, 5, 1 }, { 1, 6, 4, 5 }, { 1, 4, 1, 5 } };
const int kMinorProgressions[][4] = { { 1, 6, 3, 7 }, { 1, 4, 5, 1 }, { 1, 7, 6, 7 }, { 1, 4, 1, 6 } };

void addNoise(std::vector<float>& stereo, float level, std::mt19937& random)
{
    std::normal_distribution<float> noise(0.0f, level);
    for (float& s : stereo)
        s += noise(random);
}

// A short ramp at each end, as a loop is cut so that it does not click.
void fadeEdges(std::vector<float>& stereo, double in, double out)
{
    const std::size_t frames = stereo.size() / 2;
    const std::size_t inFrames = std::size_t(in * kRate), outFrames = std::size_t(out * kRate);
    for (std::size_t i = 0; i < frames; ++i) {
        float g = 1;
        if (i < inFrames)
            g = float(i) / float(inFrames);
        if (frames - i <= outFrames)
            g = std::min(g, float(frames - i) / float(outFrames));
        stereo[2 * i] *= g;
        stereo[2 * i + 1] *= g;
    }
}

bool write(const std::string& path, const std::vector<float>& stereo, std::string& error)
{
    playback::WavWriter wav;
    error = wav.open(path, 2, kRate);
    if (error.empty())
        error = wav.append(stereo.data(), int64_t(stereo.size() / 2));
    if (error.empty())
        error = wav.finish();
    return error.empty();
}

} // namespace

std::vector<LabelledSample> makeAnalysisSet(
    const std::string& folder, const std::string& soundFonts, unsigned seed, std::string& error)
{
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    for (const Style& style : kStyles)
        std::filesystem::create_directories(folder + "/" + style.folder, ec);
    std::filesystem::create_directories(folder + "/One-shots", ec);
    if (ec) {
        error = "cannot make " + folder + ": " + ec.message();
        return {};
    }
    std::mt19937 random(seed);
    auto uniform = [&](double a, double b) { return std::uniform_real_distribution<double>(a, b)(random); };
    auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); };

    playback::AudioEngine engine;
    engine.useOfflineRendering(kRate);
    engine.start();

    std::vector<LabelledSample> set;
    auto save = [&](LabelledSample sample, std::vector<float>& stereo) {
        // Headroom as a producer would leave it, whatever the mix added up to.
        float peak = 0;
        for (float s : stereo)
            peak = std::max(peak, std::fabs(s));
        const float target = float(std::pow(10.0, uniform(-9, -1) / 20));
        if (peak > 0)
            for (float& s : stereo)
                s *= target / peak;
        if (!write(sample.path, stereo, error))
            return false;
        set.push_back(std::move(sample));
        return true;
    };

    // Loops: drums alone, chords alone, or both; 1, 2 or 4 bars.
    for (int i = 0; i < 48; ++i) {
        const Style& style = kStyles[i % std::size(kStyles)];
        const double bpm = std::round(uniform(style.minBpm, style.maxBpm) * 2) / 2;
        const int bars = bpm < 90 ? 1 << pick(2) : 1 << pick(3);
        const double beat = 60.0 / bpm;
        const double seconds = bars * 4 * beat;
        const double swing = pick(3) == 0 ? uniform(0.1, 0.3) : 0.0; // of a sixteenth, on the off steps
        const int kind = i % 3; // 0 drums, 1 chords, 2 both
        const int tonic = pick(12);
        const bool minor = pick(2) == 1;

        std::vector<float> stereo(std::size_t(std::llround(seconds * kRate)) * 2, 0.0f);
        if (kind != 0) {
            const auto triads = music::diatonicTriads(tonic, minor);
            const int* progression = minor ? kMinorProgressions[pick(4)] : kMajorProgressions[pick(4)];
            const int chordsPerBar = bars == 1 ? 4 : bars == 2 ? 2 : 1;
            const bool stabs = pick(2) == 0; // chords struck on eighths, or held
            std::vector<Note> notes;
            for (int c = 0; c < bars * chordsPerBar; ++c) {
                const auto& triad = triads[std::size_t(progression[c % 4] - 1)];
                const double span = seconds / (bars * chordsPerBar);
                const double from = c * span;
                auto strike = [&](double at, double length) {
                    for (int key : triad.notes)
                        notes.push_back({ at, at + length, key, 90 });
                    notes.push_back({ at, at + length, triad.notes[0] - 24, 100 });
                };
                if (stabs)
                    for (double at = from; at < from + span - 1e-6; at += beat / 2)
                        strike(at, beat * 0.3);
                else
                    strike(from, span * 0.95);
            }
            const std::vector<float> chords
                = renderNotes(engine, soundFonts + "/" + kSounds[pick(4)], notes, seconds);
            for (std::size_t s = 0; s < stereo.size() && s < chords.size(); ++s)
                stereo[s] += chords[s] * (kind == 2 ? 0.6f : 1.0f);
        }
        if (kind != 1) {
            for (int bar = 0; bar < bars; ++bar)
                for (int step = 0; step < 16; ++step) {
                    double at = (bar * 16 + step) * beat / 4;
                    if (step % 2 == 1)
                        at += swing * beat / 4;
                    if (style.kick[step] == 'x')
                        addDrum(stereo, at, Drum::kick, 0.9f, random);
                    if (style.snare[step] == 'x')
                        addDrum(stereo, at, Drum::snare, 0.6f, random);
                    if (style.hats[step] == 'x')
                        addDrum(stereo, at, Drum::hat, step % 4 == 0 ? 0.25f : 0.15f, random);
                }
        }
        addNoise(stereo, float(uniform(0.001, 0.01)), random);
        fadeEdges(stereo, 0.003, 0.005);
        LabelledSample sample;
        sample.path = folder + "/" + style.folder + "/loop" + std::to_string(i) + ".wav";
        sample.isLoop = true;
        sample.bpm = bpm;
        if (kind != 0) {
            sample.pitchClass = tonic;
            sample.isMinor = minor;
        }
        if (!save(sample, stereo))
            return {};
    }

    // One-shots: the tonic triad of a key struck once and left to ring, and single drum hits.
    for (int i = 0; i < 32; ++i) {
        const bool tonal = i % 4 != 3;
        const double seconds = uniform(0.5, 3.0);
        std::vector<float> stereo(std::size_t(std::llround(seconds * kRate)) * 2, 0.0f);
        LabelledSample sample;
        sample.path = folder + "/One-shots/shot" + std::to_string(i) + ".wav";
        if (tonal) {
            const int tonic = pick(12);
            const bool minor = pick(2) == 1;
            const auto triad = music::diatonicTriads(tonic, minor)[0];
            std::vector<Note> notes;
            const int octave = 12 * (pick(3) - 1);
            for (int key : triad.notes)
                notes.push_back({ 0, seconds * 0.5, key + octave, 100 });
            notes.push_back({ 0, seconds * 0.5, triad.notes[0] + octave - 12, 100 });
            stereo = renderNotes(engine, soundFonts + "/" + kSounds[pick(4)], notes, seconds);
            sample.pitchClass = tonic;
            sample.isMinor = minor;
        } else {
            addDrum(stereo, 0.0, Drum(pick(3)), 0.9f, random);
        }
        addNoise(stereo, float(uniform(0.0002, 0.003)), random);
        fadeEdges(stereo, 0.001, std::min(seconds * 0.4, uniform(0.05, 0.5)));
        if (!save(sample, stereo))
            return {};
    }
    return set;
}

} // namespace kivo::bench
