#pragma once

// Shared between a background task and whoever may want to stop it; cancelling is a request the task
// honours at its next check.

#include <atomic>
#include <memory>

namespace kivo::platform {

class CancelHandle {
public:
    CancelHandle()
        : m_flag(std::make_shared<std::atomic<bool>>(false))
    {
    }
    void cancel() const { m_flag->store(true, std::memory_order_relaxed); }
    bool isCancelled() const { return m_flag->load(std::memory_order_relaxed); }
    // Copies of one handle belong to the same task.
    bool sameTask(const CancelHandle& other) const { return m_flag == other.m_flag; }

private:
    std::shared_ptr<std::atomic<bool>> m_flag;
};

} // namespace kivo::platform
