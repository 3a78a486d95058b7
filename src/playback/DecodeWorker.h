#pragma once

// The audio engine's decoding thread: it decodes ahead for every open audio file player, so
// opening a preview never waits for a thread to be created.

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace kivo::playback {

class AudioFilePlayer;

class DecodeWorker {
public:
    DecodeWorker();
    ~DecodeWorker(); // stops the thread; every player has been removed by then
    DecodeWorker(const DecodeWorker&) = delete;
    DecodeWorker& operator=(const DecodeWorker&) = delete;

    void add(AudioFilePlayer* player);
    // Returns once the worker no longer touches the player.
    void remove(AudioFilePlayer* player);
    void wake();

private:
    void loop();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::vector<AudioFilePlayer*> m_players;
    std::atomic<bool> m_woken { false };
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace kivo::playback
