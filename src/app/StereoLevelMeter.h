#pragma once

// The preview's output level meter: two rows of dots labelled "L" and "R". The topmost lit dots
// fade in over three dots instead of switching on abruptly, and the dots towards the top of the
// range change colour from the theme colour through yellow and orange to red.

#include <QColor>
#include <QWidget>

namespace kivo::app {

struct MeterMetrics {
    double dotSize = 4;
    double dotSpacing = 2;
    double labelWidth = 6;
    double labelSpacing = 6;
    double fadeDots = 3;
};

// Dots in a row w points wide (never fewer than 4).
int meterDotCount(double width, const MeterMetrics& m = {});
// How lit dot i of n is at a level 0...1: 0 is off, 1 fully lit.
double meterDotIntensity(int dot, int count, double level, const MeterMetrics& m = {});
// The colour dot i of n lights in.
QColor meterZoneColor(int dot, int count, const QColor& theme);

class StereoLevelMeter : public QWidget {
    Q_OBJECT
public:
    explicit StereoLevelMeter(QWidget* parent = nullptr);

    double left() const { return m_left; }
    double right() const { return m_right; }
    void setLevels(double left, double right);
    void setThemeColor(const QColor& color);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void drawRow(QPainter& p, double top, double rowHeight, const QString& label, double level) const;

    MeterMetrics m_metrics;
    double m_left = 0;
    double m_right = 0;
    QColor m_theme { 0xEF, 0x53, 0x56 };
};

} // namespace kivo::app
