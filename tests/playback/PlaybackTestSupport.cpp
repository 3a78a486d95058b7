#include "PlaybackTestSupport.h"

#include <cmath>

namespace kivo::test {

double estimatePitch(const std::vector<float>& stereo, int rate, int fromFrame, int toFrame)
{
    const int n = toFrame - fromFrame;
    const int minLag = rate / 2000, maxLag = rate / 50;
    std::vector<double> x(n);
    for (int i = 0; i < n; ++i)
        x[i] = stereo[2 * (fromFrame + i)];
    auto corr = [&](int lag) {
        double sum = 0, e1 = 0, e2 = 0;
        for (int i = 0; i + lag < n; ++i) {
            sum += x[i] * x[i + lag];
            e1 += x[i] * x[i];
            e2 += x[i + lag] * x[i + lag];
        }
        return e1 > 0 && e2 > 0 ? sum / std::sqrt(e1 * e2) : 0.0;
    };
    // The first lag whose normalised correlation comes close to the best one is the period.
    std::vector<double> c(maxLag + 2);
    double best = 0;
    for (int lag = minLag; lag <= maxLag + 1; ++lag) {
        c[lag] = corr(lag);
        best = std::max(best, c[lag]);
    }
    for (int lag = minLag + 1; lag <= maxLag; ++lag) {
        if (c[lag] > 0.9 * best && c[lag] >= c[lag - 1] && c[lag] >= c[lag + 1]) {
            double a = c[lag - 1], b = c[lag], d = c[lag + 1];
            double denom = a - 2 * b + d;
            double shift = denom != 0 ? 0.5 * (a - d) / denom : 0;
            return rate / (lag + shift);
        }
    }
    return 0;
}

double sineFrequency(const std::vector<float>& stereo, int rate, int fromFrame, int toFrame)
{
    double first = -1, last = -1;
    int crossings = 0;
    for (int i = fromFrame; i + 1 < toFrame; ++i) {
        const float a = stereo[std::size_t(2 * i)], b = stereo[std::size_t(2 * i + 2)];
        if (a < 0 && b >= 0) {
            const double at = i + double(-a) / double(b - a);
            crossings += first >= 0;
            first = first < 0 ? at : first;
            last = at;
        }
    }
    return crossings > 0 ? crossings * rate / (last - first) : 0;
}

double rms(const std::vector<float>& stereo, int fromFrame, int toFrame)
{
    double sum = 0;
    for (int i = fromFrame; i < toFrame; ++i)
        sum += double(stereo[2 * i]) * stereo[2 * i];
    return toFrame > fromFrame ? std::sqrt(sum / (toFrame - fromFrame)) : 0;
}

int firstFrameAbove(const std::vector<float>& stereo, int fromFrame, float threshold)
{
    for (std::size_t i = std::size_t(fromFrame); i < stereo.size() / 2; ++i)
        if (std::fabs(stereo[2 * i]) > threshold)
            return int(i);
    return -1;
}

} // namespace kivo::test
