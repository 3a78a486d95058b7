#pragma once

// A 5 ms repeating timer that records how late it fires: the longest lateness while something runs
// is the longest time the event loop (the window, in the program) could not answer.

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>

namespace kivo::test {

class EventLoopWatchdog {
public:
    static constexpr int kIntervalMs = 5;

    EventLoopWatchdog()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(kIntervalMs);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            m_longest = std::max(m_longest, double(now - m_last) / 1e6 - kIntervalMs);
            m_last = now;
        });
        m_clock.start();
        m_last = m_clock.nsecsElapsed();
        m_timer.start();
    }

    // Milliseconds past the interval of the latest tick so far.
    double longestStallMs() const { return std::max(m_longest, 0.0); }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    double m_longest = 0;
};

} // namespace kivo::test
