#include "PreviewHarness.h"

#include "playback/PreviewLevels.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace kivo::playback;
using kivo::test::PreviewHarness;

TEST(PreviewLevels, GainCurveMeterScalesAndTheMIDIQueueOfTheLastThreeAndTheirPeak)
{
    EXPECT_FLOAT_EQ(volumeGain(1.0f), 1.0f);
    EXPECT_NEAR(gainDecibels(volumeGain(0.5f)), -5.97, 0.01);
    EXPECT_EQ(volumeGain(-2.0f), volumeGain(0.0f));
    for (float p = 0.05f; p <= 1.0f; p += 0.05f)
        EXPECT_GT(volumeGain(p), volumeGain(p - 0.05f)) << p;
    EXPECT_EQ(gainDecibels(0.0f), kSilenceDB);

    // Audio (full scale, knob 0 and silence are the player's meter test below).
    EXPECT_NEAR(audioMeterLevel(-35.0f, 0.0f), 0.25f, 1e-6);
    EXPECT_EQ(audioMeterLevel(-65.0f, 0.0f), 0.0f);
    // MIDI: -70 dB empty, -10 dB full.
    EXPECT_EQ(midiMeterLevel(-10.0f), 1.0f);
    EXPECT_EQ(midiMeterLevel(0.0f), 1.0f);
    EXPECT_NEAR(midiMeterLevel(-40.0f), 0.25f, 1e-6);
    EXPECT_EQ(midiMeterLevel(kSilenceDB), 0.0f);

    // A louder reading wins at once (the release steps are the audio meter's test below).
    EXPECT_EQ(releasedLevel(0.3f, 0.8f), 0.8f);

    std::deque<MeterPair> queue;
    MeterBatch batch;
    batch.count = 2;
    batch.left = { -20, -30 };
    batch.right = { -50, -60 };
    enqueueMeterBatch(queue, batch);
    EXPECT_EQ(queue.size(), 2u);

    // Six pairs: the last three stay, the first kept one raised to the loudest dropped per side.
    batch.count = 4;
    batch.left = { -40, -5, -45, -50 };
    batch.right = { -70, -80, -90, -12 };
    enqueueMeterBatch(queue, batch);
    ASSERT_EQ(queue.size(), 3u);
    EXPECT_EQ(queue[0], MeterPair(-5.0f, -50.0f));
    EXPECT_EQ(queue[1], MeterPair(-45.0f, -90.0f));
    EXPECT_EQ(queue[2], MeterPair(-50.0f, -12.0f));
    // The carried peak moves on with every drop, each side keeping its larger value.
    batch.count = 1;
    batch.left = { -100 };
    batch.right = { -100 };
    enqueueMeterBatch(queue, batch);
    EXPECT_EQ(queue[0], MeterPair(-5.0f, -50.0f));
    enqueueMeterBatch(queue, batch);
    EXPECT_EQ(queue[0], MeterPair(-5.0f, -12.0f));
    EXPECT_EQ(queue[2], MeterPair(-100.0f, -100.0f));
    // An empty or bogus batch adds nothing.
    batch.count = -3;
    enqueueMeterBatch(queue, batch);
    EXPECT_EQ(queue.size(), 3u);
}

TEST(PreviewLevels, AudioMeterFollowsThePlayerAndDecaysAfterwards)
{
    PreviewHarness h(1.0f);
    auto& m = h.manager();
    // Full-scale sine: -3 dB average power, pinned at knob 1.
    const QUrl loud = h.makeTone("loud.wav", "synth 3 sine 440 vol 0.999");
    m.play(loud);
    h.run(0.2);
    EXPECT_EQ(m.outputLevels().left(), 1.0f);
    EXPECT_EQ(m.outputLevels().right(), 1.0f);
    // At knob 0 the same file shows ((−30 − 3 + 65) / 60)^2.
    m.volumeControl().setPosition(0.0f);
    h.run(0.5);
    EXPECT_NEAR(m.outputLevels().left(), std::pow(32.0 / 60.0, 2), 0.01);

    // A mono file shows on both sides; a right-only stereo file only on the right.
    m.volumeControl().setPosition(1.0f);
    const QUrl mono = h.makeTone("mono.wav", "synth 2 sine 440 vol 0.5", 1);
    m.play(mono);
    h.run(0.3);
    EXPECT_GT(m.outputLevels().left(), 0.5f);
    EXPECT_EQ(m.outputLevels().left(), m.outputLevels().right());
    const QUrl right = h.makeTone("right.wav", "synth 2 sine 440 vol 0.5 remix 0 1");
    m.play(right);
    h.run(0.5);
    EXPECT_EQ(m.outputLevels().left(), 0.0f);
    EXPECT_GT(m.outputLevels().right(), 0.5f);

    // Stopped at full scale: 0.9, 0.8, ... and the timer goes on the tick that reaches 0.
    m.play(loud);
    h.run(0.2);
    ASSERT_EQ(m.outputLevels().left(), 1.0f);
    m.stop();
    std::vector<float> seen;
    QObject::connect(
        &m.outputLevels(), &StereoLevels::leftChanged, [&] { seen.push_back(m.outputLevels().left()); });
    h.clock().advance(1.0);
    ASSERT_EQ(seen.size(), 10u);
    EXPECT_NEAR(seen[0], 0.9f, 1e-5);
    EXPECT_NEAR(seen[4], 0.5f, 1e-5);
    EXPECT_EQ(seen[9], 0.0f);
    EXPECT_FALSE(m.meterTimerRunning());
}
