#include "app/SearchRunner.h"

#include <QMetaObject>

#include <exception>
#include <iostream>

namespace kivo::app {

SearchRunner::SearchRunner(QObject* parent)
    : QObject(parent)
    , m_thread([this] { run(); })
{
    qRegisterMetaType<organise::FilterResults>();
}

SearchRunner::~SearchRunner()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_pending.reset();
        m_running.cancel();
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
        m_running.cancel();
    }
    m_wake.notify_one();
    return number;
}

void SearchRunner::cancel()
{
    ++m_latest;
    std::lock_guard lock(m_mutex);
    m_pending.reset();
    m_running.cancel();
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
        index::CancelHandle cancel;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [&] { return m_stopping || m_pending; });
            if (m_stopping)
                return;
            request = std::move(*m_pending);
            m_pending.reset();
            m_running = cancel;
        }
        std::optional<organise::FilterResults> results;
        try {
            results = request.job(cancel);
        } catch (const std::exception& e) {
            std::cout << "Error searching: " << e.what() << std::endl;
            results = organise::FilterResults {};
        }
        {
            std::lock_guard lock(m_mutex);
            ++m_completed;
        }
        if (!results)
            continue;
        // Queued to this object: dropped with it when the runner goes away first.
        QMetaObject::invokeMethod(
            this,
            [this, number = request.number, query = request.query, results = std::move(*results)]() mutable {
                deliver(number, query, std::move(results));
            },
            Qt::QueuedConnection);
    }
}

void SearchRunner::deliver(quint64 number, const QString& query, organise::FilterResults results)
{
    if (number != m_latest)
        return;
    emit resultsReady(query, results);
}

} // namespace kivo::app
