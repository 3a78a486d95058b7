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
    tintWaveform();
    update();
}

void SeekBar::setActive(bool active)
{
    if (active == m_active)
        return;
    m_active = active;
    update();
}

void SeekBar::fitHeight()
{
    setFixedHeight(sizeHint().height());
    update();
}

void SeekBar::setMIDIRegion(const music::MIDIFileData& data)
{
    m_midi = data;
    m_midiLoading = false;
    fitHeight();
}

void SeekBar::setMIDILoading()
{
    m_midi.reset();
    m_midiLoading = true;
    fitHeight();
}

void SeekBar::clearMIDIRegion()
{
    if (!showsMIDIRegion())
        return;
    m_midi.reset();
    m_midiLoading = false;
    fitHeight();
}

void SeekBar::setWaveform(const QImage& image, bool loading)
{
    m_waveformShown = true;
    m_waveformLoading = loading && image.isNull();
    if (image.cacheKey() != m_waveform.cacheKey() || image.isNull() != m_waveform.isNull()) {
        m_waveform = image;
        tintWaveform();
    }
    fitHeight();
}

void SeekBar::clearWaveform()
{
    if (!m_waveformShown)
        return;
    m_waveformShown = false;
    m_waveformLoading = false;
    m_waveform = {};
    tintWaveform();
    fitHeight();
}

QSizeF SeekBar::waveformSize() const
{
    return { double(width()), double(kRegionHeight - 4) };
}

QRectF SeekBar::regionArea() const
{
    return QRectF(rect()).adjusted(0, 2, 0, -2);
}

// The waveform image is drawn in one neutral colour; the bar keeps it in its two colours.
void SeekBar::tintWaveform()
{
    auto tinted = [this](const QColor& color) {
        if (m_waveform.isNull())
            return QImage();
        QImage copy = m_waveform.copy();
        copy.setDevicePixelRatio(m_waveform.devicePixelRatio());
        QPainter p(&copy);
        p.setCompositionMode(QPainter::CompositionMode_SourceIn);
        p.fillRect(QRectF(QPointF(0, 0), copy.deviceIndependentSize()), color);
        return copy;
    };
    QColor rest = palette().color(QPalette::WindowText);
    rest.setAlphaF(0.35);
    m_playedWaveform = tinted(m_theme);
    m_restWaveform = tinted(rest);
}

void SeekBar::paintRegionBack(QPainter& p, const QRectF& area, bool loading)
{
    QColor back = palette().color(QPalette::Mid);
    back.setAlphaF(0.25);
    p.setPen(Qt::NoPen);
    p.setBrush(back);
    p.drawRoundedRect(area, 4, 4);
    if (loading) {
        // A small busy mark while the file is read.
        const QColor dot = palette().color(QPalette::Mid);
        const QPointF c = area.center();
        p.setBrush(dot);
        for (int i = -1; i <= 1; ++i)
            p.drawEllipse(c + QPointF(i * 7, 0), 2, 2);
    }
}

void SeekBar::paintRegion(QPainter& p)
{
    const QRectF area = regionArea();
    paintRegionBack(p, area, m_midiLoading);
    if (m_midiLoading || !m_midi)
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

void SeekBar::paintWaveform(QPainter& p)
{
    const QRectF area = regionArea();
    paintRegionBack(p, area, m_waveformLoading);
    if (m_waveform.isNull())
        return;
    const double playhead = area.left() + area.width() * (m_active ? m_progress : 0);
    p.save();
    p.setClipRect(QRectF(area.left(), area.top(), playhead - area.left(), area.height()));
    p.drawImage(area, m_playedWaveform);
    p.setClipRect(QRectF(playhead, area.top(), area.right() - playhead, area.height()));
    p.drawImage(area, m_restWaveform);
    p.restore();
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
    if (m_waveformShown)
        return paintWaveform(p);
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

void SeekBar::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    m_lastScale = devicePixelRatioF();
    emit waveformSizeChanged(waveformSize(), m_lastScale);
}

void SeekBar::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        tintWaveform();
    // Moving to a screen of another pixel ratio asks for a sharper (or smaller) image.
    if (event->type() == QEvent::ScreenChangeInternal) {
        if (devicePixelRatioF() != m_lastScale) {
            m_lastScale = devicePixelRatioF();
            emit waveformSizeChanged(waveformSize(), m_lastScale);
        }
    }
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
