#include "app/WaveformLoader.h"

#include "app/MIDIRegion.h"
#include "library/DiagnosticLog.h"
#include "waveform/PreviewWaveform.h"
#include "waveform/WaveformImageDrawer.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThreadPool>
#include <QTimer>

#include <functional>

namespace kivo::app {

namespace {

// How long the window's size must rest before the waveform is drawn again for it.
constexpr int kResizeSettleMs = 150;

// Runs `work` off the main thread and `done` on it afterwards, as the MIDI region is read.
void runInBackground(std::function<void()> work, std::function<void()> done)
{
    QThreadPool::globalInstance()->start([work = std::move(work), done = std::move(done)]() mutable {
        work();
        QMetaObject::invokeMethod(qApp, std::move(done), Qt::QueuedConnection);
    });
}

} // namespace

struct WaveformLoader::Task {
    QString file;
    QSizeF size;
    double scale = 1;
    std::atomic<bool> cancelled { false };
    waveform::WaveformImageResult result; // written by the background work before `done`
};

WaveformLoader::WaveformLoader(QObject* parent)
    : QObject(parent)
    , m_resize(new QTimer(this))
{
    m_resize->setSingleShot(true);
    m_resize->setInterval(kResizeSettleMs);
    connect(m_resize, &QTimer::timeout, this, [this] {
        if (!m_file.isEmpty() && (m_size != m_imageSize || m_scale != m_imageScale))
            start();
    });
}

WaveformLoader::~WaveformLoader()
{
    cancel();
}

void WaveformLoader::setFile(const QString& path)
{
    const QString file = path.isEmpty() || isMIDIPath(path) ? QString() : path;
    if (file == m_file && (m_task || !m_image.isNull()))
        return;
    cancel();
    m_file = file;
    m_image = {};
    m_imageFile.clear();
    m_imageSize = {};
    if (!m_file.isEmpty())
        start();
    emit changed();
}

void WaveformLoader::setSize(QSizeF size, double scale)
{
    if (size == m_size && scale == m_scale)
        return;
    m_size = size;
    m_scale = scale;
    if (m_file.isEmpty())
        return;
    // The first size of a file is drawn at once; later ones once the resizing rests.
    if (m_image.isNull() && !m_task)
        start();
    else
        m_resize->start();
}

void WaveformLoader::cancel()
{
    if (m_task)
        m_task->cancelled.store(true, std::memory_order_relaxed);
    m_task.reset();
    m_resize->stop();
}

void WaveformLoader::start()
{
    cancel();
    if (m_file.isEmpty() || m_size.width() < 1 || m_size.height() < 1)
        return;
    auto task = std::make_shared<Task>();
    task->file = m_file;
    task->size = m_size;
    task->scale = m_scale;
    m_task = task;
    QPointer<WaveformLoader> self(this);
    runInBackground(
        [task] {
            waveform::WaveformImageDrawer drawer;
            const waveform::LinearWaveformRenderer renderer;
            task->result = drawer.waveformImage(task->file.toStdString(),
                waveform::previewWaveformConfiguration(task->size, task->scale), renderer,
                waveform::previewWaveformPosition(),
                [task] { return task->cancelled.load(std::memory_order_relaxed); });
        },
        [self, task] {
            if (self)
                self->finished(task);
        });
}

void WaveformLoader::finished(const std::shared_ptr<Task>& task)
{
    // A cancelled generation, or one for a file no longer current, is dropped silently.
    if (task->cancelled.load(std::memory_order_relaxed) || task != m_task || task->file != m_file)
        return;
    m_task.reset();
    if (!task->result.ok()) {
        library::logLine(QStringLiteral("Failed to load waveform image: ")
            + QString::fromStdString(task->result.errorDescription()));
        m_image = {};
        m_imageFile.clear();
    } else {
        m_image = task->result.image;
        m_imageFile = task->file;
        m_imageSize = task->size;
        m_imageScale = task->scale;
    }
    emit changed();
}

} // namespace kivo::app
