// kivo-bench waveform: what drawing a waveform costs over decoding the file at all.
//
// A five-minute stereo WAV, mp3 and flac are analysed to 2,000 values, against a baseline that
// opens the same file with FFmpeg, decodes every packet and discards the samples. Times are the
// thread's CPU time (the machine is shared; wall time would measure the neighbours), the median
// of several interleaved runs. The figure is the slowest file's ratio.

#include "common/Subcommand.h"

#include "platform/MediaInput.h"
#include "waveform/WaveformAnalyzer.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr int kRuns = 9;
constexpr int kValues = 2000;

double threadSeconds()
{
    timespec ts {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + ts.tv_nsec * 1e-9;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

bool run(const std::string& command)
{
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// Every packet decoded, nothing kept; -1 when the file does not decode.
double decodeAndDiscard(const std::string& path)
{
    const double t0 = threadSeconds();
    // Through the same restricted open as the analysis: the baseline pays what any open must.
    auto input = kivo::platform::MediaInput::open(path, std::chrono::seconds(5));
    if (!input)
        return -1;
    AVFormatContext* format = input->format();
    avformat_find_stream_info(format, nullptr);
    const AVCodec* codec = nullptr;
    const int stream = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (stream < 0)
        return -1;
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(ctx, format->streams[stream]->codecpar);
    avcodec_open2(ctx, codec, nullptr);
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    int64_t frames = 0;
    while (true) {
        input->allow(std::chrono::seconds(5));
        if (av_read_frame(format, packet) < 0)
            break;
        if (packet->stream_index == stream && avcodec_send_packet(ctx, packet) >= 0)
            while (avcodec_receive_frame(ctx, frame) >= 0) {
                frames += frame->nb_samples;
                av_frame_unref(frame);
            }
        av_packet_unref(packet);
    }
    avcodec_send_packet(ctx, nullptr);
    while (avcodec_receive_frame(ctx, frame) >= 0) {
        frames += frame->nb_samples;
        av_frame_unref(frame);
    }
    const double elapsed = threadSeconds() - t0;
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&ctx);
    return frames > 0 ? elapsed : -1;
}

double analyse(const std::string& path)
{
    const double t0 = threadSeconds();
    const auto result = kivo::waveform::WaveformAnalyzer().samples(path, kValues);
    const double elapsed = threadSeconds() - t0;
    return result.ok() && result.values.size() == std::size_t(kValues) ? elapsed : -1;
}

int waveformBench(const std::vector<std::string>&)
{
    const std::string dir = std::string(KIVO_BENCH_DATA_DIR) + "/waveform";
    std::filesystem::create_directories(dir);
    // Music-like material: a chord over pink noise with a slow tremolo, so no block is silent.
    const std::string wav = dir + "/five-minutes.wav";
    if (!std::filesystem::exists(wav)
        && !run("sox -n -r 44100 -c 2 -b 16 '" + wav
            + "' synth 300 pinknoise synth 300 sine mix 220 synth 300 sine mix 331 tremolo 0.5 60 vol 0.5"))
        return std::fprintf(stderr, "kivo-bench waveform: sox could not make the test file\n"), 1;
    std::vector<std::string> files { wav };
    for (const std::string ext : { "mp3", "flac" }) {
        const std::string path = dir + "/five-minutes." + ext;
        if (!std::filesystem::exists(path)
            && !run("ffmpeg -y -loglevel error -i '" + wav + "' '" + path + "'"))
            return std::fprintf(stderr, "kivo-bench waveform: ffmpeg could not make %s\n", path.c_str()), 1;
        files.push_back(path);
    }

    std::printf(
        "waveform: analysis to %d values vs FFmpeg decoding and discarding (thread CPU time, median of "
        "%d)\n",
        kValues, kRuns);
    double worst = 0;
    for (const auto& path : files) {
        std::vector<double> base, ours;
        for (int i = 0; i < kRuns; ++i) {
            base.push_back(decodeAndDiscard(path));
            ours.push_back(analyse(path));
        }
        if (*std::min_element(base.begin(), base.end()) < 0
            || *std::min_element(ours.begin(), ours.end()) < 0)
            return std::fprintf(stderr, "kivo-bench waveform: %s could not be analysed\n", path.c_str()), 1;
        const double ratio = median(ours) / median(base);
        worst = std::max(worst, ratio);
        std::printf("  %-5s analysis %8.2f ms  baseline %8.2f ms  ratio %.3f\n",
            std::filesystem::path(path).extension().c_str() + 1, median(ours) * 1e3, median(base) * 1e3,
            ratio);
    }
    std::printf("waveform ratio: %.3f (target <= 1.2)\n", worst);
    return worst <= 1.2 ? 0 : 1;
}

kivo::tools::SubcommandRegistrar registrar(
    "waveform", "waveform analysis of a 5-minute wav, mp3, flac vs FFmpeg decoding alone", waveformBench);

} // namespace
