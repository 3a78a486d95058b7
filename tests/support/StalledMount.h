#pragma once

// A mount that never answers, stood in for at the one call every question about a root goes through
// (no FUSE in the test environment): a stat of the stalled path blocks until released, as on a FUSE
// folder that stalls or a network share gone away. It counts the questions, and those asked on the
// main thread, which must be none; and from inside each stuck question it watches the main thread's
// event loop turn (a 1 ms timer there counts the turns): a window waiting on the question cannot turn
// (it waits the probe's whole bound), one that goes on does at once. Only atomics cross threads, so
// the thread checker sees every hand-over.

#include "platform/FolderBookmark.h"
#include "platform/PathProbe.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <string>
#include <sys/stat.h>
#include <thread>

namespace kivo::test {

struct StalledMount {
    static inline std::atomic<bool> released { false };
    static inline std::string path;
    static inline std::atomic<int> asks { 0 };
    static inline std::atomic<int> asksOnMainThread { 0 };
    static inline std::atomic<int> windowAnswered { 0 };
    static inline std::atomic<int> windowWaited { 0 };

    static inline std::atomic<int> turns { 0 };

    static bool windowAnswers()
    {
        // Two turns: the first may have begun before the question did.
        const int wanted = turns.load() + 2;
        // Well inside the probe's bound, which is as long as a waiting window could not turn.
        const auto deadline = std::chrono::steady_clock::now() + platform::PathProbe::kBound * 4 / 5;
        while (turns.load() < wanted && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return turns.load() >= wanted;
    }

    static int stat(const char* p, struct stat* out)
    {
        if (path == p) {
            ++asks;
            if (QThread::currentThread() == QCoreApplication::instance()->thread())
                ++asksOnMainThread;
            else
                ++(windowAnswers() ? windowAnswered : windowWaited);
            released.wait(false);
        }
        return ::stat(p, out);
    }
    explicit StalledMount(const QString& folder)
    {
        path = folder.toStdString();
        released = false;
        asks = 0;
        asksOnMainThread = 0;
        windowAnswered = 0;
        windowWaited = 0;
        m_turns.setInterval(1);
        QObject::connect(&m_turns, &QTimer::timeout, [] { ++turns; });
        m_turns.start();
        platform::FolderBookmark::setStatFunction(&StalledMount::stat);
    }
    // The share answers again; true once the questions stuck in it have returned.
    bool release()
    {
        released = true;
        released.notify_all();
        return waitFor([] { return !platform::PathProbe::isStalled(QString::fromStdString(path)); });
    }
    ~StalledMount()
    {
        release();
        platform::FolderBookmark::setStatFunction(nullptr);
    }

    QTimer m_turns; // main thread
};

} // namespace kivo::test
