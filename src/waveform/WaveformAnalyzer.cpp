#include "waveform/WaveformAnalyzer.h"

#include "platform/MediaInput.h"
#include "waveform/DecibelBlocks.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace kivo::waveform {

namespace {

std::string averror(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

// The container's header must be read within this; each read after it gets as long again.
constexpr std::chrono::milliseconds kReadBound { 5000 };

struct Decoding {
    std::unique_ptr<platform::MediaInput> input;
    AVFormatContext* format = nullptr; // owned by `input`
    AVCodecContext* codec = nullptr;
    SwrContext* converter = nullptr; // none when the decoder already gives interleaved 16-bit
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    int stream = -1;
    int channels = 0;
    std::vector<int16_t> converted;

    ~Decoding()
    {
        av_frame_free(&frame);
        av_packet_free(&packet);
        swr_free(&converter);
        avcodec_free_context(&codec);
    }
};

// Total 16-bit samples of all channels the container promises: frames in the shorter of the
// container's and the stream's durations (AAC streams run past the container with padding).
int64_t promisedSamples(const AVFormatContext* format, const AVStream* stream, int rate, int channels)
{
    int64_t frames = -1;
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
        frames = av_rescale_rnd(
            stream->duration, int64_t(stream->time_base.num) * rate, stream->time_base.den, AV_ROUND_DOWN);
    if (format->duration != AV_NOPTS_VALUE && format->duration > 0) {
        const int64_t container = av_rescale_rnd(format->duration, rate, AV_TIME_BASE, AV_ROUND_DOWN);
        frames = frames < 0 ? container : std::min(frames, container);
    }
    return std::max<int64_t>(frames, 0) * channels;
}

// Takes decoded samples as they come; each whole block becomes one value. Only the running
// block's sums are kept, never the samples.
class BlockFeeder {
public:
    BlockFeeder(float noiseFloor, int64_t blockSize, int count)
        : m_blocks(noiseFloor, std::size_t(blockSize))
        , m_count(std::size_t(count))
    {
        m_values.reserve(m_count);
    }

    bool full() const { return m_values.size() >= m_count; }
    void feed(const int16_t* s, std::size_t n) { m_blocks.feed(s, n, m_values, m_count); }

    // The end of the file reads as silence up to the last value.
    std::vector<float> finish()
    {
        m_blocks.finishWithSilence(m_values, m_count);
        const float floor = m_blocks.noiseFloor();
        m_values.resize(m_count, floor);
        for (float& v : m_values) {
            const float level = v / floor;
            v = level > 0 ? std::min(level, 1.0f) : 0.0f;
        }
        return std::move(m_values);
    }

private:
    DecibelBlocks m_blocks;
    std::size_t m_count;
    std::vector<float> m_values;
};

AnalyzeError openError(AnalyzeError::Kind kind, std::string detail = {})
{
    AnalyzeError e;
    e.kind = kind;
    e.detail = std::move(detail);
    return e;
}

} // namespace

std::string readerStatusText(ReaderStatus status)
{
    switch (status) {
    case ReaderStatus::unknown:
        return "unknown";
    case ReaderStatus::reading:
        return "reading";
    case ReaderStatus::completed:
        return "completed";
    case ReaderStatus::failed:
        return "failed";
    case ReaderStatus::cancelled:
        return "cancelled";
    }
    return "unknown";
}

std::string AnalyzeError::description() const
{
    std::string text;
    switch (kind) {
    case Kind::readerError:
        text = "readerError(" + readerStatusText(status) + ")";
        break;
    case Kind::generic:
        text = "generic";
        break;
    case Kind::userError:
        text = "userError";
        break;
    case Kind::emptyTracks:
        text = "emptyTracks";
        break;
    case Kind::openFailed:
        text = "openFailed";
        break;
    }
    return detail.empty() ? text : text + ": " + detail;
}

int64_t samplesPerValue(int64_t totalSamples, int count)
{
    const int64_t s = count > 0 ? totalSamples / count : 0;
    return s < 2 ? 1 : s;
}

AnalyzeResult WaveformAnalyzer::samples(
    const std::string& path, int count, const CancelCheck& cancelled) const
{
    AnalyzeResult result;
    if (count < 1 || !(noiseFloorDecibelCutoff < 0)) {
        result.error = openError(AnalyzeError::Kind::userError,
            count < 1 ? "at least one value must be asked for" : "the noise floor must lie below 0 dB");
        return result;
    }
    Decoding d;
    std::string problem;
    d.input = platform::MediaInput::open(path, kReadBound, &problem);
    if (!d.input) {
        result.error = openError(AnalyzeError::Kind::openFailed, problem);
        return result;
    }
    d.format = d.input->format();
    int rc = avformat_find_stream_info(d.format, nullptr);
    if (rc < 0) {
        result.error = openError(AnalyzeError::Kind::openFailed, averror(rc));
        return result;
    }
    const AVCodec* codec = nullptr;
    d.stream = av_find_best_stream(d.format, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (d.stream == AVERROR_STREAM_NOT_FOUND) {
        result.error = openError(AnalyzeError::Kind::emptyTracks);
        return result;
    }
    if (d.stream < 0 || !codec) {
        result.error = openError(AnalyzeError::Kind::openFailed, "no decoder for its audio");
        return result;
    }
    AVStream* stream = d.format->streams[d.stream];
    d.codec = avcodec_alloc_context3(codec);
    if (!d.codec || avcodec_parameters_to_context(d.codec, stream->codecpar) < 0
        || (rc = avcodec_open2(d.codec, codec, nullptr)) < 0) {
        result.error = openError(AnalyzeError::Kind::openFailed, averror(rc));
        return result;
    }
    d.channels = d.codec->ch_layout.nb_channels;
    const int rate = d.codec->sample_rate;
    if (d.channels <= 0 || rate <= 0) {
        result.error = openError(AnalyzeError::Kind::openFailed, "the audio has no channels or sample rate");
        return result;
    }
    if (d.codec->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
        av_channel_layout_uninit(&d.codec->ch_layout);
        av_channel_layout_default(&d.codec->ch_layout, d.channels);
    }
    if (d.codec->sample_fmt != AV_SAMPLE_FMT_S16) {
        rc = swr_alloc_set_opts2(&d.converter, &d.codec->ch_layout, AV_SAMPLE_FMT_S16, rate,
            &d.codec->ch_layout, d.codec->sample_fmt, rate, 0, nullptr);
        if (rc < 0 || swr_init(d.converter) < 0) {
            result.error = openError(AnalyzeError::Kind::generic, "no conversion to 16-bit samples");
            return result;
        }
    }
    d.packet = av_packet_alloc();
    d.frame = av_frame_alloc();
    if (!d.packet || !d.frame) {
        result.error = openError(AnalyzeError::Kind::generic);
        return result;
    }

    const int64_t total = promisedSamples(d.format, stream, rate, d.channels);
    BlockFeeder feeder(noiseFloorDecibelCutoff, samplesPerValue(total, count), count);

    auto takeFrame = [&] {
        const int frames = d.frame->nb_samples;
        if (frames <= 0)
            return;
        if (!d.converter) {
            feeder.feed(reinterpret_cast<const int16_t*>(d.frame->data[0]), std::size_t(frames) * d.channels);
            return;
        }
        const int capacity = swr_get_out_samples(d.converter, frames);
        d.converted.resize(std::size_t(std::max(capacity, 0)) * d.channels);
        uint8_t* out[1] = { reinterpret_cast<uint8_t*>(d.converted.data()) };
        const int got = swr_convert(
            d.converter, out, capacity, const_cast<const uint8_t**>(d.frame->extended_data), frames);
        if (got > 0)
            feeder.feed(d.converted.data(), std::size_t(got) * d.channels);
    };
    // Frames the decoder has ready; false on a decoding error that ends reading.
    auto drain = [&](std::string& problem) {
        while (true) {
            const int got = avcodec_receive_frame(d.codec, d.frame);
            if (got == AVERROR(EAGAIN) || got == AVERROR_EOF)
                return true;
            if (got < 0) {
                problem = averror(got);
                return false;
            }
            takeFrame();
            av_frame_unref(d.frame);
        }
    };

    ReaderStatus status = ReaderStatus::reading;
    int64_t badPackets = 0;
    int64_t goodPackets = 0;
    while (status == ReaderStatus::reading) {
        if (cancelled && cancelled()) {
            status = ReaderStatus::cancelled;
            break;
        }
        d.input->allow(kReadBound);
        rc = av_read_frame(d.format, d.packet);
        if (rc == AVERROR_EOF) {
            avcodec_send_packet(d.codec, nullptr);
            status = drain(problem) ? ReaderStatus::completed : ReaderStatus::failed;
            break;
        }
        if (rc < 0) {
            problem = averror(rc);
            status = ReaderStatus::failed;
            break;
        }
        if (d.packet->stream_index == d.stream) {
            rc = avcodec_send_packet(d.codec, d.packet);
            // A damaged packet is skipped as a player would; other decoder errors end reading.
            if (rc == AVERROR_INVALIDDATA) {
                ++badPackets;
                problem = averror(rc);
            } else if (rc < 0 && rc != AVERROR(EAGAIN)) {
                problem = averror(rc);
                status = ReaderStatus::failed;
            } else {
                ++goodPackets;
                if (!drain(problem))
                    status = ReaderStatus::failed;
            }
        }
        av_packet_unref(d.packet);
        // Every value shown is known; what follows would be dropped.
        if (status == ReaderStatus::reading && feeder.full())
            status = ReaderStatus::completed;
    }
    av_packet_unref(d.packet);
    if (status == ReaderStatus::completed && goodPackets == 0 && badPackets > 0)
        status = ReaderStatus::failed;
    if (status == ReaderStatus::completed && d.converter && !feeder.full()) {
        // What the converter still holds.
        const int capacity = swr_get_out_samples(d.converter, 0);
        if (capacity > 0) {
            d.converted.resize(std::size_t(capacity) * d.channels);
            uint8_t* out[1] = { reinterpret_cast<uint8_t*>(d.converted.data()) };
            const int got = swr_convert(d.converter, out, capacity, nullptr, 0);
            if (got > 0)
                feeder.feed(d.converted.data(), std::size_t(got) * d.channels);
        }
    }
    if (status != ReaderStatus::completed) {
        AnalyzeError e;
        e.kind = AnalyzeError::Kind::readerError;
        e.status = status;
        e.detail = status == ReaderStatus::failed ? problem : std::string();
        // A cancelled analysis is no failure: its answer is simply not wanted.
        if (status != ReaderStatus::cancelled) {
            std::string line = "ERROR: reading waveform audio data has failed " + readerStatusText(status);
            if (!problem.empty())
                line += " (" + problem + ")";
            std::printf("%s\n", line.c_str());
            std::fflush(stdout);
        }
        result.error = std::move(e);
        return result;
    }
    result.values = feeder.finish();
    return result;
}

} // namespace kivo::waveform
