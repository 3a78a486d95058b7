#include "AudioOutput.h"

#include <chrono>

namespace kivo::playback {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kProbeInterval = std::chrono::seconds(5);
constexpr auto kStallLimit = std::chrono::milliseconds(1500);
constexpr auto kWatchInterval = std::chrono::milliseconds(250);
constexpr int kNullFrames = OutputChoice::kDefaultBufferFrames;

} // namespace

struct AudioOutput::Opened {
    std::vector<OutputDevice> devices;
};

AudioOutput::AudioOutput(std::function<void(float*, int)> render, std::function<void(int)> rateChanged,
    std::unique_ptr<OutputBackend> backend)
    : m_render(std::move(render))
    , m_rateChanged(std::move(rateChanged))
    , m_backend(backend ? std::move(backend) : makePortAudioBackend())
{
    m_thread = std::thread([this] { run(); });
}

AudioOutput::~AudioOutput()
{
    shutdown();
}

void AudioOutput::shutdown()
{
    {
        std::lock_guard lock(m_requestMutex);
        m_quit = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
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

void AudioOutput::refreshDevices()
{
    m_streamOpen = false;
    m_backendUsable = m_backend->refresh();
}

void AudioOutput::setRate(int rate)
{
    if (rate == m_rate)
        return;
    m_rate = rate;
    m_pulledRate.store(rate, std::memory_order_release);
    if (m_rateChanged)
        m_rateChanged(rate);
}

bool AudioOutput::openDevice(int index, int rate, int bufferFrames)
{
    if (rate <= 0)
        return false;
    // Nothing renders while the rate changes: the old stream is closed and the null output stopped.
    const int previousRate = m_rate;
    setRate(rate);
    m_deviceLost.store(false, std::memory_order_release);
    const bool opened = m_backend->open(
        index, rate, bufferFrames,
        [this](float* out, int frames) {
            m_render(out, frames);
            m_callbacks.fetch_add(1, std::memory_order_relaxed);
        },
        [this] { m_deviceLost.store(true, std::memory_order_release); });
    if (!opened) {
        setRate(previousRate);
        return false;
    }
    int defaultIndex = -1;
    const std::vector<OutputDevice> devices = m_backend->devices(defaultIndex);
    m_streamOpen = true;
    m_streamName = index < int(devices.size()) ? devices[std::size_t(index)].name : std::string();
    m_seenCallbacks = m_callbacks.load();
    m_lastProgress = Clock::now();
    m_kind.store(Kind::Device, std::memory_order_release);
    return true;
}

void AudioOutput::closeDevice()
{
    if (!m_streamOpen)
        return;
    m_backend->close();
    m_streamOpen = false;
    m_kind.store(Kind::None, std::memory_order_release);
}

// Opens the chosen device, else the default one, else keeps time with the null output; says which
// in the status. `lostName` names a device that just stopped.
AudioOutput::Opened AudioOutput::openChosen(const std::string& lostName)
{
    stopNull();
    closeDevice();
    refreshDevices();
    Opened out;
    int defaultIndex = -1;
    if (m_backendUsable)
        out.devices = m_backend->devices(defaultIndex);
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
        return openDevice(index, rateFor(index, true), buffer)
            || (m_choice.sampleRate > 0 && openDevice(index, rateFor(index, false), buffer));
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
    m_fellBack = fellBack && !m_choice.isSystemDefault();
    m_lostName = m_fellBack ? lostName : std::string();
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
    return m_deviceLost.load(std::memory_order_acquire) || !m_backend->streamActive()
        || now - m_lastProgress > kStallLimit;
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
                refreshDevices();
                int defaultIndex = -1;
                if (m_backendUsable)
                    devices = m_backend->devices(defaultIndex);
            }
            for (auto& request : lists)
                request.set_value(devices);
        }
        if (m_running) {
            if (m_streamOpen && deviceStalled()) {
                // The chosen device stopped; the default one standing in for it only stopped too.
                const std::string lost
                    = m_choice.isSystemDefault() || m_fellBack ? std::string() : m_streamName;
                openChosen(lost);
            } else if (!m_streamOpen && Clock::now() - m_lastProbe > kProbeInterval) {
                openChosen({});
            } else if (m_fellBack && m_backend->devicesMayHaveChanged()) {
                // A device came: perhaps the chosen one, back again.
                openChosen(m_lostName);
            }
        }
        lock.lock();
    }
    lock.unlock();
    closeDevice();
    stopNull();
    m_backend.reset(); // the sound system is shut down on the thread that used it
    std::lock_guard requests(m_requestMutex);
    for (auto& request : m_listRequests)
        request.set_value({});
}

} // namespace kivo::playback
