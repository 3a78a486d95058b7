#include "app/SeekBar.h"

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

void SeekBar::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
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
