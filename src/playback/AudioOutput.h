#pragma once

// Where the engine's audio goes: a PortAudio output device through its callback API,
// or, with no usable device, a null output that pulls audio on a clock of its own.
// A watchdog falls back to the null output when the device is lost and returns to a
// device when one appears again.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace kivo::playback {

class AudioOutput {
public:
    static constexpr int kBufferFrames = 256;
    enum class Kind { None, Device, Null };

    // `render` runs on the audio thread; it must be real-time safe.
    explicit AudioOutput(std::function<void(float* stereo, int frames)> render);
    ~AudioOutput();

    // Starts the output. `rate` 0 takes the device's preferred rate (48000 without a
    // device); a non-zero rate is kept. Returns the rate in use.
    int start(int rate);
    void stop();
    Kind kind() const { return m_kind.load(std::memory_order_acquire); }

    // PortAudio's callback (public for the C trampoline).
    int deviceCallback(float* out, unsigned long frames);
    void deviceFinished() { m_deviceLost.store(true, std::memory_order_release); }

private:
    bool openDevice(int& rate);
    void closeDevice();
    void startNull();
    void stopNull();
    void nullLoop();
    void watchLoop();

    std::function<void(float*, int)> m_render;
    std::atomic<Kind> m_kind { Kind::None };
    int m_rate = 0;
    void* m_stream = nullptr;
    bool m_paInitialised = false;
    std::atomic<bool> m_deviceLost { false };
    std::atomic<uint64_t> m_callbacks { 0 };

    std::thread m_nullThread;
    std::atomic<bool> m_nullRunning { false };

    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_watching = false;
    std::thread m_watchdog;
};

} // namespace kivo::playback
