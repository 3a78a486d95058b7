#include "index/SerialExecutor.h"

#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <map>

namespace kivo::index {

namespace {

// The threads at background priority, by executor: when one is destroyed its thread goes back to the
// normal policy, so that what it still has to finish does not hold up the one waiting for it (a
// quitting program) on a busy machine.
std::mutex g_backgroundMutex;
std::map<const SerialExecutor*, pid_t> g_backgroundThreads;

pid_t threadID()
{
    return pid_t(syscall(SYS_gettid));
}

// The idle policy where the system allows it, else the highest niceness.
void lowerPriority(const SerialExecutor* executor)
{
    sched_param none {};
    if (sched_setscheduler(0, SCHED_IDLE, &none) != 0) {
        setpriority(PRIO_PROCESS, id_t(threadID()), 19);
        return;
    }
    std::lock_guard lock(g_backgroundMutex);
    g_backgroundThreads[executor] = threadID();
}

void restorePriority(const SerialExecutor* executor)
{
    std::lock_guard lock(g_backgroundMutex);
    const auto found = g_backgroundThreads.find(executor);
    if (found == g_backgroundThreads.end())
        return;
    sched_param none {};
    sched_setscheduler(found->second, SCHED_OTHER, &none); // allowed: it was at nice 0 before
    g_backgroundThreads.erase(found);
}

} // namespace

SerialExecutor::SerialExecutor(WorkerPriority priority)
    : m_thread([this, priority] { loop(priority); })
{
}

SerialExecutor::~SerialExecutor()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    restorePriority(this);
    m_wake.notify_one();
    m_thread.join();
}

void SerialExecutor::post(std::function<void()> job)
{
    {
        std::lock_guard lock(m_mutex);
        m_jobs.push_back(std::move(job));
    }
    m_wake.notify_one();
}

void SerialExecutor::loop(WorkerPriority priority)
{
    if (priority == WorkerPriority::background) {
        // Not once the executor is going: the destructor would not see it to undo it.
        std::lock_guard lock(m_mutex);
        if (!m_stopping)
            lowerPriority(this);
    }
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
            if (m_jobs.empty())
                return;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        job();
    }
}

} // namespace kivo::index
