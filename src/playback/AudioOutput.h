#pragma once

// Where the engine's audio goes: the chosen output device (PortAudio's, through its callback API),
// or, with no usable device, a null output that pulls audio on a clock of its own. Every call into
// the sound system (initialising, listing, opening, closing) happens on the output's own device
// thread, since any of them can block (an ALSA plugin, a JACK server that does not answer): start,
// stop and a new choice only leave a request for it and return at once. The device thread also
// watches the stream: a device that is lost falls back to the default one and is taken back when it
// returns, and with no device at all it looks for one again every few seconds while the null output
// keeps time.

#include "OutputBackend.h"
#include "OutputDevice.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

namespace kivo::playback {

class AudioOutput {
public:
    static constexpr int kBufferFrames = OutputChoice::kDefaultBufferFrames;
    enum class Kind { None, Device, Null };

    // `render` runs on the audio thread; it must be real-time safe. `rateChanged` runs on the
    // device thread while nothing renders, before audio is pulled at a new rate.
    // Without a backend, PortAudio's.
    AudioOutput(std::function<void(float* stereo, int frames)> render,
        std::function<void(int rate)> rateChanged, std::unique_ptr<OutputBackend> backend = nullptr);
    ~AudioOutput(); // shutdown()

    // Closes the device and ends the device thread, waiting for it. Afterwards nothing renders,
    // nothing is reported and listing finds no devices: the output may be held (by a listing under
    // way) past the life of what its callbacks reach.
    void shutdown();

    // Any thread, never waits. The output runs from `rate` (the null output's rate until a device
    // opens at its own).
    void start(int rate);
    void stop();
    void setChoice(const OutputChoice& choice);
    OutputChoice choice() const;
    Kind kind() const { return m_kind.load(std::memory_order_acquire); }
    OutputStatus status() const;
    // The rate audio is pulled at: the open device's, or the null output's.
    int rate() const { return m_pulledRate.load(std::memory_order_acquire); }
    // Called on the device thread whenever status() changed.
    void setObserver(std::function<void()> observer);

    // Waits for the device thread to list the devices afresh: never call it on the main thread.
    std::vector<OutputDevice> listDevices();

private:
    struct Opened;
    void run();
    void refreshDevices();
    Opened openChosen(const std::string& lostName);
    bool openDevice(int index, int rate, int bufferFrames);
    void closeDevice();
    void startNull();
    void stopNull();
    void nullLoop();
    void setRate(int rate);
    void publish(OutputStatus status);
    bool deviceStalled();

    std::function<void(float*, int)> m_render;
    std::function<void(int)> m_rateChanged;
    std::atomic<Kind> m_kind { Kind::None };
    std::atomic<int> m_pulledRate { 48000 };

    // Requests, taken by the device thread; never held across a PortAudio call.
    mutable std::mutex m_requestMutex;
    std::condition_variable m_wake;
    bool m_quit = false;
    bool m_dirty = false;
    bool m_wantRunning = false;
    int m_startRate = 48000;
    OutputChoice m_wantChoice;
    uint64_t m_choiceSerial = 0;
    std::vector<std::promise<std::vector<OutputDevice>>> m_listRequests;

    mutable std::mutex m_statusMutex;
    OutputStatus m_status;
    std::function<void()> m_observer;

    // The device thread's own state.
    std::unique_ptr<OutputBackend> m_backend;
    bool m_running = false;
    int m_rate = 48000;
    OutputChoice m_choice;
    uint64_t m_appliedSerial = 0;
    bool m_streamOpen = false;
    std::string m_streamName;
    bool m_fellBack = false; // the chosen device is missing, lost or would not open
    std::string m_lostName; // the chosen device that was disconnected, while it stays away
    bool m_backendUsable = false;
    std::atomic<bool> m_deviceLost { false };
    std::atomic<uint64_t> m_callbacks { 0 };
    uint64_t m_seenCallbacks = 0;
    std::chrono::steady_clock::time_point m_lastProgress;
    std::chrono::steady_clock::time_point m_lastProbe;

    std::thread m_nullThread;
    std::atomic<bool> m_nullRunning { false };
    std::thread m_thread;
};

} // namespace kivo::playback
