#include "platform/Clock.h"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cmath>

namespace kivo::platform {

namespace {

class FlagTimer : public Clock::Timer {
public:
    void cancel() override { m_cancelled->store(true); }
    std::shared_ptr<std::atomic<bool>> m_cancelled = std::make_shared<std::atomic<bool>>(false);
};

class SystemClock : public Clock {
public:
    double now() const override
    {
        using namespace std::chrono;
        return duration<double>(system_clock::now().time_since_epoch()).count();
    }
    double monotonic() const override
    {
        using namespace std::chrono;
        return duration<double>(steady_clock::now().time_since_epoch()).count();
    }
    std::shared_ptr<Timer> after(double seconds, std::function<void()> fn) override
    {
        auto timer = std::make_shared<FlagTimer>();
        QCoreApplication* app = QCoreApplication::instance();
        if (!app)
            return timer; // no event loop will ever run it
        const int ms = int(std::clamp(std::ceil(seconds * 1000.0), 0.0, 2.0e9));
        auto flag = timer->m_cancelled;
        // The application object lives on the main thread, so the call lands there.
        QTimer::singleShot(ms, Qt::PreciseTimer, app, [flag, fn = std::move(fn)] {
            if (!flag->load())
                fn();
        });
        return timer;
    }
};

} // namespace

Clock& Clock::system()
{
    static SystemClock clock;
    return clock;
}

struct ManualClock::Pending : Clock::Timer {
    double due = 0;
    quint64 order = 0;
    std::function<void()> fn;
    bool cancelled = false;
    void cancel() override { cancelled = true; }
};

ManualClock::ManualClock(double start)
    : m_wall(start)
{
}

double ManualClock::now() const
{
    return m_wall;
}

double ManualClock::monotonic() const
{
    return m_mono;
}

std::shared_ptr<Clock::Timer> ManualClock::after(double seconds, std::function<void()> fn)
{
    static quint64 counter = 0;
    auto p = std::make_shared<Pending>();
    p->due = m_mono + std::max(0.0, seconds);
    p->order = ++counter;
    p->fn = std::move(fn);
    m_pending.push_back(p);
    return p;
}

void ManualClock::advance(double seconds)
{
    const double target = m_mono + std::max(0.0, seconds);
    while (true) {
        m_pending.erase(std::remove_if(m_pending.begin(), m_pending.end(),
                            [](const std::shared_ptr<Pending>& p) { return p->cancelled; }),
            m_pending.end());
        auto next = std::min_element(m_pending.begin(), m_pending.end(), [](const auto& a, const auto& b) {
            return a->due != b->due ? a->due < b->due : a->order < b->order;
        });
        if (next == m_pending.end() || (*next)->due > target)
            break;
        std::shared_ptr<Pending> p = *next;
        m_pending.erase(next);
        m_wall += p->due - m_mono;
        m_mono = p->due;
        // A timer may schedule or cancel others; the loop looks again afterwards.
        p->fn();
    }
    m_wall += target - m_mono;
    m_mono = target;
}

void ManualClock::setNow(double wallSeconds)
{
    m_wall = wallSeconds;
}

} // namespace kivo::platform
