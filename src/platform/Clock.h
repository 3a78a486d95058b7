#pragma once

// Wall and monotonic time behind one interface, so timing rules (refresh intervals, cache ages,
// delays) are tested by moving a manual clock instead of sleeping.

#include <QObject>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

namespace kivo::platform {

class Clock {
public:
    virtual ~Clock() = default;
    // Seconds since 1970-01-01 UTC (the cache's lastUpdate and file dates use this scale).
    virtual double now() const = 0;
    // Seconds on a clock that never jumps; only differences are meaningful.
    virtual double monotonic() const = 0;
    // Runs `fn` on the main thread after `seconds` of monotonic time. Dropping the returned
    // handle does not cancel; calling cancel() does.
    class Timer {
    public:
        virtual ~Timer() = default;
        virtual void cancel() = 0;
    };
    virtual std::shared_ptr<Timer> after(double seconds, std::function<void()> fn) = 0;

    // The process's real clock.
    static Clock& system();
};

// A clock that moves only when told; due timers fire inside advance(), in due order.
class ManualClock : public Clock {
public:
    explicit ManualClock(double start = 1'800'000'000.0);
    double now() const override;
    double monotonic() const override;
    std::shared_ptr<Timer> after(double seconds, std::function<void()> fn) override;
    void advance(double seconds);
    void setNow(double wallSeconds); // moves wall time only

private:
    struct Pending;
    double m_wall;
    double m_mono = 0;
    std::vector<std::shared_ptr<Pending>> m_pending;
};

} // namespace kivo::platform
