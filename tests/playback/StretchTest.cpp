// Project tempo and key: how far a sample moves, and how well the stretched preview keeps time and
// pitch, heard through the engine's offline render.

#include "PlaybackTestSupport.h"
#include "support/TestEnvironment.h"

#include "playback/AudioEngine.h"
#include "playback/AudioFilePlayer.h"
#include "playback/ProjectSync.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace kivo::playback;
using kivo::music::MusicalKey;
using kivo::test::ScratchDir;
using kivo::test::sineFrequency;

namespace {

constexpr int kRate = 48000;

MusicalKey key(const char* text)
{
    return *MusicalKey::parse(text);
}

// The whole preview of `path` at `stretch`, rendered until the player stops by itself.
std::vector<float> renderStretched(
    const std::string& path, StretchAmount stretch, TimeStretcher::Engine engine)
{
    AudioEngine audio;
    audio.useOfflineRendering(kRate);
    audio.stretchers()->setEngine(engine);
    std::string error;
    auto player = AudioFilePlayer::create(audio, path, error, stretch);
    EXPECT_TRUE(player) << error;
    if (!player)
        return {};
    player->play();
    std::vector<float> out;
    while (player->isPlaying() && out.size() < std::size_t(kRate) * 2 * 60) {
        std::vector<float> block = audio.render(1024);
        out.insert(out.end(), block.begin(), block.end());
    }
    return out;
}

} // namespace

TEST(ProjectSync, LoopsMeetTheProjectTempoAndTonalSamplesItsKeyByTheLeastMove)
{
    // Tempo: the least stretch that keeps the beat, so half and double time play at their own speed.
    EXPECT_DOUBLE_EQ(tempoRate(120, 144), 1.2);
    EXPECT_DOUBLE_EQ(tempoRate(120, 96), 0.8);
    EXPECT_DOUBLE_EQ(tempoRate(170, 85), 1.0);
    EXPECT_DOUBLE_EQ(tempoRate(70, 140), 1.0);
    EXPECT_DOUBLE_EQ(tempoRate(90, 200), 200.0 / 180.0);
    EXPECT_DOUBLE_EQ(tempoRate(0, 120), 1.0);

    // Key: the nearest way to the project key in the sample's own mode (its relative otherwise).
    EXPECT_EQ(keyShift(key("C"), key("G")), -5);
    EXPECT_EQ(keyShift(key("C"), key("D")), 2);
    EXPECT_EQ(keyShift(key("Am"), key("C")), 0);
    EXPECT_EQ(keyShift(key("C"), key("Am")), 0);
    EXPECT_EQ(keyShift(key("Em"), key("F")), -2); // to D minor
    EXPECT_EQ(keyShift(key("C"), key("F#")), -6); // a tritone goes down

    ProjectSync project { 144.0, key("D"), true, true };
    const SampleMusic loop { 120.0, key("C"), true };
    StretchAmount amount = stretchFor(project, loop, 1.0);
    EXPECT_DOUBLE_EQ(amount.timeRatio, 1 / 1.2);
    EXPECT_DOUBLE_EQ(amount.pitchScale, std::pow(2.0, 2 / 12.0));
    // A one-shot keeps its length: heard as one, or before it is heard, shorter than a bar at its
    // tempo (2 s at 120 BPM). A sample without a key keeps its pitch; toggles off leave it be.
    EXPECT_EQ(stretchFor(project, { 120.0, std::nullopt, false }, 8.0), StretchAmount {});
    EXPECT_EQ(stretchFor(project, { 120.0, std::nullopt, std::nullopt }, 0.8), StretchAmount {});
    EXPECT_DOUBLE_EQ(stretchFor(project, { 120.0, std::nullopt, std::nullopt }, 1.95).timeRatio, 1 / 1.2);
    project.syncKey = false;
    EXPECT_DOUBLE_EQ(stretchFor(project, loop, 1.0).pitchScale, 1.0);
    project.syncTempo = false;
    EXPECT_FALSE(stretchFor(project, loop, 1.0).active());
}

TEST(ProjectSync, EveryEngineKeepsADrumLoopsOnsetsOnTheGridAndShiftsASineOntoTheInterval)
{
    // Eight clicks at 120 BPM, played 20 % faster and slower: the R3 engines within 5 ms of the grid,
    // the R2 fallback (which smears a click ahead of itself) within 20 ms. A sine a fifth up: R3
    // within 5 cents, R2 within 10.
    ScratchDir dir;
    const std::string loop = dir.str() + "/loop.wav";
    ASSERT_TRUE(kivo::test::shell("sox -R -n -r 48000 -c 2 -b 16 '" + loop
        + "' synth 0.03 noise fade 0 0.03 0.025 vol 0.8 pad 0 0.47 repeat 7"));
    const std::string tone = dir.tone("tone.wav", "synth 3 sine 440 vol 0.5");
    const double fifth = std::pow(2.0, 7 / 12.0);
    for (auto engine :
        { TimeStretcher::Engine::Finer, TimeStretcher::Engine::FinerShort, TimeStretcher::Engine::Faster }) {
        const char* name = TimeStretcher::engineName(engine);
        const bool r2 = engine == TimeStretcher::Engine::Faster;
        for (double rate : { 1.2, 0.8 }) {
            const std::vector<float> out = renderStretched(loop, { 1 / rate, 1.0 }, engine);
            const double spacing = 0.5 / rate;
            EXPECT_NEAR(double(out.size() / 2) / kRate, 4 / rate, 0.03) << name;
            double worst = 0;
            int found = 0;
            for (int beat = 0; beat < 8; ++beat) {
                const int from = int((beat * spacing - spacing / 2) * kRate);
                const int at = kivo::test::firstFrameAbove(out, std::max(from, 0), 0.1f);
                if (at < 0 || at > from + spacing * kRate)
                    continue;
                ++found;
                worst = std::max(worst, std::fabs(double(at) / kRate - beat * spacing));
            }
            EXPECT_EQ(found, 8) << name << " at " << rate;
            EXPECT_LT(worst, r2 ? 0.02 : 0.005) << name << " at " << rate;
            std::printf("onsets %-11s at %.1f: worst %.2f ms\n", name, rate, worst * 1000);
        }
        const std::vector<float> out = renderStretched(tone, { 1.0, fifth }, engine);
        ASSERT_GT(out.size(), std::size_t(kRate) * 2 * 2);
        const double heard = sineFrequency(out, kRate, kRate / 2, kRate * 5 / 2);
        const double cents = 1200 * std::log2(heard / (440 * fifth));
        EXPECT_LT(std::fabs(cents), r2 ? 10.0 : 5.0) << name << ": " << heard << " Hz";
        std::printf("fifth %-11s %.3f Hz, %+.3f cents\n", name, heard, cents);
    }
}

TEST(ProjectSync, StretchedPreviewKeepsTheFilesOwnTime)
{
    ScratchDir dir;
    const std::string tone = dir.tone("tone.flac", "synth 4 sine 330 vol 0.5", 44100);
    AudioEngine audio;
    audio.useOfflineRendering(kRate);
    std::string error;
    auto player = AudioFilePlayer::create(audio, tone, error, { 1.25, 1.0 });
    ASSERT_TRUE(player) << error;
    EXPECT_DOUBLE_EQ(player->duration(), 4.0);
    player->play();
    // One played second is 0.8 s of the file.
    audio.render(kRate);
    EXPECT_NEAR(player->currentTime(), 0.8, 0.02);
    // A jump is to the file's time; a new stretch goes on from where the preview is.
    player->setCurrentTime(2.0);
    audio.render(kRate / 2);
    EXPECT_NEAR(player->currentTime(), 2.4, 0.02);
    player->setStretch({ 0.5, std::pow(2.0, 12 / 12.0) });
    EXPECT_NEAR(player->currentTime(), 2.4, 0.02);
    const std::vector<float> octave = audio.render(kRate / 2);
    EXPECT_NEAR(player->currentTime(), 3.4, 0.02);
    EXPECT_NEAR(sineFrequency(octave, kRate, kRate / 10, kRate / 2), 660, 1);
    // The rest of the file, 0.6 s, takes 0.3 s; then the player stops at the end by itself.
    audio.render(kRate * 3 / 10 + 2048);
    EXPECT_FALSE(player->isPlaying());
    EXPECT_TRUE(player->isAtEnd());
    // Unstretched again, from the start: the file plays plain.
    player->setStretch({});
    player->play();
    const std::vector<float> plain = audio.render(kRate / 2);
    EXPECT_NEAR(sineFrequency(plain, kRate, kRate / 10, kRate / 2), 330, 0.5);
    EXPECT_NEAR(player->currentTime(), 0.5, 0.02);
}
