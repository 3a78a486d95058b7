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
    Stream(std::unique_ptr<AudioDecoder> d, std::shared_ptr<StretcherPool> p)
        : decoder(std::move(d))
        , durationFrames(decoder->durationFrames())
        , ring(kRingChunks)
        , pool(std::move(p))
    {
    }
    ~Stream() override
    {
        if (pool)
            pool->give(std::move(stretcher));
    }
    bool decodeStep() override;
    // Starts stretching (when `amount` asks for it) from `frame`, where the decoder stands.
    void restartAt(int64_t frame, StretchAmount amount);
    // Copies up to `frames` decoded frames into `stereo`; fewer only at the end of the file.
    // `firstFrame` receives the file frame of the first one.
    int pull(float* stereo, int frames, int64_t* firstFrame = nullptr);
    void fillPlain(Chunk& slot);
    void fillStretched(Chunk& slot);

    std::unique_ptr<AudioDecoder> decoder;
    const int64_t durationFrames;
    SpscQueue<Chunk> ring;
    std::shared_ptr<StretcherPool> pool;
    std::atomic<uint64_t> generation { 1 }; // bumped by every reposition
    std::atomic<int64_t> targetFrame { 0 }; // where the latest reposition goes
    std::atomic<double> targetRatio { 1.0 }; // and at which stretch
    std::atomic<double> targetPitch { 1.0 };

    // Decoder state, touched only by whoever runs decodeStep() (the opening thread for the first
    // chunk, then the decode worker).
    std::vector<float> pending;
    std::size_t pendingPos = 0; // in frames
    int64_t pendingFrame = 0; // output frame of pending[pendingPos]
    uint64_t decodeGeneration = 1;
    bool exhausted = false;
    bool endSent = false;
    bool heardSound = false; // a chunk written so far holds a sample that is not zero

    // Stretching state: output frame n since the restart plays file frame anchor + n / ratio.
    std::unique_ptr<TimeStretcher> stretcher;
    StretchAmount amount;
    int64_t anchor = 0;
    int64_t played = 0;
    int64_t playLimit = 0;
    bool finalSent = false;
    bool stretchDone = false;
    bool spareKept = false; // the pool was given a spare for the next preview
    std::array<float, TimeStretcher::kMaxInput * 2> feed;
};

std::unique_ptr<AudioFilePlayer> AudioFilePlayer::open(std::shared_ptr<StretcherPool> stretchers,
    int sampleRate, const std::string& path, std::string& error,
    const std::function<StretchAmount(double)>& stretchFor)
{
    auto decoder = std::make_unique<AudioDecoder>();
    error = decoder->open(path, sampleRate);
    if (!error.empty())
        return nullptr;
    if (decoder->durationFrames() <= 0) {
        error = "The file has no length";
        return nullptr;
    }
    const StretchAmount stretch = stretchFor(decoder->duration());
    auto stream = std::make_shared<Stream>(std::move(decoder), std::move(stretchers));
    stream->targetRatio.store(stretch.timeRatio, std::memory_order_relaxed);
    stream->targetPitch.store(stretch.pitchScale, std::memory_order_relaxed);
    stream->restartAt(0, stretch);
    // Decoded right here (off the main thread) up to the first chunk that sounds, so play() never
    // waits for the worker to wake: an AAC stream starts with encoder delay, silent.
    for (int i = 0; i < kPrimedChunks && stream->decodeStep() && !stream->heardSound; ++i) { }
    auto player = std::unique_ptr<AudioFilePlayer>(new AudioFilePlayer(std::move(stream)));
    player->m_stretch = stretch;
    return player;
}

std::unique_ptr<AudioFilePlayer> AudioFilePlayer::create(
    AudioEngine& engine, const std::string& path, std::string& error, StretchAmount stretch)
{
    engine.start();
    auto player
        = open(engine.stretchers(), engine.sampleRate(), path, error, [stretch](double) { return stretch; });
    if (player)
        player->attach(engine);
    return player;
}

AudioFilePlayer::AudioFilePlayer(std::shared_ptr<Stream> stream)
    : m_stream(std::move(stream))
    , m_rate(m_stream->decoder->outputRate())
    , m_channels(m_stream->decoder->channelCount())
    , m_durationFrames(m_stream->durationFrames)
    , m_duration(m_stream->decoder->duration())
{
}

void AudioFilePlayer::attach(AudioEngine& engine)
{
    if (m_engine)
        return;
    m_engine = &engine;
    m_engine->decodeWorker().add(m_stream);
    m_engine->attachFilePlayer(this);
}

AudioFilePlayer::~AudioFilePlayer()
{
    if (!m_engine)
        return;
    m_engine->detachFilePlayer(this);
    m_engine->decodeWorker().remove(m_stream.get());
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
    if (m_engine)
        m_engine->decodeWorker().wake();
}

void AudioFilePlayer::setStretch(StretchAmount stretch)
{
    if (stretch == m_stretch)
        return;
    m_stretch = stretch;
    m_stream->targetRatio.store(stretch.timeRatio, std::memory_order_relaxed);
    m_stream->targetPitch.store(stretch.pitchScale, std::memory_order_relaxed);
    // Heard at once: what was stretched ahead goes, and the stream goes on from where it is.
    const bool atEnd = m_atEnd.load(std::memory_order_acquire);
    requestPosition(atEnd ? 0 : int64_t(std::llround(currentTime() * m_rate)));
    if (atEnd)
        m_atEnd.store(true, std::memory_order_release);
}

void AudioFilePlayer::setCurrentTime(double seconds)
{
    if (!std::isfinite(seconds))
        seconds = 0;
    requestPosition(int64_t(std::llround(seconds * m_rate)));
}

bool AudioFilePlayer::prepareToPlay()
{
    if (m_engine)
        m_engine->start();
    return true; // the worker has been filling the ring since creation
}

bool AudioFilePlayer::play()
{
    if (m_engine)
        m_engine->start();
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

void AudioFilePlayer::Stream::restartAt(int64_t frame, StretchAmount stretch)
{
    pending.clear();
    pendingPos = 0;
    pendingFrame = frame;
    exhausted = endSent = false;
    amount = stretch;
    if (!amount.active())
        return;
    if (!stretcher)
        stretcher = pool->take(decoder->outputRate());
    stretcher->restart(amount);
    anchor = frame;
    played = 0;
    playLimit = int64_t(std::ceil(double(durationFrames - frame) * amount.timeRatio));
    finalSent = stretchDone = false;
}

int AudioFilePlayer::Stream::pull(float* stereo, int frames, int64_t* firstFrame)
{
    auto sink = [this](const float* decoded, int n) {
        if (pending.empty())
            pendingFrame = decoder->position();
        pending.insert(pending.end(), decoded, decoded + n * 2);
    };
    int done = 0;
    while (done < frames) {
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
        if (done == 0 && firstFrame)
            *firstFrame = pendingFrame;
        int take = int(std::min<std::size_t>(available, std::size_t(frames - done)));
        std::copy_n(pending.data() + pendingPos * 2, take * 2, stereo + done * 2);
        done += take;
        pendingPos += take;
        pendingFrame += take;
    }
    return done;
}

void AudioFilePlayer::Stream::fillPlain(Chunk& slot)
{
    slot.fileStep = 1.0;
    slot.frames = pull(slot.samples.data(), Chunk::kFrames, &slot.startFrame);
}

void AudioFilePlayer::Stream::fillStretched(Chunk& slot)
{
    slot.fileStep = 1.0 / amount.timeRatio;
    slot.startFrame = anchor + int64_t(std::llround(double(played) * slot.fileStep));
    while (slot.frames < Chunk::kFrames && !stretchDone) {
        const int wanted = int(std::min<int64_t>(Chunk::kFrames - slot.frames, playLimit - played));
        const int got = wanted > 0 ? stretcher->retrieve(slot.samples.data() + slot.frames * 2, wanted) : -1;
        if (got < 0 || (got == 0 && finalSent)) {
            stretchDone = true;
            break;
        }
        slot.frames += got;
        played += got;
        if (got > 0)
            continue;
        const int n = pull(feed.data(), stretcher->inputWanted());
        finalSent = exhausted && pending.size() / 2 == pendingPos;
        stretcher->process(feed.data(), n, finalSent);
    }
}

bool AudioFilePlayer::Stream::decodeStep()
{
    uint64_t g = generation.load(std::memory_order_acquire);
    if (g != decodeGeneration) {
        decodeGeneration = g;
        const int64_t target = targetFrame.load(std::memory_order_acquire);
        decoder->seek(target);
        restartAt(target,
            { targetRatio.load(std::memory_order_relaxed), targetPitch.load(std::memory_order_relaxed) });
        return true;
    }
    Chunk* slot = endSent ? nullptr : ring.beginWrite();
    if (!slot) {
        if (amount.active() && !spareKept) {
            spareKept = true;
            pool->keepSpare(decoder->outputRate());
        }
        return false;
    }
    slot->generation = g;
    slot->frames = 0;
    slot->end = false;
    if (amount.active())
        fillStretched(*slot);
    else
        fillPlain(*slot);
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
        m_renderFrame.store(c->startFrame
                + (c->fileStep == 1.0 ? m_chunkOffset : int64_t(std::llround(m_chunkOffset * c->fileStep))),
            std::memory_order_release);
        if (m_chunkOffset == c->frames) {
            ring.commitRead();
            m_chunkOffset = 0;
        }
    }
}

} // namespace kivo::playback
