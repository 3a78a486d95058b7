#include "waveform/WaveformRenderer.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kivo::waveform {

CircularWaveformRenderer::CircularWaveformRenderer(Kind kind, double ringSize)
    : m_kind(kind)
    , m_ringSize(std::clamp(ringSize, 0.0, 1.0))
{
}

namespace {

struct Spoke {
    QPointF from;
    QPointF to;
};

} // namespace

// The position only matters to a straight axis; a circle is always centred.
QPainterPath CircularWaveformRenderer::path(const std::vector<float>& samples,
    const Waveform::Configuration& configuration, int lastOffset, Waveform::Position) const
{
    QPainterPath p;
    const auto count = int(samples.size());
    if (count == 0)
        return p;
    const double scale = configuration.scale > 0 ? configuration.scale : 1;
    const QPointF centre(configuration.size.width() / 2, configuration.size.height() / 2);
    const double outer = std::min(configuration.size.width(), configuration.size.height()) / 2;
    const double inner = m_kind == Kind::ring ? outer * m_ringSize : 0;
    const double reach = (outer - inner) * std::clamp(configuration.verticalScalingFactor, 0.0, 1.0);
    const auto* striped = std::get_if<Waveform::Striped>(&configuration.style);
    const int every
        = striped ? std::max(1, int(striped->config.width + striped->config.spacing) * int(scale)) : 1;
    for (int i = 0; i < count; ++i) {
        if ((int64_t(i) + lastOffset) % every != 0)
            continue;
        double amplitude = 1.0 - std::clamp(double(samples[std::size_t(i)]), 0.0, 1.0);
        if (configuration.damping)
            amplitude *= configuration.damping->factor(i, count);
        const double length = std::max(reach * amplitude, 1.0 / scale);
        // Clockwise from twelve o'clock.
        const double angle = 2 * std::numbers::pi * double(i) / count - std::numbers::pi / 2;
        const QPointF direction(std::cos(angle), std::sin(angle));
        p.moveTo(centre + direction * inner);
        p.lineTo(centre + direction * (inner + length));
    }
    return p;
}

void CircularWaveformRenderer::render(const std::vector<float>& samples, QPainter& context,
    const Waveform::Configuration& configuration, int lastOffset, Waveform::Position position) const
{
    const QPainterPath spokes = path(samples, configuration, lastOffset, position);
    const bool outlined = std::holds_alternative<Waveform::Outlined>(configuration.style)
        || std::holds_alternative<Waveform::GradientOutlined>(configuration.style);
    QPainterPath outline;
    if (outlined) {
        // The outer ends of the spokes, joined.
        for (int k = 0; k < spokes.elementCount(); k += 2) {
            const QPointF tip = spokes.elementAt(k + 1);
            if (k == 0)
                outline.moveTo(tip);
            else
                outline.lineTo(tip);
        }
        outline.closeSubpath();
    }
    paintStyle(context, spokes, outline, configuration, QRectF(QPointF(0, 0), configuration.size));
}

} // namespace kivo::waveform
