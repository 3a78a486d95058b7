#include "DecodeWorker.h"

#include "AudioFilePlayer.h"

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

void DecodeWorker::add(AudioFilePlayer* player)
{
    {
        std::lock_guard lock(m_mutex);
        m_players.push_back(player);
        m_woken = true;
    }
    m_wake.notify_one();
}

void DecodeWorker::remove(AudioFilePlayer* player)
{
    // The worker decodes while holding the lock, so once we hold it the player is idle.
    std::lock_guard lock(m_mutex);
    m_players.erase(std::remove(m_players.begin(), m_players.end(), player), m_players.end());
}

void DecodeWorker::wake()
{
    // No lock: a wake-up lost to a race only costs the 2 ms idle timeout.
    m_woken.store(true);
    m_wake.notify_one();
}

void DecodeWorker::loop()
{
    std::unique_lock lock(m_mutex);
    while (!m_stopping) {
        bool busy = false;
        for (AudioFilePlayer* p : m_players)
            busy = p->decodeStep() || busy;
        if (busy) {
            // Let the main thread in between chunks (seeks, closing a player).
            lock.unlock();
            std::this_thread::yield();
            lock.lock();
            continue;
        }
        // Idle: the render side frees ring space every few milliseconds.
        m_wake.wait_for(lock, std::chrono::milliseconds(2), [this] { return m_woken.load(); });
        m_woken.store(false);
    }
}

} // namespace kivo::playback
