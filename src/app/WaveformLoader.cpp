#include "app/WaveformLoader.h"

#include "app/MIDIRegion.h"
#include "library/DiagnosticLog.h"
#include "waveform/PreviewWaveform.h"
#include "waveform/WaveformImageDrawer.h"

#include "platform/TaskRunner.h"

#include <QTimer>

namespace kivo::app {

namespace {

// How long the window's size must rest before the waveform is drawn again for it.
constexpr int kResizeSettleMs = 150;

} // namespace

struct WaveformLoader::Task {
    QString file;
    QSizeF size;
    double scale = 1;
};

WaveformLoader::WaveformLoader(platform::TaskRunner& tasks, QObject* parent)
    : QObject(parent)
    , m_tasks(tasks)
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
    m_cancel.cancel();
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
    m_cancel = m_tasks.run(
        this,
        [task](const platform::CancelHandle& cancel) {
            waveform::WaveformImageDrawer drawer;
            const waveform::LinearWaveformRenderer renderer;
            return drawer.waveformImage(task->file.toStdString(),
                waveform::previewWaveformConfiguration(task->size, task->scale), renderer,
                waveform::previewWaveformPosition(), [cancel] { return cancel.isCancelled(); });
        },
        [this, task](waveform::WaveformImageResult result) { finished(task, std::move(result)); });
}

void WaveformLoader::finished(const std::shared_ptr<Task>& task, waveform::WaveformImageResult result)
{
    // A cancelled generation never gets here; one for a file no longer current is dropped silently.
    if (task != m_task || task->file != m_file)
        return;
    m_task.reset();
    if (!result.ok()) {
        library::logLine(QStringLiteral("Failed to load waveform image: ")
            + QString::fromStdString(result.errorDescription()));
        m_image = {};
        m_imageFile.clear();
    } else {
        m_image = std::move(result.image);
        m_imageFile = task->file;
        m_imageSize = task->size;
        m_imageScale = task->scale;
    }
    emit changed();
}

} // namespace kivo::app
