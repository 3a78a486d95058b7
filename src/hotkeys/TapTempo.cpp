#include "hotkeys/TapTempo.h"

#include <cmath>
#include <numeric>

namespace kivo::hotkeys {

namespace {
double mean(const std::vector<double>& values)
{
    return std::accumulate(values.begin(), values.end(), 0.0) / double(values.size());
}
} // namespace

std::optional<double> tapTempo(const std::vector<double>& times)
{
    if (times.size() < 2)
        return std::nullopt;
    std::vector<double> intervals;
    for (std::size_t i = 0; i + 1 < times.size(); ++i)
        intervals.push_back(times[i + 1] - times[i]);
    std::vector<double> used = intervals;
    if (intervals.size() >= 3) {
        const double m = mean(intervals);
        double squares = 0;
        for (double d : intervals)
            squares += (d - m) * (d - m);
        const double s = std::sqrt(squares / double(intervals.size()));
        std::vector<double> kept;
        for (double d : intervals)
            if (std::fabs(d - m) <= 2 * s)
                kept.push_back(d);
        const std::size_t k = intervals.size();
        if (kept.size() >= k - std::size_t(0.2 * double(k)))
            used = std::move(kept);
    }
    const double a = mean(used);
    if (!(a > 0))
        return std::nullopt;
    return 60.0 / a;
}

int roundedBPM(double bpm)
{
    return int(std::lround(bpm));
}

} // namespace kivo::hotkeys
