#include "app/StereoLevelMeter.h"

#include <QPainter>

#include <algorithm>
#include <array>
#include <cmath>

namespace kivo::app {

int meterDotCount(double width, const MeterMetrics& m)
{
    const double room = width - m.labelWidth - m.labelSpacing + m.dotSpacing;
    const double n = std::floor(room / (m.dotSize + m.dotSpacing));
    if (!(n > 4))
        return 4;
    return int(std::min(n, 4096.0));
}

double meterDotIntensity(int dot, int count, double level, const MeterMetrics& m)
{
    if (std::isnan(level))
        return 0;
    const double v = ((m.fadeDots + count - 1) * level - dot) / m.fadeDots;
    return std::clamp(v, 0.0, 1.0);
}

QColor meterZoneColor(int dot, int count, const QColor& theme)
{
    struct Zone {
        double below;
        QRgb colour;
    };
    static constexpr std::array<Zone, 4> zones { {
        { 0.78, 0xE8E2A4 },
        { 0.84, 0xF2CF78 },
        { 0.89, 0xF5A65B },
        { 0.96, 0xE85B4C },
    } };
    const double f = double(dot) / (std::max(count, 2) - 1);
    if (f < 0.72)
        return theme;
    for (const auto& z : zones)
        if (f < z.below)
            return QColor::fromRgb(z.colour);
    return QColor::fromRgb(0xFF3326);
}

StereoLevelMeter::StereoLevelMeter(QWidget* parent)
    : QWidget(parent)
{
    setToolTip(tr("Output level"));
    setAccessibleName(tr("Output level"));
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

QSize StereoLevelMeter::sizeHint() const
{
    return { 100, 20 };
}

QSize StereoLevelMeter::minimumSizeHint() const
{
    const auto& m = m_metrics;
    return { int(std::ceil(m.labelWidth + m.labelSpacing + 4 * (m.dotSize + m.dotSpacing))), 16 };
}

void StereoLevelMeter::setLevels(double left, double right)
{
    auto clean = [](double v) { return std::isnan(v) ? 0.0 : std::clamp(v, 0.0, 1.0); };
    left = clean(left);
    right = clean(right);
    if (left == m_left && right == m_right)
        return;
    m_left = left;
    m_right = right;
    update();
}

void StereoLevelMeter::setThemeColor(const QColor& color)
{
    m_theme = color;
    update();
}

void StereoLevelMeter::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const double rowHeight = height() / 2.0;
    drawRow(p, 0, rowHeight, QStringLiteral("L"), m_left);
    drawRow(p, rowHeight, rowHeight, QStringLiteral("R"), m_right);
}

void StereoLevelMeter::drawRow(
    QPainter& p, double top, double rowHeight, const QString& label, double level) const
{
    const auto& m = m_metrics;
    QFont font = p.font();
    font.setPixelSize(int(std::max(6.0, std::min(rowHeight - 1, 8.0))));
    font.setBold(true);
    p.setFont(font);
    p.setPen(palette().color(QPalette::PlaceholderText));
    p.drawText(QRectF(0, top, m.labelWidth + 2, rowHeight), Qt::AlignLeft | Qt::AlignVCenter, label);

    const double x0 = m.labelWidth + m.labelSpacing;
    const int n = meterDotCount(width(), m);
    const double cy = top + rowHeight / 2;
    QColor off = palette().color(QPalette::WindowText);
    off.setAlphaF(0.12);
    p.setPen(Qt::NoPen);
    for (int i = 0; i < n; ++i) {
        const QRectF dot(x0 + i * (m.dotSize + m.dotSpacing), cy - m.dotSize / 2, m.dotSize, m.dotSize);
        p.setBrush(off);
        p.drawEllipse(dot);
        const double intensity = meterDotIntensity(i, n, level, m);
        if (intensity <= 0)
            continue;
        QColor lit = meterZoneColor(i, n, m_theme);
        lit.setAlphaF(intensity);
        p.setBrush(lit);
        p.drawEllipse(dot);
    }
}

} // namespace kivo::app
