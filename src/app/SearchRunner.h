#pragma once

// Runs the browser's searches in the background, one at a time. A new request replaces the one
// still waiting to start and cancels the one running, and only the newest request's results are
// published, on the main thread: typing fast never queues up stale searches, and an older result can
// never overwrite a newer one.

#include "index/SerialExecutor.h"
#include "organise/FilterResults.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace kivo::platform {
class TaskRunner;
}

namespace kivo::app {

// Returns none when it noticed the handle's cancellation before it was done.
using SearchJob = std::function<std::optional<organise::FilterResults>(const index::CancelHandle& cancel)>;

class SearchRunner : public QObject {
    Q_OBJECT
public:
    // Runs on `tasks`, which outlives the runner. Main thread only.
    explicit SearchRunner(platform::TaskRunner& tasks, QObject* parent = nullptr);
    ~SearchRunner() override;

    // Queues `job` for `query`, dropping a request that has not started yet. Returns its number.
    quint64 submit(const QString& query, SearchJob job);
    // Forgets every request: nothing submitted so far will be published.
    void cancel();
    quint64 latest() const { return m_latest; }
    // Requests that ran to the end (tests; from any thread).
    quint64 completedCount() const { return m_completed->load(); }

signals:
    void resultsReady(const QString& query, const kivo::organise::FilterResults& results);

private:
    struct Request {
        quint64 number = 0;
        QString query;
        SearchJob job;
    };

    void start(Request request);

    platform::TaskRunner& m_tasks;
    quint64 m_latest = 0;
    bool m_running = false;
    index::CancelHandle m_runningCancel; // of the request running in the background
    std::optional<Request> m_pending;
    std::shared_ptr<std::atomic<quint64>> m_completed = std::make_shared<std::atomic<quint64>>(0);
};

} // namespace kivo::app
