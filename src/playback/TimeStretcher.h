#pragma once

// Real-time time-stretch and pitch-shift of interleaved stereo with Rubber Band. One instance is
// driven by one thread at a time (the decode worker, or the thread that opens a player); it never
// runs on the render thread. Stretchers are costly to build, so the engine keeps spare ones in a
// pool that players take from and give back to.

#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace RubberBand {
class RubberBandStretcher;
}

namespace kivo::playback {

// How much a file is stretched: `timeRatio` is played length over file length (above 1 is slower),
// `pitchScale` the frequency factor.
struct StretchAmount {
    double timeRatio = 1.0;
    double pitchScale = 1.0;

    bool active() const { return timeRatio != 1.0 || pitchScale != 1.0; }
    bool operator==(const StretchAmount&) const = default;
};

class TimeStretcher {
public:
    // In order of sound quality: the R3 engine with its full multi-resolution analysis, R3 held to
    // one short window, and the older R2 engine.
    enum class Engine { Finer, FinerShort, Faster };
    static const char* engineName(Engine engine);
    // The best engine that stays within a small share of a core on this machine, measured once per
    // process on a stereo test signal (a loaded preview must keep up next to everything else).
    static Engine preferredEngine();
    // The share of one core `engine` needs for stereo at 48 kHz, stretching and shifting at once.
    static double measureCoreShare(Engine engine);

    TimeStretcher(int sampleRate, Engine engine);
    ~TimeStretcher();
    TimeStretcher(const TimeStretcher&) = delete;
    TimeStretcher& operator=(const TimeStretcher&) = delete;

    int sampleRate() const { return m_rate; }
    Engine engine() const { return m_engine; }

    // Starts afresh at this amount. Output then lines up with input: output frame n is input frame
    // n / timeRatio (the stretcher's own delay is padded in and dropped here).
    void restart(StretchAmount amount);
    // Frames process() would like next, at most kMaxInput.
    int inputWanted() const;
    void process(const float* stereo, int frames, bool final);
    // Up to `maxFrames` interleaved stereo frames; -1 once everything after the final input is out.
    int retrieve(float* stereo, int maxFrames);

    static constexpr int kMaxInput = 1024;

private:
    void processPlanar(int frames, bool final);

    int m_rate;
    Engine m_engine;
    std::unique_ptr<RubberBand::RubberBandStretcher> m_rb;
    std::vector<float> m_in[2];
    std::vector<float> m_out[2];
    std::size_t m_drop = 0;
    bool m_final = false;
};

// Spare stretchers, shared by the engine and the players it opens (which may outlive a player's
// stream on the decode worker).
class StretcherPool {
public:
    // A stretcher for `sampleRate`, not yet restarted.
    std::unique_ptr<TimeStretcher> take(int sampleRate);
    void give(std::unique_ptr<TimeStretcher> stretcher);
    // Builds a spare for `sampleRate` unless there is one, so that the next preview to stretch need
    // not wait for one to be built. For a thread with time to spare (the decode worker, its ring full).
    void keepSpare(int sampleRate);
    // Tools choose the engine; otherwise the measured preference applies.
    void setEngine(std::optional<TimeStretcher::Engine> engine);
    TimeStretcher::Engine engine() const;

private:
    mutable std::mutex m_mutex;
    std::optional<TimeStretcher::Engine> m_engine;
    std::vector<std::unique_ptr<TimeStretcher>> m_spare;
};

} // namespace kivo::playback
