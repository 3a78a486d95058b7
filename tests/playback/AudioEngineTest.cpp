#include "PlaybackTestSupport.h"
#include "support/TestEnvironment.h"

#include "playback/AudioEngine.h"
#include "playback/AudioFilePlayer.h"
#include "playback/MeterTap.h"
#include "playback/SafetyLimiter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using namespace kivo::playback;
using kivo::test::ScratchDir;

namespace {

constexpr int kRate = 48000;

struct OfflineEngine {
    AudioEngine engine;
    OfflineEngine()
    {
        engine.useOfflineRendering(kRate);
        engine.start();
    }
};

} // namespace

TEST(AudioEngine, FilePlayerDecodesEveryFormatAtItsVolumeAndStopsAtTheEnd)
{
    ScratchDir dir;
    OfflineEngine off;
    // 2 s of a 440 Hz sine at half scale, mono 44.1 kHz: resampled and spread to both sides.
    const std::string wav = dir.tone("tone.wav", "synth 2 sine 440 vol 0.5", 44100, 1);
    std::string error;
    auto player = AudioFilePlayer::create(off.engine, wav, error);
    ASSERT_TRUE(player) << error;
    EXPECT_NEAR(player->duration(), 2.0, 1e-3);
    EXPECT_EQ(player->numberOfChannels(), 1);
    player->setVolume(0.5f);
    player->setMeteringEnabled(true);
    // (Silence before play and seeking are the preview player's tests, the end the loop's below.)
    ASSERT_TRUE(player->play());
    auto out = off.engine.render(kRate);
    EXPECT_NEAR(kivo::test::rms(out, 1000, kRate), 0.5 * 0.5 / std::sqrt(2.0), 0.01);
    EXPECT_NEAR(out[2001], out[2000 + 1], 1e-6); // both sides equal
    EXPECT_NEAR(kivo::test::estimatePitch(out, kRate, 1000, 9000), 440.0, 1.0);
    EXPECT_NEAR(player->currentTime(), 1.0, 0.02);
    player->updateMeters();
    // A half-scale sine has an average power of 20·log10(0.5/√2) ≈ −9 dB (before volume).
    EXPECT_NEAR(player->averagePower(0), -9.03, 0.3);
    player->pause();

    // Every format played to its end: it stops there, and the end rewinds like a stopped transport.
    // Compressed formats and their container durations (AAC padding trimmed); raw AAC and an mp3
    // without a length header are measured by the stream probe instead of read from a header.
    for (std::string name :
        { "tone.wav", "tone.mp3", "tone.flac", "tone.m4a", "tone.aiff", "tone.aac", "bare.mp3" }) {
        const std::string ext = name.substr(name.find('.') + 1);
        const bool exactLength = ext == "wav" || ext == "flac" || ext == "m4a" || ext == "aiff";
        std::string path = dir.str() + "/" + name;
        const std::string options = name == "bare.mp3" ? "-write_xing 0 " : "";
        ASSERT_TRUE(ext == "wav"
            || kivo::test::shell("ffmpeg -y -loglevel error -i '" + wav + "' " + options + "'" + path + "'"))
            << name;
        auto p = AudioFilePlayer::create(off.engine, path, error);
        ASSERT_TRUE(p) << name << ": " << error;
        EXPECT_NEAR(p->duration(), 2.0, exactLength ? 0.01 : 0.06) << name;
        p->play();
        auto all = off.engine.render(int(2.2 * kRate));
        EXPECT_FALSE(p->isPlaying()) << name;
        EXPECT_EQ(p->currentTime(), 0.0) << name;
        int last = 0;
        for (int i = 0; i < int(all.size() / 2); ++i)
            if (std::fabs(all[2 * i]) > 1e-3)
                last = i;
        EXPECT_NEAR(last, 2 * kRate, exactLength ? 200 : 2400) << name;
        EXPECT_NEAR(kivo::test::estimatePitch(all, kRate, 24000, 32000), 440.0, 1.5) << name;
    }

    // An mp3 whose rate changes midway (two files joined) is resampled by what each frame says.
    const std::string joined = dir.str() + "/joined.mp3";
    ASSERT_TRUE(
        kivo::test::shell("cd '" + dir.str() + "' && for r in 44100 22050; do ffmpeg -y -loglevel error -i '"
            + wav + "' -t 1 -ar $r -b:a 64k -write_xing 0 part$r.mp3 || exit 1; done && { cat part*.mp3 > '"
            + joined + "'; }"));
    auto both = AudioFilePlayer::create(off.engine, joined, error);
    ASSERT_TRUE(both) << error;
    both->play();
    auto heard = off.engine.render(int(1.9 * kRate));
    EXPECT_NEAR(kivo::test::estimatePitch(heard, kRate, 24000, 40000), 440.0, 1.5);
    EXPECT_NEAR(kivo::test::estimatePitch(heard, kRate, 60000, 84000), 440.0, 1.5);

    // Not audio at all, or no sample format: a clear error, no player.
    std::string junk = dir.write("junk.wav", "this is not audio");
    EXPECT_FALSE(AudioFilePlayer::create(off.engine, junk, error));
    EXPECT_FALSE(error.empty());
    const std::string ogg = dir.str() + "/tone.ogg";
    ASSERT_TRUE(kivo::test::shell("ffmpeg -y -loglevel error -i '" + wav + "' '" + ogg + "'"));
    EXPECT_FALSE(AudioFilePlayer::create(off.engine, ogg, error));
    EXPECT_EQ(error, "The file's format is not supported");
}

TEST(AudioEngine, SamplerToneMixerVolumeAndTheSafetyLimiterReachTheTap)
{
    OfflineEngine off;
    off.engine.sampler().useBuiltInTone();
    off.engine.setOutputVolume(0.25f);
    off.engine.tap().setEnabled(true);
    off.engine.sampler().startNote(69, 100, 0);
    MeterBatch batch;
    int batches = 0;
    auto drain = [&] {
        while (off.engine.tap().takeBatch(batch)) {
            ++batches;
            EXPECT_EQ(batch.count, 1); // 1024 frames never hold a whole 1/30 s window at 48 kHz
            EXPECT_GT(batch.left[0], -40.0f);
        }
    };
    std::vector<float> out;
    for (int i = 0; i < 4; ++i) {
        auto part = off.engine.render(kRate / 2);
        out.insert(out.end(), part.begin(), part.end());
        drain();
    }
    EXPECT_NEAR(kivo::test::estimatePitch(out, kRate, 4800, 12000), 440.0, 1.0);
    double level = kivo::test::rms(out, 2 * kRate - 2400, 2 * kRate);
    EXPECT_GT(level, 0.005);
    off.engine.setOutputVolume(1.0f);
    auto louder = off.engine.render(kRate / 10);
    EXPECT_NEAR(kivo::test::rms(louder, 0, 2400) / level, 4.0, 0.1);

    drain();
    EXPECT_EQ(batches, (2 * kRate + kRate / 10) / 1024);

    // All notes off; the silence reaches the meter once, not for every buffer.
    off.engine.sampler().sendController(123, 0, 0);
    off.engine.render(kRate);
    int silent = 0;
    while (off.engine.tap().takeBatch(batch))
        silent += batch.left[0] <= kSilenceDB;
    EXPECT_EQ(silent, 1);

    // Sixteen loud notes in unison mix to far above full scale, which the level tap (on the mix)
    // shows and the output, after the safety limiter, never passes.
    for (int channel = 0; channel < 16; ++channel)
        off.engine.sampler().startNote(60, 127, channel);
    const std::vector<float> loud = off.engine.render(kRate);
    const float peak = std::fabs(*std::max_element(
        loud.begin(), loud.end(), [](float a, float b) { return std::fabs(a) < std::fabs(b); }));
    EXPECT_LT(peak, 1.0f);
    EXPECT_GT(peak, 0.89f);
    float loudest = -200.0f;
    while (off.engine.tap().takeBatch(batch))
        for (int i = 0; i < batch.count; ++i)
            loudest = std::max(loudest, batch.left[std::size_t(i)]);
    EXPECT_GT(loudest, 6.0f);
}

TEST(SafetyLimiterAndMeterTap,
    KeepsTheOutputBelowFullScaleQuietMixesUntouchedAndTheMeterTapWindowsAndFiltersSilence)
{
    // The limiter on its own: a mix below -1 dBFS passes bit for bit, a loud one never reaches
    // 0 dBFS but is not silenced, and once the gain has recovered quiet passes untouched again.
    auto sine = [](float amplitude, int frames) {
        std::vector<float> out(std::size_t(frames) * 2);
        for (int i = 0; i < frames; ++i)
            out[2 * i] = out[2 * i + 1] = amplitude * float(std::sin(2 * M_PI * 440.0 * i / kRate));
        return out;
    };
    auto peak = [](const std::vector<float>& v) {
        float p = 0;
        for (float s : v)
            p = std::max(p, std::fabs(s));
        return p;
    };
    SafetyLimiter limiter(kRate);
    const std::vector<float> quiet = sine(0.885f, kRate / 2); // -1.06 dBFS
    std::vector<float> out = quiet;
    limiter.process(out.data(), kRate / 2);
    EXPECT_EQ(out, quiet);
    for (float amplitude : { 0.95f, 1.0f, 10.0f, 1e6f }) {
        out = sine(amplitude, kRate / 2);
        limiter.process(out.data(), kRate / 2);
        EXPECT_LT(peak(out), 1.0f) << amplitude;
        EXPECT_GT(peak(out), 0.89f) << amplitude;
    }
    const std::vector<float> after = sine(0.885f, 2 * kRate);
    out = after;
    limiter.process(out.data(), 2 * kRate);
    EXPECT_NE(out, after); // recovering at first
    EXPECT_EQ(std::vector<float>(out.end() - kRate / 2, out.end()),
        std::vector<float>(after.end() - kRate / 2, after.end()));
    out = { NAN, 0.5f, INFINITY, -INFINITY };
    SafetyLimiter(kRate).process(out.data(), 2);
    EXPECT_EQ(out, (std::vector<float> { 0.0f, 0.5f, 0.0f, 0.0f }));

    std::vector<float> buffer(4096 * 2, 0.5f);
    // 1024 frames at 44.1 kHz: the 1470-frame window is longer, one pair over all frames.
    MeterBatch one = analyseTapBuffer(buffer.data(), 1024, 2, 44100);
    ASSERT_EQ(one.count, 1);
    EXPECT_NEAR(one.left[0], 20 * std::log10(0.5), 1e-4);
    // 4096 frames at 48 kHz: two windows of 1600, the second covering frames 1600 to 4095.
    for (int i = 3200; i < 4096; ++i)
        buffer[2 * i] = buffer[2 * i + 1] = 0.0f;
    MeterBatch two = analyseTapBuffer(buffer.data(), 4096, 2, 48000);
    ASSERT_EQ(two.count, 2);
    EXPECT_NEAR(two.left[1], 20 * std::log10(0.5 * std::sqrt(1600.0 / 2496.0)), 1e-3);
    // Mono uses channel 0 for both; no rate means 48 kHz; digital silence is −160.
    std::vector<float> mono(1024, 0.0f);
    MeterBatch silent = analyseTapBuffer(mono.data(), 1024, 1, 0);
    EXPECT_EQ(silent.left[0], kSilenceDB);
    EXPECT_EQ(silent.right[0], kSilenceDB);

    SilenceFilter filter;
    EXPECT_TRUE(filter.admit(silent)); // the first silence after start passes
    EXPECT_FALSE(filter.admit(silent));
    EXPECT_TRUE(filter.admit(one));
    EXPECT_TRUE(filter.admit(silent));
    EXPECT_FALSE(filter.admit(silent));
}
