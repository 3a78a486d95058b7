#pragma once

// The preview strip's progress bar: shows how far playback has got and jumps there on a click or
// a drag.

#include "music/MIDIFileParser.h"

#include <QColor>
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

    QSize sizeHint() const override { return { 200, showsMIDIRegion() ? kRegionHeight : 14 }; }
    QSize minimumSizeHint() const override { return { 40, 8 }; }

signals:
    void seekRequested(double fraction);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    static constexpr int kRegionHeight = 40;
    void paintRegion(QPainter& p);

    double m_progress = 0;
    std::optional<music::MIDIFileData> m_midi;
    bool m_midiLoading = false;
    bool m_active = false;
    QColor m_theme { 0xEF, 0x53, 0x56 };
};

} // namespace kivo::app
