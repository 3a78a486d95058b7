#include "platform/TaskRunner.h"

#include "platform/MainThread.h"

#include <QCoreApplication>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <shared_mutex>
#include <thread>
#include <vector>

namespace kivo::platform {

namespace {
// An idle thread waits this long for more work before it ends.
constexpr std::chrono::seconds kIdleLinger { 3 };
// Background threads' niceness: the window's threads get about nine tenths of a core the two want.
// Threads they start (a scan's readers) inherit it.
constexpr int kBackgroundNice = 10;
} // namespace

struct TaskRunner::Shared {
    std::mutex mutex;
    std::condition_variable settled; // a task ended
    struct Job {
        CancelHandle cancel;
        std::function<void()> fn;
    };
    // One lane of threads per priority: a thread keeps the priority it starts with, since an
    // unprivileged thread cannot raise its priority again once lowered.
    struct Lane {
        std::deque<Job> queue;
        std::condition_variable wake; // work arrived, or shutting down
        int threads = 0;
        int idle = 0;
    };
    Lane lanes[2];
    std::vector<CancelHandle> running;
    int maxThreads = 1;
    bool shutDown = false;
    // Deliveries take only this lock, and only shared: a thread of the lowest priority (the
    // analyser) may be put off for a long time on a busy machine while it holds it, for it wakes
    // the main thread on the way; the main thread must never queue behind it to start work.
    // Taken exclusively when the runner shuts down and when the receiver goes.
    std::shared_mutex delivery;
    bool delivering = true; // under `delivery`
    QObject* receiver = nullptr; // under `delivery`

    int threads() const { return lanes[0].threads + lanes[1].threads; }
    std::size_t queued() const { return lanes[0].queue.size() + lanes[1].queue.size(); }
    void workerLoop(Priority priority);
};

void TaskRunner::Shared::workerLoop(Priority priority)
{
    if (priority == Priority::background)
        setpriority(PRIO_PROCESS, id_t(syscall(SYS_gettid)), kBackgroundNice);
    Lane& lane = lanes[int(priority)];
    std::unique_lock lock(mutex);
    for (;;) {
        ++lane.idle;
        const bool woken
            = lane.wake.wait_for(lock, kIdleLinger, [&] { return shutDown || !lane.queue.empty(); });
        --lane.idle;
        if (!woken || shutDown) {
            --lane.threads;
            settled.notify_all();
            return;
        }
        Job job = std::move(lane.queue.front());
        lane.queue.pop_front();
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
    std::lock_guard lock(m_shared->delivery);
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
    std::shared_lock lock(shared->delivery);
    if (!shared->delivering || !shared->receiver)
        return;
    queueCall(shared->receiver, std::move(fn));
}

void TaskRunner::start(CancelHandle cancel, Priority priority, std::function<void()> job)
{
    std::lock_guard lock(m_shared->mutex);
    if (m_shared->shutDown) {
        cancel.cancel();
        return;
    }
    Shared::Lane& lane = m_shared->lanes[int(priority)];
    lane.queue.push_back({ std::move(cancel), std::move(job) });
    // A thread blocked in the kernel is not idle: another one takes the work.
    if (lane.idle < int(lane.queue.size()) && m_shared->threads() < m_shared->maxThreads) {
        ++lane.threads;
        std::thread([shared = m_shared, priority] { shared->workerLoop(priority); }).detach();
    }
    lane.wake.notify_one();
}

bool TaskRunner::shutdown(std::chrono::milliseconds bound)
{
    {
        std::lock_guard stop(m_shared->delivery);
        m_shared->delivering = false;
    }
    std::unique_lock lock(m_shared->mutex);
    m_shared->shutDown = true;
    for (Shared::Lane& lane : m_shared->lanes) {
        for (auto& job : lane.queue)
            job.cancel.cancel();
        lane.queue.clear();
        lane.wake.notify_all();
    }
    for (const CancelHandle& c : m_shared->running)
        c.cancel();
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
    return int(m_shared->queued() + m_shared->running.size());
}

int TaskRunner::threadCount() const
{
    std::lock_guard lock(m_shared->mutex);
    return m_shared->threads();
}

bool TaskRunner::waitForIdle(std::chrono::milliseconds bound)
{
    std::unique_lock lock(m_shared->mutex);
    return m_shared->settled.wait_for(
        lock, bound, [&] { return m_shared->running.empty() && m_shared->queued() == 0; });
}

} // namespace kivo::platform
