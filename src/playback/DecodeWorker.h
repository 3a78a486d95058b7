#pragma once

// The audio engine's decoding thread: it decodes ahead for every open audio file player, so
// opening a preview never waits for a thread to be created. It holds its lock only to look at
// the list of sources, never while decoding: removing a source returns at once, and a source
// whose last step is still reading a slow disk is released by the worker when that step ends.

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace kivo::playback {

class DecodeSource {
public:
    virtual ~DecodeSource() = default;
    // One step of work; false when there is nothing to do until the consumer drains or seeks.
    virtual bool decodeStep() = 0;
};

class DecodeWorker {
public:
    DecodeWorker();
    ~DecodeWorker(); // stops the thread (after a step in progress)
    DecodeWorker(const DecodeWorker&) = delete;
    DecodeWorker& operator=(const DecodeWorker&) = delete;

    void add(std::shared_ptr<DecodeSource> source);
    // No step of the source starts after this returns; one in progress may still finish.
    void remove(const DecodeSource* source);
    void wake();

private:
    void loop();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::vector<std::shared_ptr<DecodeSource>> m_sources;
    uint64_t m_version = 0; // bumped by every change of m_sources
    bool m_woken = false;
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace kivo::playback
