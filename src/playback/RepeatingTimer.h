#pragma once

// A repeating timer on a Clock, so tests drive it by advancing a manual clock. Destroying
// it (also from inside its own tick) stops it for good.

#include "platform/Clock.h"

#include <functional>
#include <memory>

namespace kivo::playback {

class RepeatingTimer {
public:
    RepeatingTimer(platform::Clock& clock, double interval, std::function<void()> tick);
    ~RepeatingTimer();
    RepeatingTimer(const RepeatingTimer&) = delete;
    RepeatingTimer& operator=(const RepeatingTimer&) = delete;

private:
    struct State;
    static void arm(const std::shared_ptr<State>& state);

    std::shared_ptr<State> m_state;
};

} // namespace kivo::playback
