#include "waveform/WaveformRenderer.h"

#include <QLinearGradient>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace kivo::waveform {

int Waveform::Configuration::pixelWidth() const
{
    return std::max(0, int(size.width() * scale));
}

int Waveform::Configuration::pixelHeight() const
{
    return std::max(0, int(size.height() * scale));
}

float Waveform::Damping::factor(int i, int count) const
{
    const float share = std::clamp(percentage, 0.0f, 0.5f);
    const float span = share * float(count);
    if (!(span >= 1))
        return 1;
    auto ease = [this](float t) {
        t = std::clamp(t, 0.0f, 1.0f);
        return std::clamp(easing ? easing(t) : t, 0.0f, 1.0f);
    };
    float f = 1;
    if (sides != Sides::right && float(i) < span)
        f = std::min(f, ease(float(i) / span));
    if (sides != Sides::left && float(count - 1 - i) < span)
        f = std::min(f, ease(float(count - 1 - i) / span));
    return f;
}

namespace {

struct Column {
    double x;
    double top;
    double bottom;
};

// The line of value i, centred on the axis and kept inside the image.
Column column(const std::vector<float>& samples, std::size_t i, const Waveform::Configuration& c, double axis)
{
    const double scale = c.scale > 0 ? c.scale : 1;
    const auto count = int(samples.size());
    // Lines stand on pixel centres, so a one-pixel line covers one pixel whole.
    const double x = double(c.pixelWidth() - count) / scale + (double(i) + 0.5) / scale;
    double amplitude = 1.0 - std::clamp(double(samples[i]), 0.0, 1.0);
    if (c.damping)
        amplitude *= c.damping->factor(int(i), count);
    // A silent column still draws a line one pixel tall on the axis.
    const double h = std::max(c.size.height() * c.verticalScalingFactor * amplitude, 0.5 / scale);
    return { x, std::max(axis - h, 0.0), std::min(axis + h, c.size.height()) };
}

// The axis stands on the centre of a pixel row, so a silent line covers exactly one row.
double axisOf(const Waveform::Configuration& c, Waveform::Position position)
{
    const double scale = c.scale > 0 ? c.scale : 1;
    const int rows = c.pixelHeight();
    const double row = std::clamp(
        std::floor(c.size.height() * position.value() * scale), 0.0, double(std::max(rows - 1, 0)));
    return (row + 0.5) / scale;
}

QColor firstColor(const std::vector<QColor>& colors)
{
    return colors.empty() ? QColor(Qt::black) : colors.front();
}

QBrush gradientBrush(const std::vector<QColor>& colors, const QRectF& area)
{
    if (colors.size() < 2)
        return QBrush(firstColor(colors));
    QLinearGradient gradient(area.topLeft(), area.bottomLeft());
    for (std::size_t k = 0; k < colors.size(); ++k)
        gradient.setColorAt(double(k) / double(colors.size() - 1), colors[k]);
    return QBrush(gradient);
}

} // namespace

QPainterPath LinearWaveformRenderer::path(const std::vector<float>& samples,
    const Waveform::Configuration& configuration, int lastOffset, Waveform::Position position) const
{
    QPainterPath p;
    const double scale = configuration.scale > 0 ? configuration.scale : 1;
    const double axis = axisOf(configuration, position);
    const auto* striped = std::get_if<Waveform::Striped>(&configuration.style);
    int every = 1;
    double shift = 0;
    if (striped) {
        const auto& s = striped->config;
        every = std::max(1, int(s.width + s.spacing) * int(scale));
        shift = std::floor(scale * s.width * 0.5) / scale;
    }
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if (striped && (int64_t(i) + lastOffset) % every != 0)
            continue;
        const Column c = column(samples, i, configuration, axis);
        p.moveTo(c.x + shift, c.top);
        p.lineTo(c.x + shift, c.bottom);
    }
    return p;
}

QPainterPath LinearWaveformRenderer::envelope(const std::vector<float>& samples,
    const Waveform::Configuration& configuration, Waveform::Position position) const
{
    QPainterPath p;
    if (samples.empty())
        return p;
    const double axis = axisOf(configuration, position);
    std::vector<Column> columns;
    columns.reserve(samples.size());
    for (std::size_t i = 0; i < samples.size(); ++i)
        columns.push_back(column(samples, i, configuration, axis));
    p.moveTo(columns.front().x, columns.front().top);
    for (const Column& c : columns)
        p.lineTo(c.x, c.top);
    for (auto c = columns.rbegin(); c != columns.rend(); ++c)
        p.lineTo(c->x, c->bottom);
    p.closeSubpath();
    return p;
}

void LinearWaveformRenderer::render(const std::vector<float>& samples, QPainter& context,
    const Waveform::Configuration& configuration, int lastOffset, Waveform::Position position) const
{
    const bool outline = std::holds_alternative<Waveform::Outlined>(configuration.style)
        || std::holds_alternative<Waveform::GradientOutlined>(configuration.style);
    paintStyle(context, outline ? QPainterPath() : path(samples, configuration, lastOffset, position),
        outline ? envelope(samples, configuration, position) : QPainterPath(), configuration,
        QRectF(QPointF(0, 0), configuration.size));
}

void paintStyle(QPainter& context, const QPainterPath& path, const QPainterPath& outline,
    const Waveform::Configuration& configuration, const QRectF& area)
{
    const double pixel = 1.0 / (configuration.scale > 0 ? configuration.scale : 1);
    context.save();
    context.setRenderHint(QPainter::Antialiasing, configuration.shouldAntialias);
    context.setBrush(Qt::NoBrush);
    std::visit(
        [&](const auto& style) {
            using S = std::decay_t<decltype(style)>;
            if constexpr (std::is_same_v<S, Waveform::Filled>) {
                context.setPen(QPen(style.color, pixel, Qt::SolidLine, Qt::FlatCap));
                context.drawPath(path);
            } else if constexpr (std::is_same_v<S, Waveform::Gradient>) {
                context.setPen(QPen(gradientBrush(style.colors, area), pixel, Qt::SolidLine, Qt::FlatCap));
                context.drawPath(path);
            } else if constexpr (std::is_same_v<S, Waveform::Outlined>) {
                context.setPen(
                    QPen(style.color, style.lineWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
                context.drawPath(outline);
            } else if constexpr (std::is_same_v<S, Waveform::GradientOutlined>) {
                context.setPen(QPen(gradientBrush(style.colors, area), style.lineWidth, Qt::SolidLine,
                    Qt::RoundCap, Qt::RoundJoin));
                context.drawPath(outline);
            } else {
                const auto& s = style.config;
                context.setPen(QPen(s.color, s.width, Qt::SolidLine, s.lineCap));
                context.drawPath(path);
            }
        },
        configuration.style);
    context.restore();
}

} // namespace kivo::waveform
