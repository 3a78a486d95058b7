#include "TimeStretcher.h"

#include <rubberband/RubberBandStretcher.h>

#include <algorithm>
#include <cmath>
#include <ctime>

namespace kivo::playback {

using RubberBand::RubberBandStretcher;

namespace {

// A preview stretching beyond this share of a core would compete with the DAW and the index work
// on a small machine; the next engine down is chosen instead.
constexpr double kCoreBudget = 0.06;
constexpr int kOutputBlock = 1024;

RubberBandStretcher::Options optionsFor(TimeStretcher::Engine engine)
{
    // Threads of its own would put the stretch beside the worker's budget, not inside it.
    RubberBandStretcher::Options options
        = RubberBandStretcher::OptionProcessRealTime | RubberBandStretcher::OptionThreadingNever;
    switch (engine) {
    case TimeStretcher::Engine::Finer:
        return options | RubberBandStretcher::OptionEngineFiner;
    case TimeStretcher::Engine::FinerShort:
        return options | RubberBandStretcher::OptionEngineFiner | RubberBandStretcher::OptionWindowShort;
    case TimeStretcher::Engine::Faster:
        break;
    }
    return options | RubberBandStretcher::OptionEngineFaster | RubberBandStretcher::OptionTransientsCrisp;
}

double threadCpuSeconds()
{
    timespec ts {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

} // namespace

const char* TimeStretcher::engineName(Engine engine)
{
    switch (engine) {
    case Engine::Finer:
        return "finer";
    case Engine::FinerShort:
        return "finer-short";
    case Engine::Faster:
        break;
    }
    return "faster";
}

double TimeStretcher::measureCoreShare(Engine engine)
{
    constexpr int kRate = 48000;
    constexpr int kFrames = kRate / 4;
    TimeStretcher stretcher(kRate, engine);
    stretcher.restart({ 1.25, std::pow(2.0, 7.0 / 12.0) });
    // A chord with a click every beat: tonal and percussive at once, like most loops.
    std::vector<float> input(std::size_t(kFrames) * 2);
    for (int i = 0; i < kFrames; ++i) {
        const double t = double(i) / kRate;
        float v = float(0.2 * std::sin(2 * M_PI * 220 * t) + 0.2 * std::sin(2 * M_PI * 277 * t));
        if (i % (kRate / 8) < 64)
            v += 0.5f * float((i * 7919) % 200 - 100) / 100.0f;
        input[std::size_t(i) * 2] = v;
        input[std::size_t(i) * 2 + 1] = v * 0.8f;
    }
    std::vector<float> out(std::size_t(kOutputBlock) * 2);
    const double start = threadCpuSeconds();
    int fed = 0;
    int64_t produced = 0;
    while (fed < kFrames) {
        const int n = std::min(stretcher.inputWanted(), kFrames - fed);
        stretcher.process(input.data() + std::size_t(fed) * 2, n, fed + n == kFrames);
        fed += n;
        for (int got; (got = stretcher.retrieve(out.data(), kOutputBlock)) > 0;)
            produced += got;
    }
    const double cpu = threadCpuSeconds() - start;
    return produced > 0 ? cpu / (double(produced) / kRate) : 1.0;
}

TimeStretcher::Engine TimeStretcher::preferredEngine()
{
    static const Engine chosen = [] {
        for (Engine engine : { Engine::Finer, Engine::FinerShort })
            if (measureCoreShare(engine) <= kCoreBudget)
                return engine;
        return Engine::Faster;
    }();
    return chosen;
}

TimeStretcher::TimeStretcher(int sampleRate, Engine engine)
    : m_rate(sampleRate)
    , m_engine(engine)
    , m_rb(std::make_unique<RubberBandStretcher>(
          std::size_t(std::clamp(sampleRate, 8000, 192000)), 2, optionsFor(engine)))
{
    m_rb->setMaxProcessSize(kMaxInput);
    for (int ch = 0; ch < 2; ++ch) {
        m_in[ch].resize(kMaxInput);
        m_out[ch].resize(kOutputBlock);
    }
}

TimeStretcher::~TimeStretcher() = default;

void TimeStretcher::restart(StretchAmount amount)
{
    m_rb->reset();
    m_rb->setTimeRatio(amount.timeRatio);
    m_rb->setPitchScale(amount.pitchScale);
    m_final = false;
    // Silence ahead of the first frame, and as much output dropped, keeps output frame n at input
    // frame n / ratio from the very start.
    std::fill(m_in[0].begin(), m_in[0].end(), 0.0f);
    std::fill(m_in[1].begin(), m_in[1].end(), 0.0f);
    for (std::size_t pad = m_rb->getPreferredStartPad(); pad > 0;) {
        const std::size_t n = std::min<std::size_t>(pad, kMaxInput);
        processPlanar(int(n), false);
        pad -= n;
    }
    m_drop = m_rb->getStartDelay();
}

int TimeStretcher::inputWanted() const
{
    const std::size_t wanted = m_rb->getSamplesRequired();
    return int(std::clamp<std::size_t>(wanted, 1, kMaxInput));
}

void TimeStretcher::processPlanar(int frames, bool final)
{
    const float* planes[2] = { m_in[0].data(), m_in[1].data() };
    m_rb->process(planes, std::size_t(frames), final);
}

void TimeStretcher::process(const float* stereo, int frames, bool final)
{
    if (m_final)
        return;
    frames = std::clamp(frames, 0, kMaxInput);
    for (int i = 0; i < frames; ++i) {
        m_in[0][std::size_t(i)] = stereo[2 * i];
        m_in[1][std::size_t(i)] = stereo[2 * i + 1];
    }
    processPlanar(frames, final);
    m_final = final;
}

int TimeStretcher::retrieve(float* stereo, int maxFrames)
{
    float* planes[2] = { m_out[0].data(), m_out[1].data() };
    int done = 0;
    while (done < maxFrames) {
        const int available = m_rb->available();
        if (available < 0)
            return done > 0 ? done : -1;
        if (available == 0)
            break;
        if (m_drop > 0) {
            const std::size_t n = std::min<std::size_t>({ m_drop, std::size_t(available), kOutputBlock });
            m_drop -= m_rb->retrieve(planes, n);
            continue;
        }
        const int n = std::min({ available, maxFrames - done, kOutputBlock });
        const int got = int(m_rb->retrieve(planes, std::size_t(n)));
        for (int i = 0; i < got; ++i) {
            stereo[2 * (done + i)] = m_out[0][std::size_t(i)];
            stereo[2 * (done + i) + 1] = m_out[1][std::size_t(i)];
        }
        done += got;
        if (got == 0)
            break;
    }
    return done;
}

std::unique_ptr<TimeStretcher> StretcherPool::take(int sampleRate)
{
    const TimeStretcher::Engine wanted = engine();
    {
        std::lock_guard lock(m_mutex);
        auto it = std::find_if(m_spare.begin(), m_spare.end(),
            [&](const auto& s) { return s->sampleRate() == sampleRate && s->engine() == wanted; });
        if (it != m_spare.end()) {
            std::unique_ptr<TimeStretcher> found = std::move(*it);
            m_spare.erase(it);
            return found;
        }
    }
    return std::make_unique<TimeStretcher>(sampleRate, wanted);
}

void StretcherPool::give(std::unique_ptr<TimeStretcher> stretcher)
{
    if (!stretcher)
        return;
    std::lock_guard lock(m_mutex);
    // One playing file at a time, and one opening: more spares would only hold memory.
    if (m_spare.size() < 2)
        m_spare.push_back(std::move(stretcher));
}

void StretcherPool::keepSpare(int sampleRate)
{
    const TimeStretcher::Engine wanted = engine();
    {
        std::lock_guard lock(m_mutex);
        if (std::any_of(m_spare.begin(), m_spare.end(),
                [&](const auto& s) { return s->sampleRate() == sampleRate && s->engine() == wanted; }))
            return;
    }
    give(std::make_unique<TimeStretcher>(sampleRate, wanted));
}

void StretcherPool::setEngine(std::optional<TimeStretcher::Engine> engine)
{
    std::lock_guard lock(m_mutex);
    m_engine = engine;
    m_spare.clear();
}

TimeStretcher::Engine StretcherPool::engine() const
{
    {
        std::lock_guard lock(m_mutex);
        if (m_engine)
            return *m_engine;
    }
    return TimeStretcher::preferredEngine();
}

} // namespace kivo::playback
