#include "AudioAnalysis.h"

#include "Analysers.h"
#include "Signal.h"

#include "playback/AudioDecoder.h"

#include <cmath>

namespace kivo::analysis {

namespace {

// Something starts after the file does: a held tone alone has no beat.
bool hasOnsetAfterStart(const OnsetEnvelope& envelope)
{
    const std::size_t settle = std::size_t(0.1 * envelope.frameRate);
    for (std::size_t f = settle; f < envelope.values.size(); ++f)
        if (envelope.values[f] >= kMinOnset)
            return true;
    return false;
}

// An hour of stereo at the decoding rate; past it a file is analysed from its first hour.
constexpr std::size_t kMaxFrames = std::size_t(3600) * kDecodeRate;

std::vector<float> monoAtAnalysisRate(const std::vector<float>& stereo)
{
    const std::size_t frames = stereo.size() / 2;
    std::vector<float> mixed(frames);
    for (std::size_t i = 0; i < frames; ++i)
        mixed[i] = 0.5f * (stereo[2 * i] + stereo[2 * i + 1]);
    return decimateByTwo(mixed);
}

AnalysisResult analyse(const std::vector<float>& stereo, int sourceChannels, Hearing hearing)
{
    AnalysisResult result;
    const std::size_t frames = stereo.size() / 2;
    result.duration = double(frames) / kDecodeRate;
    if (frames == 0) {
        result.error = "The file holds no audio";
        return result;
    }
    if (hearing == Hearing::fingerprintOnly) {
        result.fingerprint = fingerprint(monoAtAnalysisRate(stereo));
        result.audioHash = hashSamples(stereo);
        result.fingerprinted = true;
        return result;
    }
    // A mono source is measured as one channel, as it is meant to be heard.
    Loudness loudness;
    if (sourceChannels == 1) {
        std::vector<float> mono(frames);
        for (std::size_t i = 0; i < frames; ++i)
            mono[i] = stereo[2 * i];
        loudness = measureLoudness(mono, 1, kDecodeRate);
    } else {
        loudness = measureLoudness(stereo, 2, kDecodeRate);
    }
    result.loudness = loudness.integrated;
    result.truePeak = loudness.truePeak;

    const std::vector<float> mono = monoAtAnalysisRate(stereo);
    const OnsetEnvelope envelope = onsetEnvelope(mono);
    const bool loop = looksLikeLoop(mono, envelope);
    result.isLoop = loop;
    // A one-shot sounds once, and a drone has no beat: neither has a tempo of its own.
    if (loop && hasOnsetAfterStart(envelope))
        result.bpm = estimateTempo(envelope, result.duration, true);
    result.key = estimateKey(mono, loop);
    result.fingerprint = fingerprint(mono);
    result.audioHash = hashSamples(stereo);
    result.fingerprinted = true;
    return result;
}

} // namespace

AnalysisResult analyseStereo(const std::vector<float>& stereo)
{
    return analyse(stereo, 2, Hearing::everything);
}

AnalysisResult analyseFile(const std::string& path, Hearing hearing)
{
    playback::AudioDecoder decoder;
    // The analyser runs at idle priority and may wait seconds for the processor between reads:
    // only a share that has stopped answering should cut a file short.
    decoder.setBounds(std::chrono::seconds(30), std::chrono::seconds(30));
    if (std::string error = decoder.open(path, kDecodeRate); !error.empty()) {
        AnalysisResult result;
        result.error = error;
        return result;
    }
    std::vector<float> stereo;
    if (decoder.durationFrames() > 0)
        stereo.reserve(std::size_t(std::min<int64_t>(decoder.durationFrames(), kMaxFrames)) * 2);
    while (stereo.size() / 2 < kMaxFrames && decoder.decodeNext([&](const float* samples, int count) {
        stereo.insert(stereo.end(), samples, samples + 2 * std::size_t(count));
    })) { }
    if (decoder.wasCut()) {
        AnalysisResult result;
        result.error = "Reading the file took too long";
        result.retry = true;
        return result;
    }
    // Non-finite samples from a damaged stream would poison every sum after them.
    for (float& s : stereo)
        if (!std::isfinite(s))
            s = 0;
    return analyse(stereo, decoder.channelCount(), hearing);
}

} // namespace kivo::analysis
