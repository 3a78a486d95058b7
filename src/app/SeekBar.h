#pragma once

// The preview strip's progress bar: shows how far playback has got and jumps there on a click or
// a drag.

#include <QColor>
#include <QWidget>

namespace kivo::app {

// The fraction of the file a click at x in a bar w wide stands for, clamped to 0...1.
double seekFraction(double x, double width);

class SeekBar : public QWidget {
    Q_OBJECT
public:
    explicit SeekBar(QWidget* parent = nullptr);

    double progress() const { return m_progress; }
    void setProgress(double fraction);
    void setThemeColor(const QColor& color);
    // A bar without a file neither draws progress nor seeks.
    void setActive(bool active);
    bool isActive() const { return m_active; }

    QSize sizeHint() const override { return { 200, 14 }; }
    QSize minimumSizeHint() const override { return { 40, 8 }; }

signals:
    void seekRequested(double fraction);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    double m_progress = 0;
    bool m_active = false;
    QColor m_theme { 0xEF, 0x53, 0x56 };
};

} // namespace kivo::app
