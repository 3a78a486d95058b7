#pragma once

// The preview strip's progress bar: shows how far playback has got and jumps there on a click or
// a drag. An audio file shows its waveform in it, a MIDI file its notes; the played part is drawn
// in the theme colour.

#include "music/MIDIFileParser.h"

#include <QColor>
#include <QImage>
#include <QWidget>

#include <optional>

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
    // A MIDI file shows its notes in the bar, which grows to make room for them.
    void setMIDIRegion(const music::MIDIFileData& data);
    void setMIDILoading();
    void clearMIDIRegion();
    bool showsMIDIRegion() const { return m_midi.has_value() || m_midiLoading; }
    bool isMIDILoading() const { return m_midiLoading; }
    int midiNoteCount() const { return m_midi ? int(m_midi->notes.size()) : 0; }
    // An audio file's waveform: a null image while it is being drawn.
    void setWaveform(const QImage& image, bool loading);
    void clearWaveform();
    bool showsWaveform() const { return m_waveformShown; }
    bool hasWaveformImage() const { return !m_waveform.isNull(); }
    // The size in points of the waveform image the bar draws, whatever its height is now.
    QSizeF waveformSize() const;

    QSize sizeHint() const override { return { 200, tall() ? kRegionHeight : 14 }; }
    QSize minimumSizeHint() const override { return { 40, 8 }; }

signals:
    void seekRequested(double fraction);
    // The width or the screen's pixel ratio changed.
    void waveformSizeChanged(QSizeF size, double scale);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    static constexpr int kRegionHeight = 40;
    bool tall() const { return showsMIDIRegion() || m_waveformShown; }
    void fitHeight();
    QRectF regionArea() const;
    void paintRegionBack(QPainter& p, const QRectF& area, bool loading);
    void paintRegion(QPainter& p);
    void paintWaveform(QPainter& p);
    void tintWaveform();

    double m_progress = 0;
    std::optional<music::MIDIFileData> m_midi;
    bool m_midiLoading = false;
    bool m_waveformShown = false;
    bool m_waveformLoading = false;
    QImage m_waveform;
    QImage m_playedWaveform; // the image in the theme colour
    QImage m_restWaveform; // and in the colour of the part not yet played
    double m_lastScale = 0;
    bool m_active = false;
    QColor m_theme { 0xEF, 0x53, 0x56 };
};

} // namespace kivo::app
