#include "AudioOutput.h"

#include <alsa/asoundlib.h>
#include <portaudio.h>

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace kivo::playback {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kProbeInterval = std::chrono::seconds(5);
constexpr auto kStallLimit = std::chrono::milliseconds(1500);

// ALSA reports every missing card on stderr; having no card is normal here.
void silentAlsa(const char*, int, const char*, int, const char*, ...) { }

// Device probing (ALSA plugins, JACK) writes to stderr on machines without sound;
// those lines are noise, so stderr is muted just while PortAudio looks for devices.
class MutedStderr {
public:
    MutedStderr()
    {
        std::fflush(stderr);
        m_saved = dup(STDERR_FILENO);
        int devNull = ::open("/dev/null", O_WRONLY);
        if (devNull >= 0) {
            dup2(devNull, STDERR_FILENO);
            ::close(devNull);
        }
    }
    ~MutedStderr()
    {
        if (m_saved >= 0) {
            dup2(m_saved, STDERR_FILENO);
            ::close(m_saved);
        }
    }

private:
    int m_saved = -1;
};

int paCallback(const void*, void* output, unsigned long frames, const PaStreamCallbackTimeInfo*,
    PaStreamCallbackFlags, void* user)
{
    return static_cast<AudioOutput*>(user)->deviceCallback(static_cast<float*>(output), frames);
}

void paFinished(void* user)
{
    static_cast<AudioOutput*>(user)->deviceFinished();
}

} // namespace

AudioOutput::AudioOutput(std::function<void(float*, int)> render)
    : m_render(std::move(render))
{
    snd_lib_error_set_handler(silentAlsa);
}

AudioOutput::~AudioOutput()
{
    stop();
    if (m_paInitialised)
        Pa_Terminate();
}

int AudioOutput::deviceCallback(float* out, unsigned long frames)
{
    m_render(out, int(frames));
    m_callbacks.fetch_add(1, std::memory_order_relaxed);
    return paContinue;
}

bool AudioOutput::openDevice(int& rate)
{
    MutedStderr muted;
    if (m_paInitialised) {
        // A fresh initialisation is the only way PortAudio sees devices that came back.
        Pa_Terminate();
        m_paInitialised = false;
    }
    if (Pa_Initialize() != paNoError)
        return false;
    m_paInitialised = true;
    PaDeviceIndex device = Pa_GetDefaultOutputDevice();
    if (device == paNoDevice)
        return false;
    const PaDeviceInfo* info = Pa_GetDeviceInfo(device);
    if (!info || info->maxOutputChannels < 1)
        return false;
    double wanted = rate > 0 ? rate : info->defaultSampleRate;
    PaStreamParameters params {};
    params.device = device;
    params.channelCount = 2;
    params.sampleFormat = paFloat32;
    params.suggestedLatency = info->defaultLowOutputLatency;
    PaStream* stream = nullptr;
    if (Pa_OpenStream(&stream, nullptr, &params, wanted, kBufferFrames, paNoFlag, paCallback, this)
        != paNoError)
        return false;
    Pa_SetStreamFinishedCallback(stream, paFinished);
    m_deviceLost.store(false, std::memory_order_release);
    stopNull(); // only one output pulls audio at a time
    if (Pa_StartStream(stream) != paNoError) {
        Pa_CloseStream(stream);
        return false;
    }
    m_stream = stream;
    rate = int(wanted);
    m_kind.store(Kind::Device, std::memory_order_release);
    return true;
}

void AudioOutput::closeDevice()
{
    if (!m_stream)
        return;
    Pa_AbortStream(static_cast<PaStream*>(m_stream));
    Pa_CloseStream(static_cast<PaStream*>(m_stream));
    m_stream = nullptr;
}

void AudioOutput::startNull()
{
    if (m_nullRunning.exchange(true))
        return;
    m_kind.store(Kind::Null, std::memory_order_release);
    m_nullThread = std::thread([this] { nullLoop(); });
}

void AudioOutput::stopNull()
{
    if (!m_nullRunning.exchange(false))
        return;
    m_nullThread.join();
}

void AudioOutput::nullLoop()
{
    float buffer[kBufferFrames * 2];
    const auto period = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(double(kBufferFrames) / m_rate));
    auto next = Clock::now();
    while (m_nullRunning.load(std::memory_order_acquire)) {
        m_render(buffer, kBufferFrames);
        next += period;
        auto now = Clock::now();
        if (now - next > std::chrono::milliseconds(200))
            next = now; // the machine was suspended or starved: do not race to catch up
        std::this_thread::sleep_until(next);
    }
}

int AudioOutput::start(int rate)
{
    std::unique_lock lock(m_mutex);
    if (m_kind.load() != Kind::None)
        return m_rate;
    if (!openDevice(rate)) {
        closeDevice();
        m_rate = rate > 0 ? rate : 48000;
        startNull();
    } else {
        m_rate = rate;
    }
    m_watching = true;
    m_watchdog = std::thread([this] { watchLoop(); });
    return m_rate;
}

void AudioOutput::stop()
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_watching)
            return;
        m_watching = false;
    }
    m_wake.notify_all();
    m_watchdog.join();
    std::lock_guard lock(m_mutex);
    closeDevice();
    stopNull();
    m_kind.store(Kind::None, std::memory_order_release);
}

void AudioOutput::watchLoop()
{
    std::unique_lock lock(m_mutex);
    uint64_t lastCount = m_callbacks.load();
    auto lastProgress = Clock::now();
    auto lastProbe = Clock::now();
    while (m_watching) {
        m_wake.wait_for(lock, std::chrono::milliseconds(250), [this] { return !m_watching; });
        if (!m_watching)
            break;
        auto now = Clock::now();
        if (m_kind.load() == Kind::Device) {
            uint64_t count = m_callbacks.load(std::memory_order_relaxed);
            if (count != lastCount) {
                lastCount = count;
                lastProgress = now;
            }
            bool lost = m_deviceLost.load(std::memory_order_acquire)
                || Pa_IsStreamActive(static_cast<PaStream*>(m_stream)) != 1
                || now - lastProgress > kStallLimit;
            if (lost) {
                closeDevice();
                startNull();
                lastProbe = now;
            }
        } else if (now - lastProbe > kProbeInterval) {
            lastProbe = now;
            int rate = m_rate;
            if (openDevice(rate)) {
                lastCount = m_callbacks.load();
                lastProgress = now;
            } else {
                closeDevice();
                startNull();
            }
        }
    }
}

} // namespace kivo::playback
