#include "index/SerialExecutor.h"

#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace kivo::index {

namespace {

// The thread is the executor's own for its whole life, so nothing undoes this.
void lowerPriority()
{
    sched_param none {};
    if (sched_setscheduler(0, SCHED_IDLE, &none) != 0)
        setpriority(PRIO_PROCESS, id_t(syscall(SYS_gettid)), 19);
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
    if (priority == WorkerPriority::background)
        lowerPriority();
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
