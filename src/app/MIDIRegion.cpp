#include "app/MIDIRegion.h"

#include <QString>

#include <algorithm>

namespace kivo::app {

std::vector<NoteBar> midiRegionBars(const music::MIDIFileData& data, const QRectF& area)
{
    std::vector<NoteBar> bars;
    const double length = data.duration;
    if (!(length > 0) || data.notes.empty() || area.width() <= 0 || area.height() <= 0)
        return bars;
    int lo = data.notes.front().pitch;
    int hi = lo;
    for (const auto& n : data.notes) {
        lo = std::min(lo, n.pitch);
        hi = std::max(hi, n.pitch);
    }
    if (hi - lo + 1 < 12) {
        const int pad = (12 - (hi - lo + 1)) / 2;
        lo = std::max(lo - pad, 0);
        hi = std::min(lo + 11, 127);
    }
    const int rows = std::max(hi - lo + 1, 1);
    const double rowHeight = area.height() / rows;
    const double barHeight = std::max(std::min(0.8 * rowHeight, 5.0), 1.5);
    const double scale = area.width() / length;
    bars.reserve(data.notes.size());
    for (const auto& n : data.notes) {
        const double x = area.left() + scale * n.start;
        if (x >= area.right())
            continue;
        const double width = std::min(std::max(scale * n.duration - 0.5, 1.5), area.right() - x);
        const double y = area.bottom() - rowHeight * ((n.pitch - lo) + 0.5) - barHeight / 2;
        bars.push_back({ QRectF(x, y, width, barHeight), std::min({ width / 2, 1.0, barHeight / 2 }) });
    }
    return bars;
}

bool isMIDIPath(const QString& path)
{
    return path.endsWith(QLatin1String(".mid"), Qt::CaseInsensitive)
        || path.endsWith(QLatin1String(".midi"), Qt::CaseInsensitive);
}

} // namespace kivo::app
