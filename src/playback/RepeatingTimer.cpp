#include "RepeatingTimer.h"

namespace kivo::playback {

struct RepeatingTimer::State {
    platform::Clock* clock = nullptr;
    double interval = 0;
    std::function<void()> tick;
    std::shared_ptr<platform::Clock::Timer> pending;
    bool alive = true;
};

RepeatingTimer::RepeatingTimer(platform::Clock& clock, double interval, std::function<void()> tick)
    : m_state(std::make_shared<State>())
{
    m_state->clock = &clock;
    m_state->interval = interval;
    m_state->tick = std::move(tick);
    arm(m_state);
}

RepeatingTimer::~RepeatingTimer()
{
    m_state->alive = false;
    if (m_state->pending)
        m_state->pending->cancel();
}

void RepeatingTimer::arm(const std::shared_ptr<State>& state)
{
    std::weak_ptr<State> weak = state;
    state->pending = state->clock->after(state->interval, [weak] {
        auto s = weak.lock();
        if (!s || !s->alive)
            return;
        // Keep the state alive through a tick that destroys its own timer.
        std::function<void()> tick = s->tick;
        tick();
        if (s->alive)
            arm(s);
    });
}

} // namespace kivo::playback
