#include "platform/TaskRunner.h"

#include "platform/MainThread.h"

#include <QCoreApplication>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace kivo::platform {

namespace {
// An idle thread waits this long for more work before it ends.
constexpr std::chrono::seconds kIdleLinger { 3 };
} // namespace

struct TaskRunner::Shared {
    std::mutex mutex;
    std::condition_variable wake; // work arrived, or shutting down
    std::condition_variable settled; // a task ended
    struct Job {
        CancelHandle cancel;
        std::function<void()> fn;
    };
    std::deque<Job> queue;
    std::vector<CancelHandle> running;
    int threads = 0;
    int idle = 0;
    int maxThreads = 1;
    bool shutDown = false;
    QObject* receiver = nullptr;

    void workerLoop();
};

void TaskRunner::Shared::workerLoop()
{
    std::unique_lock lock(mutex);
    for (;;) {
        ++idle;
        const bool woken = wake.wait_for(lock, kIdleLinger, [&] { return shutDown || !queue.empty(); });
        --idle;
        if (!woken || shutDown) {
            --threads;
            settled.notify_all();
            return;
        }
        Job job = std::move(queue.front());
        queue.pop_front();
        if (job.cancel.isCancelled())
            continue;
        running.push_back(job.cancel);
        lock.unlock();
        job.fn();
        job.fn = nullptr; // captured state is released before the task counts as ended
        lock.lock();
        for (auto it = running.begin(); it != running.end(); ++it) {
            if (it->sameTask(job.cancel)) {
                running.erase(it);
                break;
            }
        }
        settled.notify_all();
    }
}

TaskRunner::TaskRunner(int maxThreads)
    : m_shared(std::make_shared<Shared>())
    , m_receiver(std::make_unique<QObject>())
{
    m_shared->maxThreads = std::max(1, maxThreads);
    m_shared->receiver = m_receiver.get();
}

TaskRunner::~TaskRunner()
{
    shutdown();
    std::lock_guard lock(m_shared->mutex);
    m_shared->receiver = nullptr;
}

void TaskRunner::post(std::function<void()> fn)
{
    deliver(m_shared, std::move(fn));
}

void TaskRunner::post(QObject* context, std::function<void()> fn)
{
    QPointer<QObject> guard(context);
    deliver(m_shared, [guard, fn = std::move(fn)] {
        if (guard)
            fn();
    });
}

std::function<void(std::function<void()>)> TaskRunner::poster() const
{
    return [shared = m_shared](std::function<void()> fn) { deliver(shared, std::move(fn)); };
}

void TaskRunner::deliver(const std::shared_ptr<Shared>& shared, std::function<void()> fn)
{
    std::lock_guard lock(shared->mutex);
    if (shared->shutDown || !shared->receiver)
        return;
    queueCall(shared->receiver, std::move(fn));
}

void TaskRunner::start(CancelHandle cancel, std::function<void()> job)
{
    std::lock_guard lock(m_shared->mutex);
    if (m_shared->shutDown) {
        cancel.cancel();
        return;
    }
    m_shared->queue.push_back({ std::move(cancel), std::move(job) });
    // A thread blocked in the kernel is not idle: another one takes the work.
    if (m_shared->idle < int(m_shared->queue.size()) && m_shared->threads < m_shared->maxThreads) {
        ++m_shared->threads;
        std::thread([shared = m_shared] { shared->workerLoop(); }).detach();
    }
    m_shared->wake.notify_one();
}

bool TaskRunner::shutdown(std::chrono::milliseconds bound)
{
    std::unique_lock lock(m_shared->mutex);
    m_shared->shutDown = true;
    for (auto& job : m_shared->queue)
        job.cancel.cancel();
    m_shared->queue.clear();
    for (const CancelHandle& c : m_shared->running)
        c.cancel();
    m_shared->wake.notify_all();
    return m_shared->settled.wait_for(lock, bound, [&] { return m_shared->running.empty(); });
}

bool TaskRunner::isShutDown() const
{
    std::lock_guard lock(m_shared->mutex);
    return m_shared->shutDown;
}

int TaskRunner::pendingCount() const
{
    std::lock_guard lock(m_shared->mutex);
    return int(m_shared->queue.size() + m_shared->running.size());
}

int TaskRunner::threadCount() const
{
    std::lock_guard lock(m_shared->mutex);
    return m_shared->threads;
}

bool TaskRunner::waitForIdle(std::chrono::milliseconds bound)
{
    std::unique_lock lock(m_shared->mutex);
    return m_shared->settled.wait_for(
        lock, bound, [&] { return m_shared->running.empty() && m_shared->queue.empty(); });
}

} // namespace kivo::platform
