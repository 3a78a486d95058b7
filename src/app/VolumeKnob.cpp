#include "app/VolumeKnob.h"

#include <QCursor>
#include <QMouseEvent>
#include <QPainter>
#include <QtMath>

#include <algorithm>
#include <cmath>

namespace kivo::app {

double knobPositionAfterDelta(double position, double dy)
{
    if (std::isnan(dy))
        return position;
    return std::clamp(position - dy / kKnobDragRange, 0.0, 1.0);
}

double knobTickAngle(int tick)
{
    return (double(tick) / (kKnobTickCount - 1) - 0.5) * kKnobSweepDegrees;
}

double knobAngleForPosition(double position)
{
    return (std::clamp(position, 0.0, 1.0) - 0.5) * kKnobSweepDegrees;
}

VolumeKnob::VolumeKnob(QWidget* parent)
    : QWidget(parent)
{
    setFixedSize(sizeHint());
    setToolTip(tr("Volume"));
    setAccessibleName(tr("Volume"));
    setFocusPolicy(Qt::NoFocus);
}

void VolumeKnob::setPosition(double position)
{
    position = std::isnan(position) ? 0.5 : std::clamp(position, 0.0, 1.0);
    if (position == m_position)
        return;
    m_position = position;
    update();
}

void VolumeKnob::setThemeColor(const QColor& color)
{
    m_theme = color;
    update();
}

void VolumeKnob::edit(double position)
{
    if (position == m_position)
        return;
    m_position = position;
    update();
    emit positionEdited(m_position);
}

void VolumeKnob::onDelta(double dy)
{
    edit(knobPositionAfterDelta(m_position, dy));
}

void VolumeKnob::onDoubleClick()
{
    edit(0.5);
}

void VolumeKnob::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF centre(width() / 2.0, height() / 2.0);
    const double outer = std::min(width(), height()) / 2.0 - 1;
    const double inner = kKnobBodyDiameter / 2 + 1.5;
    const QColor dim = palette().color(QPalette::Mid);
    const double lit = knobAngleForPosition(m_position);

    for (int i = 0; i < kKnobTickCount; ++i) {
        const double angle = knobTickAngle(i);
        const double rad = qDegreesToRadians(angle);
        const QPointF dir(std::sin(rad), -std::cos(rad));
        p.setPen(QPen(angle <= lit + 1e-9 ? m_theme : dim, 1.2, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(centre + dir * inner, centre + dir * outer);
    }

    const double r = kKnobBodyDiameter / 2;
    QRadialGradient body(centre - QPointF(r / 3, r / 3), r * 1.4);
    const QColor base = palette().color(QPalette::Button);
    body.setColorAt(0, base.lighter(125));
    body.setColorAt(1, base.darker(130));
    p.setPen(QPen(palette().color(QPalette::Shadow), 0.8));
    p.setBrush(body);
    p.drawEllipse(centre, r, r);

    const double rad = qDegreesToRadians(lit);
    const QPointF dir(std::sin(rad), -std::cos(rad));
    p.setPen(QPen(m_dragging ? m_theme.lighter(120) : m_theme, 2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(centre + dir * (r * 0.25), centre + dir * (r - 3));
}

void VolumeKnob::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    m_dragging = true;
    m_anchor = m_last = event->globalPosition().toPoint();
    setCursor(Qt::BlankCursor);
    update();
}

void VolumeKnob::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_dragging)
        return QWidget::mouseMoveEvent(event);
    const QPoint now = event->globalPosition().toPoint();
    const int dy = now.y() - m_last.y();
    m_last = now;
    if (dy != 0)
        onDelta(dy);
    // Keep the hidden pointer where the drag began; where the platform does not let programs move
    // it, motion is simply measured from the last event.
    if (now != m_anchor) {
        QCursor::setPos(m_anchor);
        if (QCursor::pos() == m_anchor)
            m_last = m_anchor;
    }
}

void VolumeKnob::mouseReleaseEvent(QMouseEvent* event)
{
    if (!m_dragging || event->button() != Qt::LeftButton)
        return QWidget::mouseReleaseEvent(event);
    endDrag();
}

void VolumeKnob::endDrag()
{
    m_dragging = false;
    unsetCursor();
    update();
}

void VolumeKnob::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mouseDoubleClickEvent(event);
    if (m_dragging)
        endDrag();
    onDoubleClick();
}

void VolumeKnob::wheelEvent(QWheelEvent* event)
{
    // One wheel notch (120) moves as far as 10 points of drag.
    const double notches = event->angleDelta().y() / 120.0;
    if (notches != 0)
        onDelta(-notches * 10);
    event->accept();
}

} // namespace kivo::app
