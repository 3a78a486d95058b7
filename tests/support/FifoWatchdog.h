#pragma once

// A FIFO that a test hands to code that must never open it. Opening a FIFO for reading blocks
// until a writer comes, so code that does would hang the test for good; after `patience` the
// watchdog plays the writer (opens and closes the FIFO), which unblocks any reader, and records
// that it had to.

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kivo::test {

class FifoWatchdog {
public:
    FifoWatchdog(std::string path, std::chrono::seconds patience)
        : m_path(std::move(path))
    {
        m_made = ::mkfifo(m_path.c_str(), 0600) == 0;
        m_thread = std::thread([this, patience] {
            const auto deadline = std::chrono::steady_clock::now() + patience;
            while (!m_stop.load() && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            // Anything blocked opening the FIFO gets a writer that goes away at once.
            while (!m_stop.load()) {
                const int fd = ::open(m_path.c_str(), O_WRONLY | O_NONBLOCK);
                if (fd >= 0) {
                    m_fired.store(true);
                    ::close(fd);
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
    }
    ~FifoWatchdog() { stop(); }

    bool made() const { return m_made; }
    const std::string& path() const { return m_path; }
    // True when something had opened the FIFO for reading.
    bool stop()
    {
        m_stop.store(true);
        if (m_thread.joinable())
            m_thread.join();
        return m_fired.load();
    }

private:
    std::string m_path;
    bool m_made = false;
    std::atomic<bool> m_stop { false };
    std::atomic<bool> m_fired { false };
    std::thread m_thread;
};

// An HLS playlist naming one local file as its only segment: 93 bytes or so that make a
// demuxer left to probe on its own open whatever the playlist names.
inline std::string hlsPlaylistNaming(const std::string& target)
{
    return "#EXTM3U\n#EXT-X-TARGETDURATION:10\n#EXTINF:10,\n" + target + "\n#EXT-X-ENDLIST\n";
}

} // namespace kivo::test
