#include "index/FileReadAhead.h"

#include <algorithm>
#include <chrono>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace kivo::index {

namespace {

// Waking a sleeping thread costs tens of microseconds on a virtual machine, about what the walk takes to
// list the next folder or a reader to finish a record. So whoever waits watches for a while first and
// only then sleeps; it yields while it watches, so that on a busy machine the thread it waits for runs.
constexpr auto kWatch = std::chrono::microseconds(100);

template <typename Ready> bool watchUntil(Ready ready)
{
    const auto until = std::chrono::steady_clock::now() + kWatch;
    do {
        for (int i = 0; i < 32; ++i) {
            if (ready())
                return true;
#if defined(__x86_64__) || defined(__i386__)
            _mm_pause();
#endif
        }
        std::this_thread::yield();
    } while (std::chrono::steady_clock::now() < until);
    return ready();
}

} // namespace

FileReadAhead::FileReadAhead(unsigned threads)
{
    m_threads.reserve(threads);
    for (unsigned i = 0; i < threads; ++i)
        m_threads.emplace_back([this] { run(); });
}

FileReadAhead::~FileReadAhead()
{
    discard();
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        ++m_submits;
    }
    m_work.notify_all();
    for (auto& thread : m_threads)
        thread.join();
}

void FileReadAhead::submit(std::vector<std::string>&& paths, FolderWork& work)
{
    if (paths.empty())
        return;
    {
        std::lock_guard lock(m_mutex);
        for (auto& path : paths)
            m_jobs.emplace_back(std::move(path), work);
        m_queued = m_jobs.size();
        ++m_submits;
    }
    paths.clear();
    m_work.notify_all();
}

FileReadAhead::Job* FileReadAhead::claim()
{
    while (m_unclaimed < m_jobs.size()) {
        Job& job = m_jobs[m_unclaimed++];
        // The walk may have made this one itself already.
        if (job.state == State::pending) {
            job.state = State::taken;
            return &job;
        }
    }
    return nullptr;
}

FileReadAhead::Job* FileReadAhead::claimLast()
{
    for (std::size_t i = m_jobs.size(); i > m_unclaimed; --i) {
        Job& job = m_jobs[i - 1];
        if (job.state == State::pending) {
            job.state = State::taken;
            return &job;
        }
    }
    return nullptr;
}

void FileReadAhead::finish(Job& job, FileRecord&& record)
{
    job.record = std::move(record);
    job.state = State::done;
}

void FileReadAhead::run()
{
    std::unique_lock lock(m_mutex);
    while (true) {
        if (!m_stopping && m_unclaimed >= m_jobs.size()) {
            const std::uint64_t seen = m_submits;
            lock.unlock();
            watchUntil([&] { return m_submits.load(std::memory_order_acquire) != seen; });
            lock.lock();
        }
        m_work.wait(lock, [this] { return m_stopping || m_unclaimed < m_jobs.size(); });
        if (m_stopping)
            return;
        Job* job = claim();
        if (!job)
            continue;
        lock.unlock();
        FileRecord record = job->work->make(job->path);
        lock.lock();
        finish(*job, std::move(record));
        m_done.notify_all();
    }
}

FileRecord FileReadAhead::next()
{
    std::unique_lock lock(m_mutex);
    Job& front = m_jobs.front();
    while (front.state != State::done) {
        if (front.state == State::pending) {
            front.state = State::taken;
            lock.unlock();
            FileRecord record = front.work->make(front.path);
            lock.lock();
            finish(front, std::move(record));
            break;
        }
        // A reader is on the oldest record: make the last one meanwhile rather than wait idle.
        if (Job* later = claimLast()) {
            lock.unlock();
            FileRecord record = later->work->make(later->path);
            lock.lock();
            finish(*later, std::move(record));
            continue;
        }
        lock.unlock();
        watchUntil([&] { return front.state.load(std::memory_order_acquire) == State::done; });
        lock.lock();
        m_done.wait(lock, [&] { return front.state == State::done; });
    }
    FileRecord record = std::move(front.record);
    m_jobs.pop_front();
    if (m_unclaimed > 0)
        --m_unclaimed;
    m_queued = m_jobs.size();
    return record;
}

void FileReadAhead::discard()
{
    std::unique_lock lock(m_mutex);
    for (auto& job : m_jobs)
        if (job.state == State::pending)
            job.state = State::done;
    m_done.wait(lock, [this] {
        return std::none_of(
            m_jobs.begin(), m_jobs.end(), [](const Job& job) { return job.state == State::taken; });
    });
    m_jobs.clear();
    m_unclaimed = 0;
    m_queued = 0;
}

} // namespace kivo::index
