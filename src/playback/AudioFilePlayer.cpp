#include "AudioFilePlayer.h"

#include "AudioDecoder.h"
#include "AudioEngine.h"
#include "DecodeWorker.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace kivo::playback {

namespace {
constexpr int kRingChunks = 96; // about one second ahead at 48 kHz
constexpr int kMeterFrames = 1024;
} // namespace

std::unique_ptr<AudioFilePlayer> AudioFilePlayer::create(
    AudioEngine& engine, const std::string& path, std::string& error)
{
    engine.start();
    auto decoder = std::make_unique<AudioDecoder>();
    error = decoder->open(path, engine.sampleRate());
    if (!error.empty())
        return nullptr;
    if (decoder->durationFrames() <= 0) {
        error = "The file has no length";
        return nullptr;
    }
    std::unique_ptr<AudioFilePlayer> player(new AudioFilePlayer(engine, std::move(decoder)));
    engine.attachFilePlayer(player.get());
    return player;
}

AudioFilePlayer::AudioFilePlayer(AudioEngine& engine, std::unique_ptr<AudioDecoder> decoder)
    : m_engine(engine)
    , m_decoder(std::move(decoder))
    , m_rate(m_decoder->outputRate())
    , m_channels(m_decoder->channelCount())
    , m_durationFrames(m_decoder->durationFrames())
    , m_duration(m_decoder->duration())
    , m_ring(kRingChunks)
{
    // The first chunk is decoded right here, so it is ready by the time play() comes;
    // the shared worker keeps the ring filled from then on.
    decodeStep();
    m_engine.decodeWorker().add(this);
}

AudioFilePlayer::~AudioFilePlayer()
{
    m_engine.detachFilePlayer(this);
    m_engine.decodeWorker().remove(this);
}

double AudioFilePlayer::duration() const
{
    return m_duration;
}

double AudioFilePlayer::currentTime() const
{
    if (m_atEnd.load(std::memory_order_acquire))
        return 0;
    uint64_t g = m_generation.load(std::memory_order_acquire);
    int64_t frame = m_renderGeneration.load(std::memory_order_acquire) == g
        ? m_renderFrame.load(std::memory_order_acquire)
        : m_targetFrame.load(std::memory_order_acquire);
    return std::min(double(frame) / m_rate, m_duration);
}

void AudioFilePlayer::requestPosition(int64_t frame)
{
    {
        std::lock_guard lock(m_mutex);
        m_targetFrame.store(std::clamp<int64_t>(frame, 0, m_durationFrames), std::memory_order_release);
        m_atEnd.store(false, std::memory_order_release);
        m_generation.fetch_add(1, std::memory_order_acq_rel);
    }
    m_engine.decodeWorker().wake();
}

void AudioFilePlayer::setCurrentTime(double seconds)
{
    if (!std::isfinite(seconds))
        seconds = 0;
    requestPosition(int64_t(std::llround(seconds * m_rate)));
}

bool AudioFilePlayer::prepareToPlay()
{
    m_engine.start();
    return true; // the worker has been filling the ring since creation
}

bool AudioFilePlayer::play()
{
    m_engine.start();
    if (m_atEnd.load(std::memory_order_acquire))
        requestPosition(0);
    m_playing.store(true, std::memory_order_release);
    return true;
}

void AudioFilePlayer::pause()
{
    m_playing.store(false, std::memory_order_release);
}

void AudioFilePlayer::stop()
{
    // Like pause, the position is kept; the next play resumes from it.
    m_playing.store(false, std::memory_order_release);
}

void AudioFilePlayer::updateMeters()
{
    m_shownPower[0] = m_meterPower[0].load(std::memory_order_relaxed);
    m_shownPower[1] = m_meterPower[1].load(std::memory_order_relaxed);
}

float AudioFilePlayer::averagePower(int channel) const
{
    if (channel < 0 || channel >= m_channels)
        return -160.0f;
    return m_shownPower[std::min(channel, 1)];
}

bool AudioFilePlayer::decodeStep()
{
    uint64_t g = m_generation.load(std::memory_order_acquire);
    if (g != m_decodeGeneration) {
        m_decodeGeneration = g;
        int64_t target = m_targetFrame.load(std::memory_order_acquire);
        m_decoder->seek(target);
        m_pending.clear();
        m_pendingPos = 0;
        m_pendingFrame = target;
        m_exhausted = m_endSent = false;
        return true;
    }
    Chunk* slot = m_endSent ? nullptr : m_ring.beginWrite();
    if (!slot)
        return false;
    auto sink = [this](const float* stereo, int frames) {
        if (m_pending.empty())
            m_pendingFrame = m_decoder->position();
        m_pending.insert(m_pending.end(), stereo, stereo + frames * 2);
    };
    slot->generation = g;
    slot->frames = 0;
    slot->end = false;
    while (slot->frames < Chunk::kFrames) {
        std::size_t available = m_pending.size() / 2 - m_pendingPos;
        if (available == 0) {
            if (m_exhausted)
                break;
            m_pending.clear();
            m_pendingPos = 0;
            if (!m_decoder->decodeNext(sink))
                m_exhausted = true;
            continue;
        }
        if (slot->frames == 0)
            slot->startFrame = m_pendingFrame;
        int take = int(std::min<std::size_t>(available, std::size_t(Chunk::kFrames - slot->frames)));
        std::copy_n(m_pending.data() + m_pendingPos * 2, take * 2, slot->samples.data() + slot->frames * 2);
        slot->frames += take;
        m_pendingPos += take;
        m_pendingFrame += take;
    }
    if (slot->frames == 0) {
        slot->end = true;
        m_endSent = true;
    }
    m_ring.commitWrite();
    return true;
}

void AudioFilePlayer::renderInto(float* stereo, int frames, bool waitForDecoder)
{
    uint64_t g = m_generation.load(std::memory_order_acquire);
    if (g != m_renderGeneration.load(std::memory_order_relaxed)) {
        m_renderFrame.store(m_targetFrame.load(std::memory_order_acquire), std::memory_order_release);
        m_renderGeneration.store(g, std::memory_order_release);
        m_chunkOffset = 0;
    }
    // Chunks decoded before a reposition are dropped even while paused, so the
    // worker can refill from the new position at once.
    while (Chunk* c = m_ring.front()) {
        if (c->generation == g)
            break;
        m_ring.commitRead();
        m_chunkOffset = 0;
    }
    if (!m_playing.load(std::memory_order_acquire))
        return;
    const float gain = m_volume.load(std::memory_order_relaxed);
    const bool metering = m_metering.load(std::memory_order_relaxed);
    int done = 0;
    while (done < frames) {
        Chunk* c = m_ring.front();
        if (!c) {
            if (!waitForDecoder)
                break; // an underrun is heard as a short gap, never waited for
            std::this_thread::yield();
            if (m_generation.load(std::memory_order_acquire) != g)
                break;
            continue;
        }
        if (c->generation != g) {
            m_ring.commitRead();
            m_chunkOffset = 0;
            continue;
        }
        if (c->end) {
            m_ring.commitRead();
            m_playing.store(false, std::memory_order_release);
            m_atEnd.store(true, std::memory_order_release);
            break;
        }
        int take = std::min(frames - done, c->frames - m_chunkOffset);
        const float* src = c->samples.data() + m_chunkOffset * 2;
        float* dst = stereo + done * 2;
        for (int i = 0; i < take; ++i) {
            float l = src[2 * i], r = src[2 * i + 1];
            dst[2 * i] += l * gain;
            dst[2 * i + 1] += r * gain;
            m_meterSum[0] += double(l) * l;
            m_meterSum[1] += double(r) * r;
        }
        m_meterFrames += take;
        if (metering && m_meterFrames >= kMeterFrames) {
            for (int ch = 0; ch < 2; ++ch) {
                double meanSquare = m_meterSum[ch] / m_meterFrames;
                m_meterPower[ch].store(meanSquare > 0 ? float(10.0 * std::log10(meanSquare)) : -160.0f,
                    std::memory_order_relaxed);
                m_meterSum[ch] = 0;
            }
            m_meterFrames = 0;
        }
        m_chunkOffset += take;
        done += take;
        m_renderFrame.store(c->startFrame + m_chunkOffset, std::memory_order_release);
        if (m_chunkOffset == c->frames) {
            m_ring.commitRead();
            m_chunkOffset = 0;
        }
    }
}

} // namespace kivo::playback
