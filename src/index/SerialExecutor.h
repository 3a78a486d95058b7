#pragma once

// One worker thread running submitted jobs one at a time, in submission order. The index store runs
// all of its operations here, which is what makes them exclusive without a lock around every map.

#include "platform/CancelHandle.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <type_traits>
#include <utility>

namespace kivo::index {

using CancelHandle = platform::CancelHandle;

// How the worker's thread competes for the processor.
enum class WorkerPriority {
    normal,
    // Runs only when nothing else wants a core (the idle policy, else the highest niceness): for work
    // nobody waits on, which must not slow the window or a search on a busy machine.
    background,
};

class SerialExecutor {
public:
    explicit SerialExecutor(WorkerPriority priority = WorkerPriority::normal);
    ~SerialExecutor(); // runs what is queued, then stops
    SerialExecutor(const SerialExecutor&) = delete;
    SerialExecutor& operator=(const SerialExecutor&) = delete;

    void post(std::function<void()> job);
    bool isWorkerThread() const { return std::this_thread::get_id() == m_thread.get_id(); }

    // Runs `fn` on the worker and returns its future result.
    template <class F> auto submit(F&& fn) -> std::future<std::invoke_result_t<F>>
    {
        using R = std::invoke_result_t<F>;
        auto task = std::make_shared<std::packaged_task<R()>>(std::forward<F>(fn));
        auto future = task->get_future();
        post([task] { (*task)(); });
        return future;
    }

    // Runs `fn` on the worker and waits for it; called on the worker itself it runs at once, so an
    // operation may use other operations.
    template <class F> auto run(F&& fn) -> std::invoke_result_t<F>
    {
        if (isWorkerThread())
            return fn();
        return submit(std::forward<F>(fn)).get();
    }

private:
    void loop(WorkerPriority priority);

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_jobs;
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace kivo::index
