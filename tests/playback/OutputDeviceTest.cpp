#include "PlaybackTestSupport.h"
#include "PreviewHarness.h"

#include "platform/PreferenceStore.h"
#include "playback/AudioFilePlayer.h"
#include "playback/OutputBackend.h"
#include "playback/OutputDevice.h"
#include "playback/OutputPreferences.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

using namespace kivo;
using playback::OutputChoice;
using playback::OutputDevice;

namespace {

bool waitFor(const std::function<bool()>& done)
{
    return test::waitFor(done, 60000);
}

// A sound system whose devices the test plugs in and pulls out. An open stream pulls audio in
// real time on a thread of its own and ends, as a real one does, when its device goes.
class FakeBackend final : public playback::OutputBackend {
public:
    struct Devices {
        std::mutex mutex;
        std::vector<OutputDevice> present;
        bool changed = false;

        void plug(const OutputDevice& device)
        {
            std::lock_guard lock(mutex);
            present.push_back(device);
            changed = true;
        }
        void pull(const std::string& name)
        {
            std::lock_guard lock(mutex);
            std::erase_if(present, [&](const OutputDevice& d) { return d.name == name; });
            changed = true;
        }
        bool has(const std::string& name)
        {
            std::lock_guard lock(mutex);
            return std::any_of(
                present.begin(), present.end(), [&](const OutputDevice& d) { return d.name == name; });
        }
    };

    explicit FakeBackend(std::shared_ptr<Devices> devices)
        : m_shared(std::move(devices))
    {
    }
    ~FakeBackend() override { close(); }

    bool refresh() override
    {
        close();
        std::lock_guard lock(m_shared->mutex);
        m_devices = m_shared->present;
        m_shared->changed = false;
        return true;
    }
    std::vector<OutputDevice> devices(int& defaultIndex) override
    {
        auto it = std::find_if(
            m_devices.begin(), m_devices.end(), [](const OutputDevice& d) { return d.isDefault; });
        defaultIndex = it == m_devices.end() ? -1 : int(it - m_devices.begin());
        return m_devices;
    }
    bool open(int index, int rate, int bufferFrames, Render render, Finished finished) override
    {
        close();
        const std::string name = m_devices.at(std::size_t(index)).name;
        if (!m_shared->has(name))
            return false;
        m_active = true;
        m_stop = false;
        m_stream = std::thread([=, this] {
            std::vector<float> block(std::size_t(bufferFrames) * 2);
            const auto period = std::chrono::duration<double>(double(bufferFrames) / rate);
            while (!m_stop && m_shared->has(name)) {
                render(block.data(), bufferFrames);
                std::this_thread::sleep_for(period);
            }
            m_active = false;
            finished();
        });
        return true;
    }
    void close() override
    {
        m_stop = true;
        if (m_stream.joinable())
            m_stream.join();
    }
    bool streamActive() override { return m_active; }
    bool devicesMayHaveChanged() override
    {
        std::lock_guard lock(m_shared->mutex);
        return std::exchange(m_shared->changed, false);
    }

private:
    std::shared_ptr<Devices> m_shared;
    std::vector<OutputDevice> m_devices;
    std::thread m_stream;
    std::atomic<bool> m_stop { false };
    std::atomic<bool> m_active { false };
};

} // namespace

// The chosen interface is missing at start, then plugged in, pulled out while a preview plays and
// plugged in again: the preview goes on through the default output meanwhile, the strip says why,
// and the interface is taken back each time it comes (under another card number too).
TEST(OutputDevice, DeviceThatVanishesMidPlaybackFallsBackAndIsTakenBackWhenItReturns)
{
    auto devices = std::make_shared<FakeBackend::Devices>();
    const std::string interface = "Scarlett 2i2 USB: Audio (hw:1,0)";
    devices->present = { { "ALSA", "default", 32, 48000, true } };
    playback::AudioEngine engine(std::make_unique<FakeBackend>(devices));
    std::atomic<int> reports { 0 };
    engine.setOutputObserver([&] { ++reports; });
    engine.setOutputChoice(OutputChoice { "ALSA", interface, 64, 0 });
    test::ScratchDir dir;
    std::string error;
    auto player = playback::AudioFilePlayer::create(
        engine, dir.tone("tone.wav", "synth 20 sine 440 vol 0.5", 48000, 2), error);
    ASSERT_TRUE(player) << error;
    player->play();
    auto playsOn = [&] {
        const double at = player->currentTime();
        return waitFor([&] { return player->currentTime() > at + 0.05; }) && player->isPlaying();
    };
    ASSERT_TRUE(waitFor([&] { return engine.outputStatus().device; }));
    EXPECT_EQ(engine.outputStatus().name, "default");
    EXPECT_EQ(engine.outputStatus().message, playback::deviceMissingMessage({ "ALSA", interface }, false));
    EXPECT_EQ(engine.outputStatus().bufferFrames, 64);
    EXPECT_EQ(engine.outputStatus().rate, engine.sampleRate());
    EXPECT_GT(reports.load(), 0);
    EXPECT_TRUE(playsOn());
    devices->plug({ "ALSA", interface, 2, 48000, false });
    ASSERT_TRUE(waitFor([&] { return engine.outputStatus().name == interface; }));
    EXPECT_EQ(engine.outputStatus().message, "");
    EXPECT_TRUE(playsOn());

    devices->pull(interface);
    ASSERT_TRUE(waitFor([&] { return engine.outputStatus().name == "default"; }));
    EXPECT_EQ(engine.outputStatus().message, playback::deviceLostMessage(interface, false));
    EXPECT_TRUE(playsOn());

    // Another device coming is not the chosen one: the default stays, and so does the notice.
    devices->plug({ "ALSA", "USB Headset (hw:3,0)", 2, 48000, false });
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    EXPECT_EQ(engine.outputStatus().name, "default");
    EXPECT_EQ(engine.outputStatus().message, playback::deviceLostMessage(interface, false));

    const std::string again = "Scarlett 2i2 USB: Audio (hw:2,0)";
    devices->plug({ "ALSA", again, 2, 48000, false });
    ASSERT_TRUE(waitFor([&] { return engine.outputStatus().name == again; }));
    EXPECT_EQ(engine.outputStatus().message, "");
    EXPECT_TRUE(playsOn());
    EXPECT_EQ(engine.listOutputDevices().size(), 3u);
}

TEST(OutputDevice, ChoicesAreBroughtToOfferedValuesMatchedAgainstPresentDevicesAndSurviveARestart)
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

    // Stored and read back; damaged values read as defaults, the host with them. (A choice surviving
    // a restart is the settings window's test.)
    test::ScratchDir dir;
    platform::PreferenceStore store(dir.path() + QStringLiteral("/Preferences.plist"));
    EXPECT_EQ(playback::loadOutputChoice(store), OutputChoice {});
    const OutputChoice chosen { "JACK Audio Connection Kit", "system", 512, 96000 };
    playback::storeOutputChoice(store, chosen);
    EXPECT_EQ(playback::loadOutputChoice(store), chosen);
    store.setValue(QString::fromLatin1(playback::kOutputBufferFramesKey), QStringLiteral("lots"));
    store.setValue(QString::fromLatin1(playback::kOutputSampleRateKey), qint64(-44100));
    store.setValue(QString::fromLatin1(playback::kOutputDeviceKey), qint64(3));
    EXPECT_EQ(playback::loadOutputChoice(store), OutputChoice {});
}

// PortAudio itself, with or without a sound card: the default output (or the null output keeping
// time) plays, and the devices it lists can play.
TEST(OutputDevice, PortAudioPlaysThroughTheDefaultOrKeepsTime)
{
    playback::AudioEngine engine;
    engine.start();
    const int64_t frames = engine.renderedFrames();
    EXPECT_TRUE(waitFor([&] { return engine.renderedFrames() > frames; }));
    EXPECT_EQ(engine.outputStatus().message, "");
    for (const OutputDevice& device : engine.listOutputDevices()) {
        EXPECT_FALSE(device.name.empty());
        EXPECT_GT(device.maxChannels, 0);
    }
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
    EXPECT_NEAR(test::sineFrequency(after, 44100, 0, 44100 / 2), 1000, 5);
}
