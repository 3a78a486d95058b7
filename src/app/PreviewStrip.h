#pragma once

// The strip under the browser: the previewed file's name, where playback is and how long the file
// is, a bar to jump within it, the project tempo and key, the volume knob and the output level meter,
// and a line under them when the sound does not go where the user chose.

#include <QColor>
#include <QString>
#include <QWidget>

class QLabel;

namespace kivo::app {

class ProjectSyncControl;
class SeekBar;
class StereoLevelMeter;
class VolumeKnob;

// "m:ss.t"; empty for a negative or unknown time.
QString formatPlaybackTime(double seconds);

class PreviewStrip : public QWidget {
    Q_OBJECT
public:
    explicit PreviewStrip(QWidget* parent = nullptr);

    // An empty name clears the strip.
    void setFile(const QString& name);
    bool hasFile() const { return m_hasFile; }
    void setProgress(double position, double duration);
    void setLevels(double left, double right);
    void setVolume(double position);
    void setThemeColor(const QColor& color);
    // A short sentence about the output (a device that is gone); empty hides the line.
    void setNotice(const QString& text);
    QString noticeText() const;

    SeekBar* seekBar() const { return m_seek; }
    VolumeKnob* knob() const { return m_knob; }
    StereoLevelMeter* meter() const { return m_meter; }
    ProjectSyncControl* projectSync() const { return m_project; }
    QString nameText() const;
    QString timeText() const;

signals:
    void seekRequested(double fraction);
    void volumeEdited(double position);

private:
    bool m_hasFile = false;
    QLabel* m_name = nullptr;
    QLabel* m_time = nullptr;
    QLabel* m_notice = nullptr;
    SeekBar* m_seek = nullptr;
    VolumeKnob* m_knob = nullptr;
    StereoLevelMeter* m_meter = nullptr;
    ProjectSyncControl* m_project = nullptr;
};

} // namespace kivo::app
