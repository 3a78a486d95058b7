#include "DecodeWorker.h"

#include <sched.h>

#include <algorithm>
#include <chrono>

namespace kivo::playback {

DecodeWorker::DecodeWorker()
{
    m_thread = std::thread([this] { loop(); });
}

DecodeWorker::~DecodeWorker()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_woken = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

void DecodeWorker::add(std::shared_ptr<DecodeSource> source)
{
    {
        std::lock_guard lock(m_mutex);
        m_sources.push_back(std::move(source));
        ++m_version;
        m_woken = true;
    }
    m_wake.notify_one();
}

void DecodeWorker::remove(const DecodeSource* source)
{
    std::lock_guard lock(m_mutex);
    std::erase_if(m_sources, [source](const auto& s) { return s.get() == source; });
    ++m_version;
}

void DecodeWorker::wake()
{
    {
        std::lock_guard lock(m_mutex);
        m_woken = true;
    }
    m_wake.notify_one();
}

void DecodeWorker::loop()
{
    // Decoding ahead never cuts in front of the thread that is starting a preview: woken while the
    // processor is busy, the worker waits for that thread's turn to end instead of taking it over.
    // Its share of the processor stays that of any thread, so a busy machine does not starve it.
    sched_param none {};
    sched_setscheduler(0, SCHED_BATCH, &none);
    std::vector<std::shared_ptr<DecodeSource>> sources;
    std::unique_lock lock(m_mutex);
    while (!m_stopping) {
        sources = m_sources;
        const uint64_t version = m_version;
        m_woken = false;
        lock.unlock();
        bool busy = false;
        for (const auto& source : sources) {
            busy = source->decodeStep() || busy;
            // A source removed meanwhile gets no further step.
            std::lock_guard check(m_mutex);
            if (m_version != version)
                break;
        }
        // A removed source is released here, outside the lock.
        sources.clear();
        lock.lock();
        if (busy || m_woken)
            continue;
        // Idle: the render side frees ring space every few milliseconds.
        m_wake.wait_for(lock, std::chrono::milliseconds(2), [this] { return m_woken; });
    }
}

} // namespace kivo::playback
