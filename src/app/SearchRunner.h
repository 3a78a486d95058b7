#pragma once

// Runs the browser's searches on a thread of their own, one at a time. A new request replaces the
// one still waiting to start, and only the newest request's results are published, on the main
// thread: typing fast never queues up stale searches, and an older result can never overwrite a
// newer one.

#include "index/IndexRecords.h"

#include <QObject>
#include <QString>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace kivo::app {

using SearchJob = std::function<std::vector<index::FileInfo>()>;

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
    void resultsReady(const QString& query, const std::vector<kivo::index::FileInfo>& files);

private:
    struct Request {
        quint64 number = 0;
        QString query;
        SearchJob job;
    };

    void run();
    void deliver(quint64 number, const QString& query, std::vector<index::FileInfo> files);

    quint64 m_latest = 0; // main thread
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::optional<Request> m_pending;
    quint64 m_completed = 0;
    bool m_stopping = false;
    std::thread m_thread; // last: started once everything above exists
};

} // namespace kivo::app
