#include "platform/VolumeMonitor.h"

#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <fcntl.h>
#include <iterator>
#include <unistd.h>

namespace kivo::platform {

VolumeMonitor::VolumeMonitor(QObject* parent)
    : VolumeMonitor([] { return MountTable::read(); }, Watch::kernelEvents, parent)
{
}

VolumeMonitor::VolumeMonitor(TableSource source, Watch watch, QObject* parent)
    : QObject(parent)
    , m_source(std::move(source))
{
    if (auto table = m_source ? m_source() : std::nullopt) {
        m_mountPoints = table->mountPoints();
        m_table = std::move(*table);
    }
    startWatching(watch);
}

VolumeMonitor::~VolumeMonitor()
{
    stopWatching();
}

void VolumeMonitor::startWatching(Watch watch)
{
    if (watch == Watch::kernelEvents) {
        // The descriptor is only polled; every change is read through a fresh open, which keeps
        // the table consistent even if a read happens to race with a mount.
        m_fd = ::open(MountTable::kMountInfoPath, O_RDONLY | O_CLOEXEC);
        if (m_fd >= 0) {
            m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Exception, this);
            connect(m_notifier, &QSocketNotifier::activated, this, &VolumeMonitor::refresh);
            m_watch = Watch::kernelEvents;
            return;
        }
        watch = Watch::timer;
    }
    if (watch == Watch::timer) {
        m_timer = new QTimer(this);
        m_timer->setInterval(m_intervalMs);
        connect(m_timer, &QTimer::timeout, this, &VolumeMonitor::refresh);
        m_timer->start();
    }
    m_watch = watch;
}

void VolumeMonitor::stopWatching()
{
    delete m_notifier;
    m_notifier = nullptr;
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    delete m_timer;
    m_timer = nullptr;
}

void VolumeMonitor::setFallbackInterval(int milliseconds)
{
    m_intervalMs = std::max(1, milliseconds);
    if (m_timer)
        m_timer->setInterval(m_intervalMs);
}

QStringList VolumeMonitor::mountedVolumes() const
{
    QStringList list;
    list.reserve(qsizetype(m_mountPoints.size()));
    for (const auto& point : m_mountPoints)
        list.append(QString::fromStdString(point));
    return list;
}

bool VolumeMonitor::isMounted(const QString& path) const
{
    return m_mountPoints.count(path.toStdString()) != 0;
}

void VolumeMonitor::refresh()
{
    auto table = m_source ? m_source() : std::nullopt;
    if (!table)
        return;
    std::set<std::string> points = table->mountPoints();
    m_table = std::move(*table);
    if (points == m_mountPoints)
        return;

    std::vector<std::string> gone;
    std::vector<std::string> added;
    std::set_difference(
        m_mountPoints.begin(), m_mountPoints.end(), points.begin(), points.end(), std::back_inserter(gone));
    std::set_difference(
        points.begin(), points.end(), m_mountPoints.begin(), m_mountPoints.end(), std::back_inserter(added));
    // The state is current before anyone hears of it, so a slot may ask or refresh again.
    m_mountPoints = std::move(points);
    for (const auto& point : gone)
        emit volumeUnmounted(QString::fromStdString(point));
    for (const auto& point : added)
        emit volumeMounted(QString::fromStdString(point));
    emit volumesChanged();
}

} // namespace kivo::platform
