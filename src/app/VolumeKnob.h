#pragma once

// The preview's volume knob: a 22-point body inside a ring of 28 ticks spread over 270 degrees.
// Dragging up raises the volume (200 points cover the whole range) while the pointer stays hidden
// where it was pressed; a double click sets it to the middle.

#include <QColor>
#include <QPoint>
#include <QWidget>

namespace kivo::app {

inline constexpr double kKnobSweepDegrees = 270;
inline constexpr double kKnobBodyDiameter = 22;
inline constexpr int kKnobTickCount = 28;
inline constexpr double kKnobDragRange = 200;

// Position after a vertical motion of dy points (down positive).
double knobPositionAfterDelta(double position, double dy);
// Angle of tick i in degrees from straight up, clockwise.
double knobTickAngle(int tick);
// Angle of the knob's pointer for a position 0...1, on the same scale.
double knobAngleForPosition(double position);

class VolumeKnob : public QWidget {
    Q_OBJECT
public:
    explicit VolumeKnob(QWidget* parent = nullptr);

    double position() const { return m_position; }
    // Shows a value; does not emit positionEdited.
    void setPosition(double position);
    void setThemeColor(const QColor& color);
    bool isDragging() const { return m_dragging; }

    // The two gestures of the drag surface, also reachable from tests.
    void onDelta(double dy);
    void onDoubleClick();

    QSize sizeHint() const override { return { 34, 34 }; }
    QSize minimumSizeHint() const override { return sizeHint(); }

signals:
    // The user turned the knob.
    void positionEdited(double position);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void edit(double position);
    void endDrag();

    double m_position = 0.5;
    QColor m_theme { 0xEF, 0x53, 0x56 };
    bool m_dragging = false;
    QPoint m_anchor; // global pointer position where the drag began
    QPoint m_last;
};

} // namespace kivo::app
