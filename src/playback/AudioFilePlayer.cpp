#include "AudioFilePlayer.h"

#include "AudioDecoder.h"
#include "AudioEngine.h"
#include "DecodeWorker.h"

#include <algorithm>
#include <cmath>
#include <thread>
#include <vector>

namespace kivo::playback {

namespace {
constexpr int kRingChunks = 96; // about one second ahead at 48 kHz
constexpr int kMeterFrames = 1024;
constexpr int kPrimedChunks = 8;
} // namespace

struct AudioFilePlayer::Stream : DecodeSource {
    explicit Stream(std::unique_ptr<AudioDecoder> d)
        : decoder(std::move(d))
        , durationFrames(decoder->durationFrames())
        , ring(kRingChunks)
    {
    }
    bool decodeStep() override;

    std::unique_ptr<AudioDecoder> decoder;
    const int64_t durationFrames;
    SpscQueue<Chunk> ring;
    std::atomic<uint64_t> generation { 1 }; // bumped by every reposition
    std::atomic<int64_t> targetFrame { 0 }; // where the latest reposition goes

    // Decoder state, touched only by whoever runs decodeStep() (the opening thread for the first
    // chunk, then the decode worker).
    std::vector<float> pending;
    std::size_t pendingPos = 0; // in frames
    int64_t pendingFrame = 0; // output frame of pending[pendingPos]
    uint64_t decodeGeneration = 1;
    bool exhausted = false;
    bool endSent = false;
    bool heardSound = false; // a chunk written so far holds a sample that is not zero
};

std::unique_ptr<AudioFilePlayer> AudioFilePlayer::open(
    AudioEngine& engine, int sampleRate, const std::string& path, std::string& error)
{
    auto decoder = std::make_unique<AudioDecoder>();
    error = decoder->open(path, sampleRate);
    if (!error.empty())
        return nullptr;
    if (decoder->durationFrames() <= 0) {
        error = "The file has no length";
        return nullptr;
    }
    auto stream = std::make_shared<Stream>(std::move(decoder));
    // Decoded right here (off the main thread) up to the first chunk that sounds, so play() never
    // waits for the worker to wake: an AAC stream starts with encoder delay, silent.
    for (int i = 0; i < kPrimedChunks && stream->decodeStep() && !stream->heardSound; ++i) { }
    return std::unique_ptr<AudioFilePlayer>(new AudioFilePlayer(engine, std::move(stream)));
}

std::unique_ptr<AudioFilePlayer> AudioFilePlayer::create(
    AudioEngine& engine, const std::string& path, std::string& error)
{
    engine.start();
    auto player = open(engine, engine.sampleRate(), path, error);
    if (player)
        player->attach();
    return player;
}

AudioFilePlayer::AudioFilePlayer(AudioEngine& engine, std::shared_ptr<Stream> stream)
    : m_engine(engine)
    , m_stream(std::move(stream))
    , m_rate(m_stream->decoder->outputRate())
    , m_channels(m_stream->decoder->channelCount())
    , m_durationFrames(m_stream->durationFrames)
    , m_duration(m_stream->decoder->duration())
{
}

void AudioFilePlayer::attach()
{
    if (m_attached)
        return;
    m_attached = true;
    m_engine.decodeWorker().add(m_stream);
    m_engine.attachFilePlayer(this);
}

AudioFilePlayer::~AudioFilePlayer()
{
    if (!m_attached)
        return;
    m_engine.detachFilePlayer(this);
    m_engine.decodeWorker().remove(m_stream.get());
}

double AudioFilePlayer::duration() const
{
    return m_duration;
}

double AudioFilePlayer::currentTime() const
{
    if (m_atEnd.load(std::memory_order_acquire))
        return 0;
    uint64_t g = m_stream->generation.load(std::memory_order_acquire);
    int64_t frame = m_renderGeneration.load(std::memory_order_acquire) == g
        ? m_renderFrame.load(std::memory_order_acquire)
        : m_stream->targetFrame.load(std::memory_order_acquire);
    return std::min(double(frame) / m_rate, m_duration);
}

void AudioFilePlayer::requestPosition(int64_t frame)
{
    m_stream->targetFrame.store(std::clamp<int64_t>(frame, 0, m_durationFrames), std::memory_order_release);
    m_atEnd.store(false, std::memory_order_release);
    m_stream->generation.fetch_add(1, std::memory_order_acq_rel);
    if (m_attached)
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

bool AudioFilePlayer::Stream::decodeStep()
{
    uint64_t g = generation.load(std::memory_order_acquire);
    if (g != decodeGeneration) {
        decodeGeneration = g;
        int64_t target = targetFrame.load(std::memory_order_acquire);
        decoder->seek(target);
        pending.clear();
        pendingPos = 0;
        pendingFrame = target;
        exhausted = endSent = false;
        return true;
    }
    Chunk* slot = endSent ? nullptr : ring.beginWrite();
    if (!slot)
        return false;
    auto sink = [this](const float* stereo, int frames) {
        if (pending.empty())
            pendingFrame = decoder->position();
        pending.insert(pending.end(), stereo, stereo + frames * 2);
    };
    slot->generation = g;
    slot->frames = 0;
    slot->end = false;
    while (slot->frames < Chunk::kFrames) {
        std::size_t available = pending.size() / 2 - pendingPos;
        if (available == 0) {
            if (exhausted)
                break;
            pending.clear();
            pendingPos = 0;
            if (!decoder->decodeNext(sink))
                exhausted = true;
            continue;
        }
        if (slot->frames == 0)
            slot->startFrame = pendingFrame;
        int take = int(std::min<std::size_t>(available, std::size_t(Chunk::kFrames - slot->frames)));
        std::copy_n(pending.data() + pendingPos * 2, take * 2, slot->samples.data() + slot->frames * 2);
        slot->frames += take;
        pendingPos += take;
        pendingFrame += take;
    }
    if (slot->frames == 0) {
        slot->end = true;
        endSent = true;
    }
    if (!heardSound)
        heardSound = std::any_of(slot->samples.begin(), slot->samples.begin() + slot->frames * 2,
            [](float v) { return v != 0.0f; });
    ring.commitWrite();
    return true;
}

void AudioFilePlayer::renderInto(float* stereo, int frames, bool waitForDecoder)
{
    SpscQueue<Chunk>& ring = m_stream->ring;
    uint64_t g = m_stream->generation.load(std::memory_order_acquire);
    if (g != m_renderGeneration.load(std::memory_order_relaxed)) {
        m_renderFrame.store(m_stream->targetFrame.load(std::memory_order_acquire), std::memory_order_release);
        m_renderGeneration.store(g, std::memory_order_release);
        m_chunkOffset = 0;
    }
    // Chunks decoded before a reposition are dropped even while paused, so the
    // worker can refill from the new position at once.
    while (Chunk* c = ring.front()) {
        if (c->generation == g)
            break;
        ring.commitRead();
        m_chunkOffset = 0;
    }
    if (!m_playing.load(std::memory_order_acquire))
        return;
    const float gain = m_volume.load(std::memory_order_relaxed);
    const bool metering = m_metering.load(std::memory_order_relaxed);
    int done = 0;
    while (done < frames) {
        Chunk* c = ring.front();
        if (!c) {
            if (!waitForDecoder)
                break; // an underrun is heard as a short gap, never waited for
            std::this_thread::yield();
            if (m_stream->generation.load(std::memory_order_acquire) != g)
                break;
            continue;
        }
        if (c->generation != g) {
            ring.commitRead();
            m_chunkOffset = 0;
            continue;
        }
        if (c->end) {
            ring.commitRead();
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
            ring.commitRead();
            m_chunkOffset = 0;
        }
    }
}

} // namespace kivo::playback
