#pragma once

// The one way work leaves and returns to the main thread. post() queues a call to the main thread
// from anywhere; run() does work on a background thread and delivers its result on the main thread,
// unless it was cancelled or the object it was started for is gone by then. Work that may block for
// a long time (a stalled network share, a device that does not answer) only holds its own thread:
// threads are added while every one is busy, and an idle one ends after a few seconds.
//
// Work the user does not wait on from one moment to the next (scans, syncs, checks, saves) runs as
// background work, on threads of a lower system priority, so that the window and what it hands to
// its own threads (painting, image conversion) always go first on a busy machine.
//
// Quitting calls shutdown(): every task is cancelled, nothing more is delivered, and running work
// gets a bounded time to return. Work that blocks in the kernel past the bound is left behind, so
// the caller can flush what must be written and leave.

#include "platform/CancelHandle.h"

#include <QObject>
#include <QPointer>

#include <chrono>
#include <functional>
#include <memory>
#include <type_traits>
#include <utility>

namespace kivo::platform {

class TaskRunner {
public:
    // Built on the main thread, which it posts to.
    explicit TaskRunner(int maxThreads = 64);
    ~TaskRunner(); // shutdown() with the default bound
    TaskRunner(const TaskRunner&) = delete;
    TaskRunner& operator=(const TaskRunner&) = delete;

    static constexpr std::chrono::milliseconds kQuitBound { 1500 };

    enum class Priority { normal, background };

    // Calls `fn` on the main thread at its next turn (never before post() returns). With a
    // context, the call is dropped once the context is destroyed.
    void post(std::function<void()> fn);
    void post(QObject* context, std::function<void()> fn);
    // post() as a function that stays safe to call after the runner is gone (it then drops the call),
    // for objects that may outlive it.
    std::function<void(std::function<void()>)> poster() const;

    // Runs `work` (taking the cancel handle, or nothing) in the background; its result goes to
    // `done` on the main thread. `done` is skipped when the handle was cancelled before delivery or
    // when `context` is gone. Work not yet started when cancelled never starts.
    template <class Work, class Done>
    CancelHandle run(QObject* context, Work work, Done done, Priority priority = Priority::normal)
    {
        CancelHandle cancel;
        QPointer<QObject> guard(context);
        const bool guarded = context != nullptr;
        start(cancel, priority,
            [shared = m_shared, cancel, guard, guarded, work = std::move(work),
                done = std::move(done)]() mutable {
                using R = decltype(invokeWork(work, cancel));
                if constexpr (std::is_void_v<R>) {
                    invokeWork(work, cancel);
                    deliver(shared, [cancel, guard, guarded, done = std::move(done)]() mutable {
                        if (!cancel.isCancelled() && (!guarded || guard))
                            done();
                    });
                } else {
                    auto result = std::make_shared<R>(invokeWork(work, cancel));
                    deliver(shared, [cancel, guard, guarded, done = std::move(done), result]() mutable {
                        if (!cancel.isCancelled() && (!guarded || guard))
                            done(std::move(*result));
                    });
                }
            });
        return cancel;
    }

    // Background work with nothing to deliver.
    template <class Work> CancelHandle run(Work work, Priority priority = Priority::normal)
    {
        CancelHandle cancel;
        start(cancel, priority, [cancel, work = std::move(work)]() mutable { invokeWork(work, cancel); });
        return cancel;
    }

    // Cancels every task, stops delivering, and waits up to `bound` for running work. True when
    // nothing runs any more; false when some work is still blocked (its thread is left behind).
    bool shutdown(std::chrono::milliseconds bound = kQuitBound);
    bool isShutDown() const;

    // Background work running or waiting to start (tests).
    int pendingCount() const;
    int threadCount() const;
    // Waits until nothing runs or waits (tests; never on the main thread of the window).
    bool waitForIdle(std::chrono::milliseconds bound);

private:
    struct Shared;

    template <class Work> static auto invokeWork(Work& work, const CancelHandle& cancel)
    {
        if constexpr (std::is_invocable_v<Work&, const CancelHandle&>)
            return work(cancel);
        else
            return work();
    }
    void start(CancelHandle cancel, Priority priority, std::function<void()> job);
    // Queues `fn` to the main thread unless the runner was shut down (from any thread).
    static void deliver(const std::shared_ptr<Shared>& shared, std::function<void()> fn);

    std::shared_ptr<Shared> m_shared; // outlives the runner while left-behind work still holds it
    std::unique_ptr<QObject> m_receiver; // on the main thread: posts are queued to it
};

} // namespace kivo::platform
