#pragma once

// Keeps the preview strip's waveform image for the file being previewed: at most one generation
// runs, tied to the current file. A new file cancels the running one and clears the image at once,
// so the strip never shows the waveform of another file; a finished generation is used only when
// it was not cancelled and its file is still the current one.

#include "platform/CancelHandle.h"

#include <QImage>
#include <QObject>
#include <QSizeF>
#include <QString>

#include <memory>

class QTimer;

namespace kivo::waveform {
struct WaveformImageResult;
}

namespace kivo::platform {
class TaskRunner;
}

namespace kivo::app {

class WaveformLoader : public QObject {
    Q_OBJECT
public:
    explicit WaveformLoader(platform::TaskRunner& tasks, QObject* parent = nullptr);
    ~WaveformLoader() override;

    // The file to draw; empty (or a file without a waveform, such as MIDI) for none.
    void setFile(const QString& path);
    // The image's size in points and pixels per point; the current file is drawn again, shortly
    // after the last change, when it differs from the image's.
    void setSize(QSizeF size, double scale);

    QString file() const { return m_file; }
    const QImage& image() const { return m_image; }
    // The file the image shows; always the current file when there is an image.
    QString imageFile() const { return m_imageFile; }
    bool isLoading() const { return m_task != nullptr; }

signals:
    // The image, or whether one is being made, changed.
    void changed();

private:
    struct Task;
    void start();
    void cancel();
    void finished(const std::shared_ptr<Task>& task, waveform::WaveformImageResult result);

    platform::TaskRunner& m_tasks;
    QString m_file;
    QSizeF m_size;
    double m_scale = 1;
    QImage m_image;
    QString m_imageFile;
    QSizeF m_imageSize;
    double m_imageScale = 0;
    std::shared_ptr<Task> m_task;
    platform::CancelHandle m_cancel;
    QTimer* m_resize = nullptr;
};

} // namespace kivo::app
