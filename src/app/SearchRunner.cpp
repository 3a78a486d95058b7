#include "app/SearchRunner.h"

#include <QMetaObject>

#include <exception>
#include <iostream>

namespace kivo::app {

SearchRunner::SearchRunner(QObject* parent)
    : QObject(parent)
    , m_thread([this] { run(); })
{
    qRegisterMetaType<std::vector<index::FileInfo>>();
}

SearchRunner::~SearchRunner()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_pending.reset();
    }
    m_wake.notify_all();
    m_thread.join();
}

quint64 SearchRunner::submit(const QString& query, SearchJob job)
{
    const quint64 number = ++m_latest;
    {
        std::lock_guard lock(m_mutex);
        m_pending = Request { number, query, std::move(job) };
    }
    m_wake.notify_one();
    return number;
}

void SearchRunner::cancel()
{
    ++m_latest;
    std::lock_guard lock(m_mutex);
    m_pending.reset();
}

quint64 SearchRunner::completedCount() const
{
    std::lock_guard lock(m_mutex);
    return m_completed;
}

void SearchRunner::run()
{
    for (;;) {
        Request request;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [&] { return m_stopping || m_pending; });
            if (m_stopping)
                return;
            request = std::move(*m_pending);
            m_pending.reset();
        }
        std::vector<index::FileInfo> files;
        try {
            files = request.job();
        } catch (const std::exception& e) {
            std::cout << "Error searching: " << e.what() << std::endl;
        }
        {
            std::lock_guard lock(m_mutex);
            ++m_completed;
        }
        // Queued to this object: dropped with it when the runner goes away first.
        QMetaObject::invokeMethod(
            this,
            [this, number = request.number, query = request.query, files = std::move(files)]() mutable {
                deliver(number, query, std::move(files));
            },
            Qt::QueuedConnection);
    }
}

void SearchRunner::deliver(quint64 number, const QString& query, std::vector<index::FileInfo> files)
{
    if (number != m_latest)
        return;
    emit resultsReady(query, files);
}

} // namespace kivo::app
