#pragma once

// The small observable objects the preview views bind to. Each holds one value and
// notifies only when it really changes. Main thread only.

#include <QObject>
#include <QUrl>

namespace kivo::playback {

// The file loaded into the preview player; an empty URL when nothing is loaded.
class CurrentFile : public QObject {
    Q_OBJECT
    Q_PROPERTY(QUrl url READ url NOTIFY urlChanged)
public:
    using QObject::QObject;
    const QUrl& url() const { return m_url; }
    bool hasFile() const { return !m_url.isEmpty(); }
    QString path() const { return m_url.toLocalFile(); }
    void setUrl(const QUrl& url);

signals:
    void urlChanged();

private:
    QUrl m_url;
};

// Playback position as a fraction of the duration, 0 to 1.
class PlaybackProgress : public QObject {
    Q_OBJECT
    Q_PROPERTY(double progress READ progress NOTIFY progressChanged)
public:
    using QObject::QObject;
    double progress() const { return m_progress; }
    void setProgress(double progress);

signals:
    void progressChanged();

private:
    double m_progress = 0;
};

// Output meter levels 0 to 1 per side.
class StereoLevels : public QObject {
    Q_OBJECT
    Q_PROPERTY(float left READ left NOTIFY leftChanged)
    Q_PROPERTY(float right READ right NOTIFY rightChanged)
public:
    using QObject::QObject;
    float left() const { return m_left; }
    float right() const { return m_right; }
    void setLeft(float level);
    void setRight(float level);

signals:
    void leftChanged();
    void rightChanged();

private:
    float m_left = 0;
    float m_right = 0;
};

// The volume knob's position 0 to 1.
class VolumeControl : public QObject {
    Q_OBJECT
    Q_PROPERTY(float position READ position WRITE setPosition NOTIFY positionChanged)
public:
    using QObject::QObject;
    float position() const { return m_position; }
    void setPosition(float position);

signals:
    void positionChanged();

private:
    float m_position = 0.5f;
};

} // namespace kivo::playback
