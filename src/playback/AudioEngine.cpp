#include "AudioEngine.h"

#include "AudioFilePlayer.h"
#include "AudioOutput.h"

#include <algorithm>
#include <thread>

namespace kivo::playback {

namespace {
constexpr int kMaxBlock = 4096;
}

AudioEngine::AudioEngine(std::unique_ptr<OutputBackend> backend)
    : m_samplerBus(kMaxBlock * 2)
    , m_output(std::make_shared<AudioOutput>([this](float* out, int frames) { render(out, frames); },
          [this](int rate) { outputRateChanged(rate); }, std::move(backend)))
{
    m_sampler.setSampleRate(sampleRate());
}

AudioEngine::~AudioEngine()
{
    stop();
    // Its callbacks reach this engine: they end here even while someone still holds the output.
    if (m_output)
        m_output->shutdown();
}

void AudioEngine::useOfflineRendering(int sampleRate)
{
    if (isRunning())
        return;
    m_offline = true;
    if (m_output)
        m_output->shutdown();
    m_output.reset();
    if (sampleRate > 0) {
        m_sampleRate.store(sampleRate, std::memory_order_relaxed);
        m_sampler.setSampleRate(sampleRate);
    }
}

AudioEngine::OutputKind AudioEngine::outputKind() const
{
    if (!isRunning())
        return OutputKind::None;
    if (m_offline)
        return OutputKind::Offline;
    return m_output && m_output->kind() == AudioOutput::Kind::Device ? OutputKind::Device : OutputKind::Null;
}

std::optional<std::string> AudioEngine::start()
{
    if (isRunning())
        return std::nullopt;
    m_running.store(true, std::memory_order_release);
    if (m_output)
        m_output->start(sampleRate());
    return std::nullopt;
}

void AudioEngine::setOutputChoice(const OutputChoice& choice)
{
    if (m_output)
        m_output->setChoice(choice);
}

OutputStatus AudioEngine::outputStatus() const
{
    return m_output ? m_output->status() : OutputStatus {};
}

void AudioEngine::setOutputObserver(std::function<void()> observer)
{
    if (m_output)
        m_output->setObserver(std::move(observer));
}

std::vector<OutputDevice> AudioEngine::listOutputDevices()
{
    return m_output ? m_output->listDevices() : std::vector<OutputDevice> {};
}

// The output's thread, while nothing renders.
void AudioEngine::outputRateChanged(int rate)
{
    m_sampleRate.store(rate, std::memory_order_release);
    m_sampler.setSampleRate(rate);
}

void AudioEngine::stop()
{
    if (!isRunning())
        return;
    if (m_output)
        m_output->stop();
    m_running.store(false, std::memory_order_release);
}

void AudioEngine::attachFilePlayer(AudioFilePlayer* player)
{
    m_filePlayer.store(player, std::memory_order_release);
}

void AudioEngine::detachFilePlayer(AudioFilePlayer* player)
{
    AudioFilePlayer* expected = player;
    m_filePlayer.compare_exchange_strong(expected, nullptr, std::memory_order_acq_rel);
    // Wait out a render block that may still be reading the player.
    while (m_filePlayerInUse.load(std::memory_order_acquire) == player)
        std::this_thread::yield();
}

bool AudioEngine::isFilePlaying() const
{
    const AudioFilePlayer* player = m_filePlayer.load(std::memory_order_acquire);
    return player && player->isPlaying();
}

std::vector<float> AudioEngine::render(int frames)
{
    std::vector<float> out(std::size_t(std::max(frames, 0)) * 2);
    render(out.data(), frames);
    return out;
}

void AudioEngine::render(float* stereo, int frames)
{
    while (frames > 0) {
        int n = std::min(frames, kMaxBlock);
        renderBlock(stereo, n);
        stereo += n * 2;
        frames -= n;
    }
}

void AudioEngine::renderBlock(float* stereo, int frames)
{
    std::fill(stereo, stereo + frames * 2, 0.0f);
    if (!m_running.load(std::memory_order_acquire))
        return;
    const int64_t start = m_frames.load(std::memory_order_relaxed);

    // Hazard pointer: publish which player this block reads, then confirm it is still attached.
    AudioFilePlayer* player = m_filePlayer.load(std::memory_order_acquire);
    m_filePlayerInUse.store(player, std::memory_order_seq_cst);
    if (player && m_filePlayer.load(std::memory_order_seq_cst) != player)
        player = nullptr;
    // Decoded for another rate it would play off pitch: silent until it is opened for this one.
    if (player && player->sampleRate() != sampleRate())
        player = nullptr;
    if (player) {
        player->renderInto(stereo, frames, m_offline);
        if (m_firstAudible.load(std::memory_order_relaxed) < 0) {
            for (int i = 0; i < frames * 2; ++i)
                if (stereo[i] != 0.0f) {
                    m_firstAudible.store(start + i / 2, std::memory_order_release);
                    break;
                }
        }
    }
    m_filePlayerInUse.store(nullptr, std::memory_order_release);

    std::fill(m_samplerBus.begin(), m_samplerBus.begin() + frames * 2, 0.0f);
    m_sampler.render(m_samplerBus.data(), frames, start, sampleRate());
    const float volume = m_outputVolume.load(std::memory_order_relaxed);
    for (int i = 0; i < frames * 2; ++i)
        stereo[i] += m_samplerBus[i] * volume;

    m_tap.feed(stereo, frames, sampleRate());
    m_limiter.setSampleRate(sampleRate());
    m_limiter.process(stereo, frames);
    m_seconds.store(
        m_seconds.load(std::memory_order_relaxed) + double(frames) / sampleRate(), std::memory_order_release);
    m_frames.store(start + frames, std::memory_order_release);
}

} // namespace kivo::playback
