#pragma once

// Runs the browser's searches on a thread of their own, one at a time. A new request replaces the
// one still waiting to start and cancels the one running, and only the newest request's results are
// published, on the main thread: typing fast never queues up stale searches, and an older result can
// never overwrite a newer one.

#include "index/SerialExecutor.h"
#include "organise/FilterResults.h"

#include <QObject>
#include <QString>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace kivo::app {

// Returns none when it noticed the handle's cancellation before it was done.
using SearchJob = std::function<std::optional<organise::FilterResults>(const index::CancelHandle& cancel)>;

class SearchRunner : public QObject {
    Q_OBJECT
public:
    explicit SearchRunner(QObject* parent = nullptr);
    ~SearchRunner() override;

    // Queues `job` for `query`, dropping a request that has not started yet. Returns its number.
    quint64 submit(const QString& query, SearchJob job);
    // Forgets every request: nothing submitted so far will be published.
    void cancel();
    quint64 latest() const { return m_latest; }
    // Requests that ran to the end on the search thread (tests).
    quint64 completedCount() const;

signals:
    void resultsReady(const QString& query, const kivo::organise::FilterResults& results);

private:
    struct Request {
        quint64 number = 0;
        QString query;
        SearchJob job;
    };

    void run();
    void deliver(quint64 number, const QString& query, organise::FilterResults results);

    quint64 m_latest = 0; // main thread
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::optional<Request> m_pending;
    index::CancelHandle m_running; // of the request on the search thread
    quint64 m_completed = 0;
    bool m_stopping = false;
    std::thread m_thread; // last: started once everything above exists
};

} // namespace kivo::app
