#include "AudioDecoder.h"

#include "platform/MediaInput.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace kivo::playback {

struct AudioDecoder::State {
    std::unique_ptr<platform::MediaInput> input;
    AVFormatContext* format = nullptr; // owned by `input`
    AVCodecContext* codec = nullptr;
    SwrContext* resampler = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    int stream = -1;
    int inRate = 0; // what the resampler is set up for
    int inFormat = -1;
    AVChannelLayout inLayout {};
    AVRational timeBase { 1, 1 };
    int64_t startPts = 0;
    std::vector<float> out;
    std::vector<float> wide;
    bool frameHeld = false; // s.frame holds samples not yet resampled
    int frameOffset = 0;
    bool draining = false;

    ~State()
    {
        av_frame_free(&frame);
        av_packet_free(&packet);
        swr_free(&resampler);
        avcodec_free_context(&codec);
        av_channel_layout_uninit(&inLayout);
    }
};

namespace {
std::string averror(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

// FFmpeg's choice of audio stream, which needs the rate and channels in the header; before any
// probe, raw formats (mp3, flac) have them only in their frames: then their first audio stream.
int audioStream(AVFormatContext* format, const AVCodec** codec)
{
    const int best = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, codec, 0);
    if (best >= 0)
        return best;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVCodecParameters* par = format->streams[i]->codecpar;
        if (par->codec_type != AVMEDIA_TYPE_AUDIO)
            continue;
        if (const AVCodec* decoder = avcodec_find_decoder(par->codec_id)) {
            *codec = decoder;
            return int(i);
        }
    }
    return -1;
}

bool needsStreamProbe(AVFormatContext* format)
{
    if (std::strcmp(format->iformat->name, "wav") == 0)
        return true;
    const AVCodec* codec = nullptr;
    const int index = audioStream(format, &codec);
    if (index < 0)
        return true;
    const AVStream* stream = format->streams[index];
    return !((format->duration != AV_NOPTS_VALUE && format->duration > 0)
        || (stream->duration != AV_NOPTS_VALUE && stream->duration > 0));
}
} // namespace

AudioDecoder::AudioDecoder()
    : m_state(std::make_unique<State>())
{
}

AudioDecoder::~AudioDecoder() = default;

std::string AudioDecoder::open(const std::string& path, int outputRate)
{
    m_outputRate = outputRate;
    State& s = *m_state;
    std::string error;
    s.input = platform::MediaInput::open(path, m_openBound, &error);
    if (!s.input)
        return error;
    s.format = s.input->format();
    // The stream probe decodes a first frame with a decoder of its own and buffers packets: work
    // done twice when the container's header already names the codec and the length, since the
    // first frame decoded below tells the rest. It stays for WAV (PCM data is checked for other
    // codecs hidden in it, which may change the codec) and for streams of unknown length.
    if (needsStreamProbe(s.format)) {
        int rc = avformat_find_stream_info(s.format, nullptr);
        if (rc < 0)
            return "The file's format could not be read (" + averror(rc) + ")";
    }
    const AVCodec* codec = nullptr;
    s.stream = audioStream(s.format, &codec);
    if (s.stream < 0 || !codec)
        return "The file contains no playable audio";
    AVStream* stream = s.format->streams[s.stream];
    s.codec = avcodec_alloc_context3(codec);
    if (!s.codec || avcodec_parameters_to_context(s.codec, stream->codecpar) < 0)
        return "The audio decoder could not be set up";
    int rc = avcodec_open2(s.codec, codec, nullptr);
    if (rc < 0)
        return "The audio decoder could not be opened (" + averror(rc) + ")";
    s.packet = av_packet_alloc();
    s.frame = av_frame_alloc();
    if (!s.packet || !s.frame)
        return "The audio decoder could not be set up";
    s.timeBase = stream->time_base;
    s.startPts = stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;

    // The first frame says what the audio really is (an AAC stream with implied SBR doubles the
    // header's rate); it is kept for the first decodeNext().
    if (receive() != Next::frame)
        return s.input->expired() ? "The file could not be opened (it took too long to read)"
                                  : "The file contains no playable audio";
    m_channels = s.frame->ch_layout.nb_channels;
    if (m_channels <= 0 || s.frame->sample_rate <= 0)
        return "The audio stream has no channels or sample rate";
    if (!configureResampler())
        return "The audio could not be converted to the output format";

    // The container's duration is the one that counts: AAC streams carry encoder
    // padding past it, which must not be heard.
    if (s.format->duration != AV_NOPTS_VALUE && s.format->duration > 0)
        m_duration = double(s.format->duration) / AV_TIME_BASE;
    else if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
        m_duration = double(stream->duration) * av_q2d(stream->time_base);
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
        m_duration = std::min(
            m_duration > 0 ? m_duration : 1e12, double(stream->duration) * av_q2d(stream->time_base));
    m_durationFrames = m_duration > 0 ? int64_t(std::llround(m_duration * outputRate)) : 0;
    return {};
}

// Sets the resampler up for the held frame's rate, sample format and channels, unless it already
// is: a stream may change them midway.
bool AudioDecoder::configureResampler()
{
    State& s = *m_state;
    AVFrame* f = s.frame;
    // WAV and AIFF leave the channel order unspecified; read it as the usual layout.
    if (f->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
        const int channels = f->ch_layout.nb_channels;
        av_channel_layout_uninit(&f->ch_layout);
        av_channel_layout_default(&f->ch_layout, channels);
    }
    if (s.resampler && f->sample_rate == s.inRate && f->format == s.inFormat
        && av_channel_layout_compare(&f->ch_layout, &s.inLayout) == 0)
        return true;
    swr_free(&s.resampler);
    // A mono file stays mono through the resampler and is copied to both sides at full
    // level (a centre-channel mix would take 3 dB off).
    AVChannelLayout target {};
    av_channel_layout_default(&target, m_channels == 1 ? 1 : 2);
    int rc = swr_alloc_set_opts2(&s.resampler, &target, AV_SAMPLE_FMT_FLT, m_outputRate, &f->ch_layout,
        AVSampleFormat(f->format), f->sample_rate, 0, nullptr);
    if (rc < 0 || swr_init(s.resampler) < 0) {
        swr_free(&s.resampler);
        return false;
    }
    s.inRate = f->sample_rate;
    s.inFormat = f->format;
    av_channel_layout_uninit(&s.inLayout);
    av_channel_layout_copy(&s.inLayout, &f->ch_layout);
    return true;
}

void AudioDecoder::seek(int64_t frame)
{
    State& s = *m_state;
    if (!s.input)
        return;
    frame = std::max<int64_t>(frame, 0);
    bool drained = m_flushed;
    m_flushed = false;
    m_seekTarget = frame;
    if (!drained && frame == m_position && !m_needPosition)
        return;
    int64_t ts = s.startPts + av_rescale_q(frame, AVRational { 1, m_outputRate }, s.timeBase);
    s.input->allow(m_readBound);
    av_seek_frame(s.format, s.stream, ts, AVSEEK_FLAG_BACKWARD);
    avcodec_flush_buffers(s.codec);
    if (s.frameHeld)
        av_frame_unref(s.frame);
    s.frameHeld = false;
    s.draining = false;
    swr_close(s.resampler);
    swr_init(s.resampler);
    m_needPosition = true;
    m_position = frame;
}

void AudioDecoder::emit(const float* samples, int frames, const Sink& sink)
{
    const float* stereo = samples;
    if (m_channels == 1) {
        std::vector<float>& wide = m_state->wide;
        wide.resize(std::size_t(frames) * 2);
        for (int i = 0; i < frames; ++i)
            wide[2 * i] = wide[2 * i + 1] = samples[i];
        stereo = wide.data();
    }
    // Drop what lies before a seek target, and everything past the container's end.
    if (m_seekTarget > m_position) {
        int skip = int(std::min<int64_t>(frames, m_seekTarget - m_position));
        stereo += skip * 2;
        frames -= skip;
        m_position += skip;
    }
    if (m_durationFrames > 0)
        frames = int(std::clamp<int64_t>(m_durationFrames - m_position, 0, frames));
    if (frames <= 0)
        return;
    sink(stereo, frames);
    m_position += frames;
}

// Decoded frames are resampled a slice at a time, so the first audio of a file with
// long packets (flac: 4096 frames) is ready without converting the whole packet.
bool AudioDecoder::convertSlice(const Sink& sink)
{
    constexpr int kSlice = 1024;
    State& s = *m_state;
    AVFrame* f = s.frame;
    int n = std::min(kSlice, f->nb_samples - s.frameOffset);
    const int bytes = av_get_bytes_per_sample(AVSampleFormat(f->format));
    const bool planar = av_sample_fmt_is_planar(AVSampleFormat(f->format));
    const int planes = planar ? f->ch_layout.nb_channels : 1;
    const uint8_t* in[AV_NUM_DATA_POINTERS * 8] = {};
    for (int p = 0; p < planes && p < int(std::size(in)); ++p)
        in[p] = f->extended_data[p]
            + std::size_t(s.frameOffset) * bytes * (planar ? 1 : f->ch_layout.nb_channels);
    int capacity = swr_get_out_samples(s.resampler, n);
    s.out.resize(std::size_t(std::max(capacity, 0)) * 2 + 64);
    uint8_t* outPlanes[1] = { reinterpret_cast<uint8_t*>(s.out.data()) };
    int got = swr_convert(s.resampler, outPlanes, capacity, in, n);
    s.frameOffset += n;
    if (s.frameOffset >= f->nb_samples) {
        av_frame_unref(f);
        s.frameHeld = false;
    }
    if (got > 0)
        emit(s.out.data(), got, sink);
    return true;
}

void AudioDecoder::setBounds(std::chrono::milliseconds open, std::chrono::milliseconds read)
{
    m_openBound = open;
    m_readBound = read;
}

bool AudioDecoder::wasCut() const
{
    return m_state->input && m_state->input->wasCut();
}

AudioDecoder::Next AudioDecoder::receive()
{
    State& s = *m_state;
    while (true) {
        int rc = avcodec_receive_frame(s.codec, s.frame);
        if (rc >= 0) {
            if (m_needPosition) {
                int64_t pts = s.frame->best_effort_timestamp;
                if (pts != AV_NOPTS_VALUE)
                    m_position = std::max<int64_t>(
                        0, av_rescale_q(pts - s.startPts, s.timeBase, AVRational { 1, m_outputRate }));
                m_needPosition = false;
            }
            if (s.frame->nb_samples <= 0) {
                av_frame_unref(s.frame);
                continue;
            }
            s.frameHeld = true;
            s.frameOffset = 0;
            return Next::frame;
        }
        if (rc != AVERROR(EAGAIN) || s.draining)
            return s.draining ? Next::end : Next::error; // a decoding error ends the stream
        rc = av_read_frame(s.format, s.packet);
        if (rc < 0) {
            avcodec_send_packet(s.codec, nullptr);
            s.draining = true;
            continue;
        }
        if (s.packet->stream_index == s.stream) {
            rc = avcodec_send_packet(s.codec, s.packet);
            if (rc < 0 && rc != AVERROR(EAGAIN) && rc != AVERROR_INVALIDDATA) {
                av_packet_unref(s.packet);
                return Next::error;
            }
        }
        av_packet_unref(s.packet);
    }
}

bool AudioDecoder::decodeNext(const Sink& sink)
{
    State& s = *m_state;
    if (m_flushed || !s.input)
        return false;
    if (m_durationFrames > 0 && m_position >= m_durationFrames && m_seekTarget <= m_position)
        return false;
    s.input->allow(m_readBound);
    if (!s.frameHeld) {
        const Next next = receive();
        if (next == Next::error)
            return false;
        if (next == Next::end) {
            // End of input: the resampler's tail, then done.
            int capacity = swr_get_out_samples(s.resampler, 0);
            if (capacity > 0) {
                s.out.resize(std::size_t(capacity) * 2 + 64);
                uint8_t* outPlanes[1] = { reinterpret_cast<uint8_t*>(s.out.data()) };
                int got = swr_convert(s.resampler, outPlanes, capacity, nullptr, 0);
                if (got > 0)
                    emit(s.out.data(), got, sink);
            }
            m_flushed = true;
            return false;
        }
        if (!configureResampler())
            return false;
    }
    return convertSlice(sink);
}

} // namespace kivo::playback
