#include "OutputBackend.h"

#include <alsa/asoundlib.h>
#include <portaudio.h>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace kivo::playback {

namespace {

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
    MutedStderr(const MutedStderr&) = delete;
    MutedStderr& operator=(const MutedStderr&) = delete;

private:
    int m_saved = -1;
};

class PortAudioBackend final : public OutputBackend {
public:
    PortAudioBackend()
    {
        snd_lib_error_set_handler(silentAlsa);
        // A sound card plugged in or out adds or removes its nodes under /dev/snd; without that
        // folder (no card yet) the first card's arrival creates it.
        m_watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (m_watch >= 0 && inotify_add_watch(m_watch, "/dev/snd", IN_CREATE | IN_DELETE) < 0)
            inotify_add_watch(m_watch, "/dev", IN_CREATE | IN_DELETE | IN_ONLYDIR);
    }
    ~PortAudioBackend() override
    {
        close();
        if (m_initialised)
            Pa_Terminate();
        if (m_watch >= 0)
            ::close(m_watch);
    }
    PortAudioBackend(const PortAudioBackend&) = delete;
    PortAudioBackend& operator=(const PortAudioBackend&) = delete;

    bool refresh() override
    {
        close();
        devicesMayHaveChanged(); // what came before this look is seen by it
        // A fresh initialisation is the only way PortAudio sees devices that came or went.
        MutedStderr muted;
        if (m_initialised)
            Pa_Terminate();
        m_initialised = Pa_Initialize() == paNoError;
        m_devices.clear();
        m_indices.clear();
        m_default = -1;
        if (!m_initialised)
            return false;
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
                m_default = int(m_devices.size());
            m_devices.push_back(std::move(device));
            m_indices.push_back(i);
        }
        return true;
    }

    std::vector<OutputDevice> devices(int& defaultIndex) override
    {
        defaultIndex = m_default;
        return m_devices;
    }

    bool open(int index, int rate, int bufferFrames, Render render, Finished finished) override
    {
        close();
        if (!m_initialised || index < 0 || index >= int(m_indices.size()) || rate <= 0)
            return false;
        MutedStderr muted;
        const PaDeviceInfo* info = Pa_GetDeviceInfo(m_indices[std::size_t(index)]);
        if (!info || info->maxOutputChannels < 2)
            return false;
        PaStreamParameters params {};
        params.device = m_indices[std::size_t(index)];
        params.channelCount = 2;
        params.sampleFormat = paFloat32;
        // Asking for the buffer's own length as latency keeps the host's buffering near it.
        params.suggestedLatency = std::max(info->defaultLowOutputLatency, double(bufferFrames) / rate);
        if (Pa_IsFormatSupported(nullptr, &params, rate) != paFormatIsSupported)
            return false;
        m_render = std::move(render);
        m_finished = std::move(finished);
        PaStream* stream = nullptr;
        if (Pa_OpenStream(&stream, nullptr, &params, rate, bufferFrames, paNoFlag, callback, this)
            != paNoError)
            return false;
        Pa_SetStreamFinishedCallback(stream, streamFinished);
        if (Pa_StartStream(stream) != paNoError) {
            Pa_CloseStream(stream);
            return false;
        }
        m_stream = stream;
        return true;
    }

    void close() override
    {
        if (!m_stream)
            return;
        Pa_AbortStream(m_stream);
        Pa_CloseStream(m_stream);
        m_stream = nullptr;
    }

    bool streamActive() override { return m_stream && Pa_IsStreamActive(m_stream) == 1; }

    bool devicesMayHaveChanged() override
    {
        if (m_watch < 0)
            return false;
        bool changed = false;
        alignas(inotify_event) char buffer[4096];
        while (read(m_watch, buffer, sizeof buffer) > 0)
            changed = true;
        return changed;
    }

private:
    static int callback(const void*, void* output, unsigned long frames, const PaStreamCallbackTimeInfo*,
        PaStreamCallbackFlags, void* user)
    {
        static_cast<PortAudioBackend*>(user)->m_render(static_cast<float*>(output), int(frames));
        return paContinue;
    }
    static void streamFinished(void* user)
    {
        auto* self = static_cast<PortAudioBackend*>(user);
        if (self->m_finished)
            self->m_finished();
    }

    bool m_initialised = false;
    std::vector<OutputDevice> m_devices;
    std::vector<PaDeviceIndex> m_indices;
    int m_default = -1;
    PaStream* m_stream = nullptr;
    Render m_render;
    Finished m_finished;
    int m_watch = -1;
};

} // namespace

std::unique_ptr<OutputBackend> makePortAudioBackend()
{
    return std::make_unique<PortAudioBackend>();
}

} // namespace kivo::playback
