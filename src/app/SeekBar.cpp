#include "app/SeekBar.h"

#include "app/MIDIRegion.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace kivo::app {

double seekFraction(double x, double width)
{
    if (!(width > 0) || std::isnan(x))
        return 0;
    return std::clamp(x / width, 0.0, 1.0);
}

SeekBar::SeekBar(QWidget* parent)
    : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setCursor(Qt::PointingHandCursor);
    setToolTip(tr("Click to jump"));
    setAccessibleName(tr("Playback position"));
}

void SeekBar::setProgress(double fraction)
{
    fraction = std::isnan(fraction) ? 0 : std::clamp(fraction, 0.0, 1.0);
    if (fraction == m_progress)
        return;
    m_progress = fraction;
    update();
}

void SeekBar::setThemeColor(const QColor& color)
{
    m_theme = color;
    update();
}

void SeekBar::setActive(bool active)
{
    if (active == m_active)
        return;
    m_active = active;
    update();
}

void SeekBar::setMIDIRegion(const music::MIDIFileData& data)
{
    m_midi = data;
    m_midiLoading = false;
    setFixedHeight(kRegionHeight);
    update();
}

void SeekBar::setMIDILoading()
{
    m_midi.reset();
    m_midiLoading = true;
    setFixedHeight(kRegionHeight);
    update();
}

void SeekBar::clearMIDIRegion()
{
    if (!showsMIDIRegion())
        return;
    m_midi.reset();
    m_midiLoading = false;
    setFixedHeight(sizeHint().height());
    update();
}

void SeekBar::paintRegion(QPainter& p)
{
    const QRectF area = QRectF(rect()).adjusted(0, 2, 0, -2);
    QColor back = palette().color(QPalette::Mid);
    back.setAlphaF(0.25);
    p.setPen(Qt::NoPen);
    p.setBrush(back);
    p.drawRoundedRect(area, 4, 4);
    if (m_midiLoading) {
        // A small busy mark while the file is read.
        QColor dot = palette().color(QPalette::Mid);
        const QPointF c = area.center();
        for (int i = -1; i <= 1; ++i) {
            p.setBrush(dot);
            p.drawEllipse(c + QPointF(i * 7, 0), 2, 2);
        }
        return;
    }
    if (!m_midi)
        return;
    const double playhead = area.left() + area.width() * (m_active ? m_progress : 0);
    QColor unplayed = m_theme;
    unplayed.setAlphaF(0.4);
    for (const auto& bar : midiRegionBars(*m_midi, area.adjusted(2, 2, -2, -2))) {
        p.setBrush(bar.rect.left() < playhead ? m_theme : unplayed);
        p.drawRoundedRect(bar.rect, bar.radius, bar.radius);
    }
    if (m_active && m_progress > 0) {
        p.setPen(QPen(m_theme, 1));
        p.drawLine(QPointF(playhead, area.top()), QPointF(playhead, area.bottom()));
    }
}

void SeekBar::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    if (showsMIDIRegion())
        return paintRegion(p);
    const double h = std::min<double>(height(), 6);
    const QRectF track(0, (height() - h) / 2, width(), h);
    p.setPen(Qt::NoPen);
    p.setBrush(palette().color(QPalette::Mid));
    p.drawRoundedRect(track, h / 2, h / 2);
    if (!m_active)
        return;
    QRectF done = track;
    done.setWidth(track.width() * m_progress);
    p.setBrush(m_theme);
    p.drawRoundedRect(done, h / 2, h / 2);
}

void SeekBar::mousePressEvent(QMouseEvent* event)
{
    if (!m_active || event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    emit seekRequested(seekFraction(event->position().x(), width()));
}

void SeekBar::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_active || !(event->buttons() & Qt::LeftButton))
        return QWidget::mouseMoveEvent(event);
    emit seekRequested(seekFraction(event->position().x(), width()));
}

} // namespace kivo::app
