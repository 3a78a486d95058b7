#include "PreviewHarness.h"

#include "platform/PreferenceStore.h"
#include "playback/OutputDevice.h"
#include "playback/OutputPreferences.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace kivo;
using playback::OutputChoice;
using playback::OutputDevice;

namespace {

bool waitFor(const std::function<bool()>& done)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

} // namespace

TEST(OutputDevice, ChoicesAreBroughtToOfferedValuesAndMatchedAgainstPresentDevices)
{
    OutputChoice odd { "ALSA", "", 100, 12345 };
    const OutputChoice n = odd.normalised();
    EXPECT_EQ(n.hostApi, ""); // the system default has no host of its own
    EXPECT_EQ(n.bufferFrames, 128);
    EXPECT_EQ(n.sampleRate, 0);
    EXPECT_EQ((OutputChoice { "JACK", "system", 1, 96000 }.normalised().bufferFrames), 64);
    EXPECT_EQ((OutputChoice { "JACK", "system", 1 << 20, 44100 }.normalised()),
        (OutputChoice { "JACK", "system", 2048, 44100 }));

    const std::vector<OutputDevice> devices {
        { "ALSA", "Scarlett 2i2 USB: Audio (hw:1,0)", 2, 48000, false },
        { "ALSA", "HDMI 0 (hw:0,3)", 0, 48000, false }, // input only
        { "ALSA", "default", 32, 48000, true },
        { "JACK Audio Connection Kit", "system", 2, 44100, false },
    };
    auto resolve = [&](const std::string& host, const std::string& name, int defaultIndex = 2) {
        return playback::resolveOutput(devices, defaultIndex, OutputChoice { host, name });
    };
    EXPECT_EQ(resolve("", "").index, 2);
    EXPECT_FALSE(resolve("", "").missing);
    EXPECT_EQ(resolve("JACK Audio Connection Kit", "system").index, 3);
    // The card came back under another number.
    EXPECT_EQ(resolve("ALSA", "Scarlett 2i2 USB: Audio (hw:2,0)").index, 0);
    // Same name under another host, a device that cannot play, and one that is gone: the default.
    for (const auto& [host, name] : { std::pair { "ALSA", "system" }, { "ALSA", "HDMI 0 (hw:0,3)" },
             { "ALSA", "Unplugged Interface" } }) {
        const auto where = resolve(host, name);
        EXPECT_EQ(where.index, 2) << name;
        EXPECT_TRUE(where.missing) << name;
    }
    EXPECT_EQ(resolve("ALSA", "Unplugged Interface", -1).index, -1);

    const OutputChoice gone { "ALSA", "Unplugged Interface" };
    EXPECT_EQ(playback::deviceMissingMessage(gone, false),
        "\u201cUnplugged Interface\u201d is not available: playing through the default output");
    EXPECT_NE(playback::deviceMissingMessage(gone, true).find("no sound"), std::string::npos);
    EXPECT_EQ(playback::deviceFailedMessage(OutputChoice { "ALSA", "X", 64, 96000 }, 96000, false),
        "\u201cX\u201d would not open at 96000 Hz with 64 frames: playing through the default output");
}

TEST(OutputDevice, ChoiceSurvivesARestartAndDamagedValuesReadAsDefaults)
{
    test::ScratchDir dir;
    const QString file = dir.path() + QStringLiteral("/Preferences.plist");
    const OutputChoice chosen { "JACK Audio Connection Kit", "system", 512, 96000 };
    {
        platform::PreferenceStore store(file);
        EXPECT_EQ(playback::loadOutputChoice(store), OutputChoice {});
        playback::storeOutputChoice(store, chosen);
    }
    {
        platform::PreferenceStore store(file);
        EXPECT_EQ(playback::loadOutputChoice(store), chosen);
        store.setValue(QString::fromLatin1(playback::kOutputBufferFramesKey), QStringLiteral("lots"));
        store.setValue(QString::fromLatin1(playback::kOutputSampleRateKey), qint64(-44100));
        store.setValue(QString::fromLatin1(playback::kOutputDeviceKey), qint64(3));
        EXPECT_EQ(playback::loadOutputChoice(store), OutputChoice {});
    }
}

// With or without a sound card: a remembered device that is not there plays through the default
// output (or keeps time silently), says so, and choosing the default again clears the notice.
TEST(OutputDevice, UnknownDeviceFallsBackToTheDefaultAndSaysSo)
{
    playback::AudioEngine engine;
    std::atomic<int> reports { 0 };
    engine.setOutputObserver([&] { ++reports; });
    engine.setOutputChoice(OutputChoice { "ALSA", "No Such Interface", 64, 0 });
    engine.start();
    ASSERT_TRUE(waitFor([&] { return !engine.outputStatus().message.empty(); }));
    const playback::OutputStatus status = engine.outputStatus();
    EXPECT_NE(status.message.find("\u201cNo Such Interface\u201d is not available"), std::string::npos);
    EXPECT_EQ(status.bufferFrames, 64);
    EXPECT_EQ(status.rate, engine.sampleRate());
    EXPECT_GT(reports.load(), 0);
    // Time goes on, through the default device or the null output.
    const int64_t frames = engine.renderedFrames();
    EXPECT_TRUE(waitFor([&] { return engine.renderedFrames() > frames; }));

    for (const OutputDevice& device : engine.listOutputDevices()) {
        EXPECT_FALSE(device.name.empty());
        EXPECT_GT(device.maxChannels, 0);
    }
    engine.setOutputChoice(OutputChoice {});
    EXPECT_TRUE(waitFor([&] { return engine.outputStatus().message.empty(); }));
    engine.stop();
    EXPECT_TRUE(waitFor([&] { return !engine.outputStatus().device && engine.outputStatus().rate == 0; }));
}

// A new device with another rate: the previewed file is opened again for it and plays on from
// where it was, in tune.
TEST(OutputDevice, PreviewFollowsTheEngineToAnotherRate)
{
    test::PreviewHarness h;
    auto& m = h.manager();
    const QUrl tone = h.makeTone("tone.wav", "synth 3 sine 1000 vol 0.5");
    m.play(tone);
    h.run(0.5);

    auto& engine = h.engine();
    engine.stop();
    engine.useOfflineRendering(44100);
    engine.start();
    // Made for 48 kHz, the player stays silent at 44.1 kHz rather than play off pitch.
    const auto before = engine.render(4410);
    EXPECT_TRUE(std::all_of(before.begin(), before.end(), [](float s) { return s == 0.0f; }));
    m.outputRateChanged();
    EXPECT_TRUE(m.isPlaying());
    const auto after = engine.render(44100 / 2);
    EXPECT_NEAR(m.currentTime(), 1.0, 0.03);
    // One second of 1 kHz at 44.1 kHz crosses zero upwards 1000 times: about 500 in half a second.
    int rising = 0;
    for (std::size_t i = 2; i < after.size(); i += 2)
        rising += after[i - 2] < 0 && after[i] >= 0;
    EXPECT_NEAR(rising, 500, 3);
}
