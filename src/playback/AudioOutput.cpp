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
constexpr auto kWatchInterval = std::chrono::milliseconds(250);
constexpr int kNullFrames = OutputChoice::kDefaultBufferFrames;

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

// The output devices PortAudio knows now, with their PortAudio indices beside them.
std::vector<OutputDevice> paDevices(std::vector<PaDeviceIndex>& indices, int& defaultIndex)
{
    std::vector<OutputDevice> out;
    indices.clear();
    defaultIndex = -1;
    const PaDeviceIndex systemDefault = Pa_GetDefaultOutputDevice();
    const PaDeviceIndex count = Pa_GetDeviceCount();
    for (PaDeviceIndex i = 0; i < count; ++i) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
        if (!info || info->maxOutputChannels < 1)
            continue;
        const PaHostApiInfo* host = Pa_GetHostApiInfo(info->hostApi);
        OutputDevice device;
        device.hostApi = host && host->name ? host->name : "";
        device.name = info->name ? info->name : "";
        device.maxChannels = info->maxOutputChannels;
        device.defaultRate = info->defaultSampleRate;
        device.isDefault = i == systemDefault;
        if (device.isDefault)
            defaultIndex = int(out.size());
        out.push_back(std::move(device));
        indices.push_back(i);
    }
    return out;
}

} // namespace

struct AudioOutput::Opened {
    std::vector<OutputDevice> devices;
};

AudioOutput::AudioOutput(std::function<void(float*, int)> render, std::function<void(int)> rateChanged)
    : m_render(std::move(render))
    , m_rateChanged(std::move(rateChanged))
{
    snd_lib_error_set_handler(silentAlsa);
    m_thread = std::thread([this] { run(); });
}

AudioOutput::~AudioOutput()
{
    {
        std::lock_guard lock(m_requestMutex);
        m_quit = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void AudioOutput::start(int rate)
{
    {
        std::lock_guard lock(m_requestMutex);
        m_wantRunning = true;
        if (rate > 0)
            m_startRate = rate;
        m_dirty = true;
    }
    m_wake.notify_all();
}

void AudioOutput::stop()
{
    {
        std::lock_guard lock(m_requestMutex);
        m_wantRunning = false;
        m_dirty = true;
    }
    m_wake.notify_all();
}

void AudioOutput::setChoice(const OutputChoice& choice)
{
    {
        std::lock_guard lock(m_requestMutex);
        m_wantChoice = choice.normalised();
        ++m_choiceSerial;
        m_dirty = true;
    }
    m_wake.notify_all();
}

OutputChoice AudioOutput::choice() const
{
    std::lock_guard lock(m_requestMutex);
    return m_wantChoice;
}

OutputStatus AudioOutput::status() const
{
    std::lock_guard lock(m_statusMutex);
    return m_status;
}

void AudioOutput::setObserver(std::function<void()> observer)
{
    std::lock_guard lock(m_statusMutex);
    m_observer = std::move(observer);
}

std::vector<OutputDevice> AudioOutput::listDevices()
{
    std::future<std::vector<OutputDevice>> answer;
    {
        std::lock_guard lock(m_requestMutex);
        if (m_quit)
            return {};
        m_listRequests.emplace_back();
        answer = m_listRequests.back().get_future();
        m_dirty = true;
    }
    m_wake.notify_all();
    return answer.get();
}

int AudioOutput::deviceCallback(float* out, unsigned long frames)
{
    m_render(out, int(frames));
    m_callbacks.fetch_add(1, std::memory_order_relaxed);
    return paContinue;
}

void AudioOutput::publish(OutputStatus status)
{
    std::function<void()> observer;
    {
        std::lock_guard lock(m_statusMutex);
        if (status.device == m_status.device && status.hostApi == m_status.hostApi
            && status.name == m_status.name && status.rate == m_status.rate
            && status.bufferFrames == m_status.bufferFrames && status.message == m_status.message)
            return;
        m_status = std::move(status);
        observer = m_observer;
    }
    if (observer)
        observer();
}

void AudioOutput::refreshPortAudio()
{
    // A fresh initialisation is the only way PortAudio sees devices that came or went.
    MutedStderr muted;
    if (m_paInitialised)
        Pa_Terminate();
    m_paInitialised = Pa_Initialize() == paNoError;
}

void AudioOutput::setRate(int rate)
{
    if (rate == m_rate)
        return;
    m_rate = rate;
    if (m_rateChanged)
        m_rateChanged(rate);
}

bool AudioOutput::openDevice(int paIndex, int rate, int bufferFrames)
{
    MutedStderr muted;
    const PaDeviceInfo* info = Pa_GetDeviceInfo(paIndex);
    if (!info || info->maxOutputChannels < 2 || rate <= 0)
        return false;
    PaStreamParameters params {};
    params.device = paIndex;
    params.channelCount = 2;
    params.sampleFormat = paFloat32;
    // Asking for the buffer's own length as latency keeps the host's buffering near it.
    params.suggestedLatency = std::max(info->defaultLowOutputLatency, double(bufferFrames) / rate);
    if (Pa_IsFormatSupported(nullptr, &params, rate) != paFormatIsSupported)
        return false;
    // Nothing renders while the rate changes: the old stream is closed and the null output stopped.
    const int previousRate = m_rate;
    setRate(rate);
    PaStream* stream = nullptr;
    if (Pa_OpenStream(&stream, nullptr, &params, rate, bufferFrames, paNoFlag, paCallback, this)
        != paNoError) {
        setRate(previousRate);
        return false;
    }
    Pa_SetStreamFinishedCallback(stream, paFinished);
    m_deviceLost.store(false, std::memory_order_release);
    if (Pa_StartStream(stream) != paNoError) {
        Pa_CloseStream(stream);
        setRate(previousRate);
        return false;
    }
    m_stream = stream;
    m_streamName = info->name ? info->name : "";
    m_seenCallbacks = m_callbacks.load();
    m_lastProgress = Clock::now();
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
    m_kind.store(Kind::None, std::memory_order_release);
}

// Opens the chosen device, else the default one, else keeps time with the null output; says which
// in the status. `lostName` names a device that just stopped.
AudioOutput::Opened AudioOutput::openChosen(const std::string& lostName)
{
    stopNull();
    closeDevice();
    refreshPortAudio();
    Opened out;
    std::vector<PaDeviceIndex> indices;
    int defaultIndex = -1;
    if (m_paInitialised)
        out.devices = paDevices(indices, defaultIndex);
    const OutputResolution where = resolveOutput(out.devices, defaultIndex, m_choice);
    const int buffer = m_choice.bufferFrames;
    auto rateFor = [&](int index, bool chosenRate) {
        return chosenRate && m_choice.sampleRate > 0 ? m_choice.sampleRate
                                                     : int(out.devices[std::size_t(index)].defaultRate);
    };
    auto tryOpen = [&](int index) {
        if (index < 0)
            return false;
        // The chosen rate first; a device that will not take it (a JACK server) runs at its own.
        return openDevice(indices[std::size_t(index)], rateFor(index, true), buffer)
            || (m_choice.sampleRate > 0
                && openDevice(indices[std::size_t(index)], rateFor(index, false), buffer));
    };
    std::string message;
    bool opened = tryOpen(where.index);
    const bool fellBack = where.missing || (!opened && !m_choice.isSystemDefault());
    if (!opened && !m_choice.isSystemDefault() && where.index >= 0 && where.index != defaultIndex)
        opened = tryOpen(defaultIndex);
    if (!m_choice.isSystemDefault() && fellBack) {
        const bool silent = !opened;
        if (!lostName.empty())
            message = deviceLostMessage(lostName, silent);
        else if (where.missing)
            message = deviceMissingMessage(m_choice, silent);
        else
            message = deviceFailedMessage(m_choice, rateFor(where.index, true), silent);
    }
    if (!opened)
        startNull();
    m_lastProbe = Clock::now();
    OutputStatus status;
    status.device = opened;
    if (opened) {
        const int index = where.index >= 0 && m_streamName == out.devices[std::size_t(where.index)].name
            ? where.index
            : defaultIndex;
        status.hostApi = index >= 0 ? out.devices[std::size_t(index)].hostApi : "";
        status.name = m_streamName;
    }
    status.rate = m_rate;
    status.bufferFrames = buffer;
    status.message = std::move(message);
    publish(std::move(status));
    return out;
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
    m_kind.store(Kind::None, std::memory_order_release);
}

void AudioOutput::nullLoop()
{
    float buffer[kNullFrames * 2];
    const auto period = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(double(kNullFrames) / m_rate));
    auto next = Clock::now();
    while (m_nullRunning.load(std::memory_order_acquire)) {
        m_render(buffer, kNullFrames);
        next += period;
        auto now = Clock::now();
        if (now - next > std::chrono::milliseconds(200))
            next = now; // the machine was suspended or starved: do not race to catch up
        std::this_thread::sleep_until(next);
    }
}

bool AudioOutput::deviceStalled()
{
    const auto now = Clock::now();
    const uint64_t count = m_callbacks.load(std::memory_order_relaxed);
    if (count != m_seenCallbacks) {
        m_seenCallbacks = count;
        m_lastProgress = now;
    }
    return m_deviceLost.load(std::memory_order_acquire)
        || Pa_IsStreamActive(static_cast<PaStream*>(m_stream)) != 1 || now - m_lastProgress > kStallLimit;
}

void AudioOutput::run()
{
    std::unique_lock lock(m_requestMutex);
    while (true) {
        if (m_running)
            m_wake.wait_for(lock, kWatchInterval, [this] { return m_quit || m_dirty; });
        else
            m_wake.wait(lock, [this] { return m_quit || m_dirty; });
        if (m_quit)
            break;
        const bool want = m_wantRunning;
        const int startRate = m_startRate;
        const OutputChoice choice = m_wantChoice;
        const uint64_t serial = m_choiceSerial;
        auto lists = std::move(m_listRequests);
        m_listRequests.clear();
        m_dirty = false;
        lock.unlock();

        const bool newChoice = serial != m_appliedSerial;
        m_appliedSerial = serial;
        m_choice = choice;
        if (want && !m_running) {
            m_running = true;
            if (m_kind.load() == Kind::None)
                setRate(startRate);
            openChosen({});
        } else if (!want && m_running) {
            m_running = false;
            closeDevice();
            stopNull();
            publish({});
        } else if (m_running && newChoice) {
            openChosen({});
        }
        if (!lists.empty()) {
            // Listing afresh closes the stream for a moment; the null output keeps time meanwhile.
            std::vector<OutputDevice> devices;
            if (m_running) {
                devices = openChosen({}).devices;
            } else {
                refreshPortAudio();
                std::vector<PaDeviceIndex> indices;
                int defaultIndex = -1;
                if (m_paInitialised)
                    devices = paDevices(indices, defaultIndex);
            }
            for (auto& request : lists)
                request.set_value(devices);
        }
        if (m_running) {
            if (m_stream && deviceStalled()) {
                const std::string lost = m_choice.isSystemDefault() ? std::string() : m_streamName;
                openChosen(lost);
            } else if (!m_stream && Clock::now() - m_lastProbe > kProbeInterval) {
                openChosen({});
            }
        }
        lock.lock();
    }
    lock.unlock();
    closeDevice();
    stopNull();
    if (m_paInitialised)
        Pa_Terminate();
    std::lock_guard requests(m_requestMutex);
    for (auto& request : m_listRequests)
        request.set_value({});
}

} // namespace kivo::playback
