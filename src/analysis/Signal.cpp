#include "Signal.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>

namespace kivo::analysis {

namespace {
// FFTW's planner is not reentrant; executing a finished plan on new arrays is.
std::mutex& plannerLock()
{
    static std::mutex lock;
    return lock;
}

struct PlanDeleter {
    void operator()(fftwf_plan_s* plan) const
    {
        std::lock_guard guard(plannerLock());
        fftwf_destroy_plan(plan);
    }
};
struct FloatsDeleter {
    void operator()(float* p) const { fftwf_free(p); }
};
} // namespace

std::vector<float> magnitudeSpectra(
    const std::vector<float>& signal, std::size_t frameSize, std::size_t hop, std::size_t& frames)
{
    const std::size_t bins = frameSize / 2 + 1;
    frames = signal.size() <= frameSize ? 1 : 1 + (signal.size() - frameSize) / hop;
    std::unique_ptr<float, FloatsDeleter> in(fftwf_alloc_real(frameSize));
    std::unique_ptr<float, FloatsDeleter> out(fftwf_alloc_real(2 * bins));
    std::unique_ptr<fftwf_plan_s, PlanDeleter> plan;
    {
        std::lock_guard guard(plannerLock());
        plan.reset(fftwf_plan_dft_r2c_1d(int(frameSize), in.get(),
            reinterpret_cast<fftwf_complex*>(out.get()), FFTW_ESTIMATE | FFTW_DESTROY_INPUT));
    }
    std::vector<float> window(frameSize);
    for (std::size_t i = 0; i < frameSize; ++i)
        window[i] = float(0.5 - 0.5 * std::cos(2 * M_PI * double(i) / double(frameSize)));

    std::vector<float> spectra(frames * bins);
    for (std::size_t f = 0; f < frames; ++f) {
        const std::size_t start = f * hop;
        const std::size_t available = start < signal.size() ? std::min(frameSize, signal.size() - start) : 0;
        float* frame = in.get();
        for (std::size_t i = 0; i < available; ++i)
            frame[i] = signal[start + i] * window[i];
        std::fill(frame + available, frame + frameSize, 0.0f);
        fftwf_execute(plan.get());
        const float* c = out.get();
        float* row = spectra.data() + f * bins;
        for (std::size_t b = 0; b < bins; ++b)
            row[b] = std::sqrt(c[2 * b] * c[2 * b] + c[2 * b + 1] * c[2 * b + 1]);
    }
    return spectra;
}

std::vector<float> decimateByTwo(const std::vector<float>& signal)
{
    // A 7-tap half-band low-pass: enough to keep what folds back well below the bands the
    // analysers weigh.
    static constexpr float taps[7] = { -0.0322f, 0.0f, 0.2822f, 0.5f, 0.2822f, 0.0f, -0.0322f };
    std::vector<float> out(signal.size() / 2);
    const long n = long(signal.size());
    for (std::size_t o = 0; o < out.size(); ++o) {
        const long centre = long(2 * o);
        float sum = 0;
        for (int k = -3; k <= 3; ++k) {
            const long i = centre + k;
            if (i >= 0 && i < n)
                sum += taps[k + 3] * signal[std::size_t(i)];
        }
        out[o] = sum;
    }
    return out;
}

} // namespace kivo::analysis
