#include "app/SearchRunner.h"

#include "platform/MainThread.h"
#include "platform/TaskRunner.h"

#include <exception>
#include <iostream>

namespace kivo::app {

SearchRunner::SearchRunner(platform::TaskRunner& tasks, QObject* parent)
    : QObject(parent)
    , m_tasks(tasks)
{
    qRegisterMetaType<organise::FilterResults>();
}

SearchRunner::~SearchRunner()
{
    m_runningCancel.cancel();
}

quint64 SearchRunner::submit(const QString& query, SearchJob job)
{
    KIVO_MAIN_THREAD();
    const quint64 number = ++m_latest;
    Request request { number, query, std::move(job) };
    if (m_running) {
        m_pending = std::move(request);
        m_runningCancel.cancel();
    } else {
        start(std::move(request));
    }
    return number;
}

void SearchRunner::cancel()
{
    KIVO_MAIN_THREAD();
    ++m_latest;
    m_pending.reset();
    m_runningCancel.cancel();
}

void SearchRunner::start(Request request)
{
    m_running = true;
    // The search's own handle, not the task's: a cancelled search still reports back, so the next
    // one starts.
    m_runningCancel = index::CancelHandle();
    m_tasks.run(
        this,
        [job = std::move(request.job), cancel = m_runningCancel, completed = m_completed] {
            std::optional<organise::FilterResults> results;
            try {
                results = job(cancel);
            } catch (const std::exception& e) {
                std::cout << "Error searching: " << e.what() << std::endl;
                results = organise::FilterResults {};
            }
            ++*completed;
            return results;
        },
        [this, number = request.number, query = request.query](
            std::optional<organise::FilterResults> results) {
            m_running = false;
            if (results && number == m_latest)
                emit resultsReady(query, *results);
            if (m_pending) {
                Request next = std::move(*m_pending);
                m_pending.reset();
                start(std::move(next));
            }
        });
}

} // namespace kivo::app
