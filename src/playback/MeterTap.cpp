#include "MeterTap.h"

#include <algorithm>
#include <cmath>

namespace kivo::playback {

namespace {

float rmsDB(const float* samples, int channels, int channel, int begin, int end)
{
    double sum = 0;
    for (int i = begin; i < end; ++i) {
        double v = samples[i * channels + channel];
        sum += v * v;
    }
    int n = end - begin;
    double rms = n > 0 ? std::sqrt(sum / n) : 0.0;
    return rms > 0 ? float(20.0 * std::log10(rms)) : kSilenceDB;
}

} // namespace

MeterBatch analyseTapBuffer(const float* samples, int frames, int channels, double sampleRate)
{
    MeterBatch batch;
    if (frames < 1 || channels < 1)
        return batch;
    double rate = sampleRate > 0 ? sampleRate : 48000.0;
    int window = std::max(int(std::lround(rate / 30.0)), 1);
    int windows = window > frames ? 1 : frames / window;
    windows = std::min(windows, MeterBatch::kMaxPairs);
    for (int k = 0; k < windows; ++k) {
        int begin = k * window;
        int end = k == windows - 1 ? frames : begin + window;
        float left = rmsDB(samples, channels, 0, begin, end);
        float right = channels > 1 ? rmsDB(samples, channels, 1, begin, end) : left;
        batch.left[k] = left;
        batch.right[k] = right;
    }
    batch.count = windows;
    return batch;
}

bool SilenceFilter::admit(const MeterBatch& batch)
{
    bool silent = true;
    for (int i = 0; i < batch.count && silent; ++i)
        silent = batch.left[i] <= kSilenceDB && batch.right[i] <= kSilenceDB;
    if (silent && m_lastWasSilent)
        return false;
    m_lastWasSilent = silent;
    return true;
}

MeterTap::MeterTap()
    : m_batches(64)
{
}

void MeterTap::feed(const float* stereo, int frames, double sampleRate)
{
    if (!m_enabled.load(std::memory_order_relaxed))
        return;
    while (frames > 0) {
        int take = std::min(frames, kBufferFrames - m_filled);
        std::copy(stereo, stereo + take * 2, m_buffer.begin() + m_filled * 2);
        m_filled += take;
        stereo += take * 2;
        frames -= take;
        if (m_filled == kBufferFrames) {
            m_filled = 0;
            MeterBatch batch = analyseTapBuffer(m_buffer.data(), kBufferFrames, 2, sampleRate);
            // A full queue means nobody reads the meter right now; the batch is dropped.
            if (m_filter.admit(batch))
                m_batches.push(batch);
        }
    }
}

} // namespace kivo::playback
