#include "PlaybackTestSupport.h"
#include "PreviewHarness.h"

#include "platform/NotificationCenter.h"
#include "platform/TaskRunner.h"
#include "playback/PreviewLevels.h"
#include "support/FifoWatchdog.h"

#include <QCoreApplication>
#include <QFile>
#include <QTest>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

using kivo::playback::volumeGain;
using kivo::test::PreviewHarness;
using kivo::test::rms;

namespace {

constexpr int kRate = PreviewHarness::kRate;

bool silent(const std::vector<float>& audio)
{
    for (float s : audio)
        if (s != 0.0f)
            return false;
    return true;
}

} // namespace

TEST(AudioPlayerManager, LoadIsSilentAndPlayStartsAtOnceFromTheBeginning)
{
    PreviewHarness h(0.5f);
    auto& m = h.manager();
    const QUrl tone = h.makeTone("tone.wav", "synth 2 sine 440 vol 0.5");

    m.load(tone);
    EXPECT_EQ(m.currentFile().url(), tone);
    EXPECT_EQ(m.playback().progress(), 0.0);
    EXPECT_NEAR(m.duration(), 2.0, 1e-3);
    EXPECT_FALSE(m.isPlaying());
    EXPECT_TRUE(silent(h.run(0.3)));
    EXPECT_EQ(m.currentTime(), 0.0);
    EXPECT_FALSE(m.progressTimerRunning());

    // Moving the loaded file does not matter to play, which always starts a fresh player at 0.
    m.seek(0.5);
    h.engine().resetFirstAudible();
    const int64_t before = h.engine().renderedFrames();
    m.play(tone);
    EXPECT_TRUE(m.isPlaying());
    EXPECT_EQ(m.playback().progress(), 0.0);
    EXPECT_TRUE(m.progressTimerRunning());
    auto out = h.run(0.5);
    // The first frame of a sine is 0; the second one already sounds.
    ASSERT_GE(h.engine().firstAudibleFileFrame(), before);
    EXPECT_LE(h.engine().firstAudibleFileFrame() - before, 1);
    EXPECT_NEAR(kivo::test::estimatePitch(out, kRate, 0, 8000), 440.0, 1.0);
    // Played at the knob's gain.
    EXPECT_NEAR(rms(out, 0, kRate / 2), 0.5 / std::sqrt(2.0) * volumeGain(0.5f), 0.003);
    EXPECT_NEAR(m.currentTime(), 0.5, 0.02);
    EXPECT_NEAR(m.playback().progress(), 0.25, 0.011);

    // Selecting another file stops this one and loads the next without sound.
    const QUrl other = h.makeTone("other.flac", "synth 1 square 220 vol 0.3");
    m.load(other);
    EXPECT_EQ(m.currentFile().url(), other);
    EXPECT_EQ(m.playback().progress(), 0.0);
    EXPECT_FALSE(m.isPlaying());
    EXPECT_FALSE(m.progressTimerRunning());
    EXPECT_TRUE(silent(h.run(0.2)));

    // A node without a file only stops.
    m.play(other);
    m.load(QUrl());
    EXPECT_FALSE(m.isPlaying());
    EXPECT_EQ(m.currentFile().url(), other);
}

TEST(AudioPlayerManager, PauseResumeStopAndTheEndOfTheFile)
{
    PreviewHarness h;
    auto& m = h.manager();
    const QUrl tone = h.makeTone("tone.wav", "synth 1.5 sine 330 vol 0.8");
    m.togglePlayPause(); // nothing loaded
    EXPECT_FALSE(m.hasPlayer());

    m.play(tone);
    h.run(0.5);
    m.togglePlayPause();
    EXPECT_FALSE(m.isPlaying());
    EXPECT_FALSE(m.progressTimerRunning());
    const double pausedAt = m.currentTime();
    const double progressAt = m.playback().progress();
    EXPECT_NEAR(pausedAt, 0.5, 0.02);
    EXPECT_TRUE(silent(h.run(0.4)));
    EXPECT_EQ(m.currentTime(), pausedAt);
    EXPECT_EQ(m.playback().progress(), progressAt);

    m.togglePlayPause();
    EXPECT_TRUE(m.isPlaying());
    EXPECT_TRUE(m.progressTimerRunning());
    h.run(0.2);
    EXPECT_NEAR(m.currentTime(), pausedAt + 0.2, 0.02);

    // stop() keeps the file and the progress; a second stop changes nothing.
    m.stop();
    EXPECT_FALSE(m.isPlaying());
    EXPECT_EQ(m.currentFile().url(), tone);
    const double stoppedProgress = m.playback().progress();
    m.stop();
    EXPECT_EQ(m.playback().progress(), stoppedProgress);

    // Played to the end: the player stops by itself and the progress timer goes.
    m.togglePlayPause();
    h.run(1.2);
    EXPECT_FALSE(m.isPlaying());
    EXPECT_FALSE(m.progressTimerRunning());
    EXPECT_GE(m.playback().progress(), 0.98);
    EXPECT_LE(m.playback().progress(), 1.0);
    // Resuming after the end starts again from the beginning.
    m.togglePlayPause();
    h.run(0.1);
    EXPECT_NEAR(m.currentTime(), 0.1, 0.02);
}

TEST(AudioPlayerManager, SeekMovesWithoutStartingAndClampsAndSkipsStopAtTheEnds)
{
    PreviewHarness h;
    auto& m = h.manager();
    const QUrl tone = h.makeTone("tone.aiff", "synth 4 sine 500 vol 0.5");
    m.load(tone);
    m.seek(0.5);
    EXPECT_NEAR(m.currentTime(), 2.0, 1e-9);
    EXPECT_NEAR(m.playback().progress(), 0.5, 1e-9);
    EXPECT_FALSE(m.isPlaying());
    EXPECT_TRUE(silent(h.run(0.2)));
    m.seek(1.7);
    EXPECT_NEAR(m.currentTime(), 4.0, 1e-9);
    m.seek(-0.3);
    EXPECT_EQ(m.currentTime(), 0.0);
    m.seek(std::nan(""));
    EXPECT_EQ(m.currentTime(), 0.0);

    // While playing it jumps and keeps playing from the new place.
    m.togglePlayPause();
    h.run(0.1);
    m.seek(0.75);
    EXPECT_TRUE(m.isPlaying());
    h.run(0.2);
    EXPECT_NEAR(m.currentTime(), 3.2, 0.02);

    // Skips: near the start, in the middle and at the end of a six-second tone.
    const QUrl tone6 = h.makeTone("long.wav", "synth 6 sine 440 vol 0.5");
    // Backward at 0.9 s goes to 0; at 5 s to 4 s; paused, it starts playing.
    m.load(tone6);
    m.seek(0.15);
    EXPECT_NEAR(m.currentTime(), 0.9, 1e-9);
    m.skipBackward(1.0);
    EXPECT_EQ(m.currentTime(), 0.0);
    EXPECT_TRUE(m.isPlaying());
    EXPECT_TRUE(m.progressTimerRunning());
    m.seek(5.0 / 6.0);
    m.skipBackward(1.0);
    EXPECT_NEAR(m.currentTime(), 4.0, 1e-9);
    EXPECT_TRUE(m.isPlaying());

    // Forward in the middle keeps playing.
    m.skipForward(1.0);
    EXPECT_NEAR(m.currentTime(), 5.0, 1e-9);
    EXPECT_TRUE(m.isPlaying());
    // Forward within the last second: exactly the end, stopped.
    m.seek(5.5 / 6.0);
    m.skipForward(1.0);
    EXPECT_EQ(m.playback().progress(), 1.0);
    EXPECT_NEAR(m.currentTime(), 6.0, 1e-9);
    EXPECT_FALSE(m.isPlaying());
    EXPECT_FALSE(m.progressTimerRunning());
    EXPECT_TRUE(silent(h.run(0.1)));
    // Not playing at the end: forward does nothing more.
    m.skipForward(1.0);
    EXPECT_EQ(m.playback().progress(), 1.0);
    EXPECT_FALSE(m.isPlaying());

    // Backward from the very end goes to duration - 1 s and plays.
    m.skipBackward(1.0);
    EXPECT_NEAR(m.currentTime(), 5.0, 1e-9);
    EXPECT_TRUE(m.isPlaying());
    auto out = h.run(0.5);
    EXPECT_GT(rms(out, 0, kRate / 2), 0.1);

    // After the file ended by itself (its position rewinds) the progress still marks the end.
    h.run(0.8);
    EXPECT_FALSE(m.isPlaying());
    EXPECT_GE(m.playback().progress(), 0.99);
    m.skipBackward(1.0);
    EXPECT_NEAR(m.currentTime(), 5.0, 1e-9);
    EXPECT_TRUE(m.isPlaying());

    // Backward longer than the file from the end starts at 0.
    const QUrl shortTone = h.makeTone("short.wav", "synth 0.5 sine 440");
    m.load(shortTone);
    m.seek(1.0);
    m.skipBackward(1.0);
    EXPECT_EQ(m.currentTime(), 0.0);
    EXPECT_TRUE(m.isPlaying());
}

TEST(AudioPlayerManager, VolumeGainIsLiveAndItsWriteIsDebounced)
{
    PreviewHarness h(0.8f);
    auto& m = h.manager();
    // The stored value is applied at once and not written back.
    EXPECT_EQ(m.volumeControl().position(), 0.8f);
    h.clock().advance(1.0);
    EXPECT_TRUE(h.storedVolumes().empty());

    const QUrl tone = h.makeTone("tone.wav", "synth 3 sine 440 vol 0.5");
    m.play(tone);
    auto loud = h.run(0.2);
    // Ten knob moves within 250 ms write once, the last value.
    for (int i = 1; i <= 10; ++i) {
        m.volumeControl().setPosition(i == 10 ? 0.0f : 0.8f - 0.08f * float(i));
        h.clock().advance(0.02);
    }
    EXPECT_TRUE(h.storedVolumes().empty());
    h.clock().advance(0.25);
    ASSERT_EQ(h.storedVolumes().size(), 1u);
    EXPECT_EQ(h.storedVolumes()[0], 0.0f);
    // Position 0 still plays, at -30 dB, right away.
    auto quiet = h.run(0.2);
    EXPECT_NEAR(
        rms(quiet, 0, kRate / 5) / rms(loud, 0, kRate / 5), volumeGain(0.0f) / volumeGain(0.8f), 0.002);
    EXPECT_NEAR(20 * std::log10(rms(quiet, 0, kRate / 5) / (0.5 / std::sqrt(2.0))), -30.0, 0.1);

    // Quitting inside the debounce window stores the last value once, at once.
    m.volumeControl().setPosition(0.6f);
    m.applicationWillTerminate();
    ASSERT_EQ(h.storedVolumes().size(), 2u);
    EXPECT_EQ(h.storedVolumes()[1], 0.6f);
    h.clock().advance(1.0);
    EXPECT_EQ(h.storedVolumes().size(), 2u);
}

TEST(AudioPlayerManager, MissingAndUnreadableFilesNeverCrashOrPlay)
{
    PreviewHarness h;
    auto& m = h.manager();
    const QUrl tone = h.makeTone("tone.wav", "synth 2 sine 440");
    const QUrl gone = h.makeTone("gone.wav", "synth 2 sine 440");
    m.play(tone);
    h.run(0.1);

    // Deleted between listing and preview: nothing loaded, the tracker hears of it.
    ASSERT_TRUE(QFile::remove(gone.toLocalFile()));
    m.play(gone);
    EXPECT_FALSE(m.currentFile().hasFile());
    EXPECT_EQ(m.playback().progress(), 0.0);
    EXPECT_FALSE(m.isPlaying());
    EXPECT_TRUE(h.tracker().isMissing(gone.toLocalFile()));
    EXPECT_TRUE(silent(h.run(0.1)));
    // Found again on the next selection.
    h.makeTone("gone.wav", "synth 2 sine 440");
    m.load(gone);
    EXPECT_FALSE(h.tracker().isMissing(gone.toLocalFile()));
    EXPECT_EQ(m.currentFile().url(), gone);

    // Not audio, empty, or cut short inside the header: one log line, no player, the URL stays.
    const std::string wavHeader = "RIFF\x24\x00\x00\x00WAVEfmt \x10\x00\x00\x00\x01\x00";
    const std::vector<std::pair<std::string, std::string>> broken = {
        { "text.wav", "this is not audio at all" },
        { "empty.mp3", "" },
        { "cut.wav", wavHeader },
        { "noise.flac", std::string(4096, '\x7f') },
    };
    for (const auto& [name, bytes] : broken) {
        const QUrl url = QUrl::fromLocalFile(QString::fromStdString(h.dir().write(name, bytes)));
        testing::internal::CaptureStdout();
        m.load(url);
        std::string log = testing::internal::GetCapturedStdout();
        EXPECT_EQ(log.rfind("Error loading audio: ", 0), 0u) << name << ": " << log;
        EXPECT_FALSE(m.hasPlayer()) << name;
        EXPECT_EQ(m.currentFile().url(), url) << name;

        testing::internal::CaptureStdout();
        m.play(url);
        log = testing::internal::GetCapturedStdout();
        EXPECT_EQ(log.rfind("Error playing audio: ", 0), 0u) << name << ": " << log;
        EXPECT_FALSE(m.isPlaying()) << name;
        m.togglePlayPause();
        m.seek(0.5);
        m.skipForward(1);
        m.skipBackward(1);
        EXPECT_FALSE(m.isPlaying()) << name;
        EXPECT_TRUE(silent(h.run(0.04))) << name;
    }
    // A good file plays again afterwards.
    m.play(tone);
    EXPECT_GT(rms(h.run(0.2), 0, kRate / 5), 0.1);
}

TEST(AudioPlayerManager, AnotherApplicationActiveAndStopAndResetNotifications)
{
    PreviewHarness h;
    auto& m = h.manager();
    auto& center = kivo::platform::NotificationCenter::shared();
    const QUrl tone = h.makeTone("tone.wav", "synth 2 sine 440");
    m.setAutoPauseWhenUnfocused(false);
    m.play(tone);
    h.run(0.2);
    m.applicationActiveChanged(false);
    EXPECT_TRUE(m.isPlaying());
    m.setAutoPauseWhenUnfocused(true);
    m.applicationActiveChanged(false);
    EXPECT_FALSE(m.isPlaying());
    const double at = m.currentTime();
    EXPECT_NEAR(at, 0.2, 0.02);
    // Coming back does not resume by itself; resuming continues from the same place.
    m.applicationActiveChanged(true);
    EXPECT_FALSE(m.isPlaying());
    m.togglePlayPause();
    h.run(0.1);
    EXPECT_NEAR(m.currentTime(), at + 0.1, 0.02);

    center.post(QStringLiteral("stopAudioNotification"));
    EXPECT_FALSE(m.isPlaying());
    EXPECT_TRUE(m.hasPlayer());
    EXPECT_EQ(m.currentFile().url(), tone);
    EXPECT_GT(m.playback().progress(), 0.1);
    center.post(QStringLiteral("stopAudioNotification")); // nothing plays: no effect
    EXPECT_TRUE(m.hasPlayer());

    m.togglePlayPause();
    h.run(0.1);
    center.post(QStringLiteral("UserSettingsPathsSynced"));
    EXPECT_FALSE(m.isPlaying());
    EXPECT_FALSE(m.hasPlayer());
    EXPECT_FALSE(m.currentFile().hasFile());
    EXPECT_EQ(m.playback().progress(), 0.0);
    EXPECT_TRUE(silent(h.run(0.1)));

    // Other names and a destroyed manager are ignored.
    m.play(tone);
    center.post(QStringLiteral("UserSettingsSortingChanged"));
    EXPECT_TRUE(m.isPlaying());
    {
        PreviewHarness other;
        other.manager().play(other.makeTone("x.wav", "synth 1 sine 220"));
    }
    center.post(QStringLiteral("UserSettingsPathsSynced"));
    EXPECT_FALSE(m.hasPlayer());
}

TEST(AudioPlayerManager, SelectionOpensInTheBackgroundAndTheNewestWins)
{
    // Files under "slow/" stand for a share that does not answer until the test lets it.
    auto released = std::make_shared<std::atomic<bool>>(false);
    auto stalls = std::make_shared<std::atomic<int>>(0);
    kivo::platform::TaskRunner tasks;
    const auto slowShare = [released, stalls](const std::string& path) {
        if (path.find("/slow/") == std::string::npos)
            return;
        ++*stalls;
        for (int i = 0; i < 1000 && !released->load(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    };
    PreviewHarness h(tasks, slowShare);
    auto& m = h.manager();
    h.dir().mkdir("slow");
    const QUrl stalled = h.makeTone("slow/stalled.wav", "synth 2 sine 330 vol 0.5");
    const QUrl tone = h.makeTone("tone.wav", "synth 2 sine 440 vol 0.5");

    // The stalled file is asked for and played at once: nothing waits, nothing sounds yet.
    m.play(stalled);
    EXPECT_TRUE(m.isOpening());
    EXPECT_FALSE(m.hasPlayer());
    // The next selection does not wait for it, opens, and plays.
    m.play(tone);
    ASSERT_TRUE(h.settle());
    EXPECT_EQ(m.currentFile().url(), tone);
    EXPECT_TRUE(m.isPlaying());
    EXPECT_NEAR(kivo::test::estimatePitch(h.run(0.3), kRate, 0, 8000), 440.0, 1.0);
    // When the stalled file finally opens, the newer selection still wins.
    released->store(true);
    ASSERT_TRUE(tasks.waitForIdle(std::chrono::seconds(10)));
    QCoreApplication::processEvents();
    EXPECT_EQ(m.currentFile().url(), tone);
    EXPECT_NEAR(kivo::test::estimatePitch(h.run(0.3), kRate, 0, 8000), 440.0, 1.0);

    // Space while a file opens decides whether it starts once open; a stop makes it load only.
    m.load(stalled);
    m.togglePlayPause();
    ASSERT_TRUE(h.settle());
    EXPECT_EQ(m.currentFile().url(), stalled);
    EXPECT_TRUE(m.isPlaying());
    m.play(tone);
    m.stop();
    ASSERT_TRUE(h.settle());
    EXPECT_EQ(m.currentFile().url(), tone);
    EXPECT_FALSE(m.isPlaying());

    // A FIFO named like a sample is refused without blocking anything; a vanished file is
    // reported missing once its answer arrives.
    kivo::test::FifoWatchdog fifo(h.dir().str() + "/pipe.wav", std::chrono::seconds(5));
    testing::internal::CaptureStdout();
    m.play(QUrl::fromLocalFile(QString::fromStdString(h.dir().str() + "/pipe.wav")));
    ASSERT_TRUE(h.settle());
    EXPECT_EQ(testing::internal::GetCapturedStdout().rfind("Error playing audio: ", 0), 0u);
    EXPECT_FALSE(m.hasPlayer());
    EXPECT_FALSE(fifo.stop());
    const QUrl gone = QUrl::fromLocalFile(QString::fromStdString(h.dir().str() + "/gone.wav"));
    m.play(gone);
    ASSERT_TRUE(h.settle());
    EXPECT_TRUE(h.tracker().isMissing(gone.toLocalFile()));
    EXPECT_FALSE(m.currentFile().hasFile());

    // The row below, opened ahead of the selection: selecting and playing it opens nothing more.
    const QUrl next = h.makeTone("next.wav", "synth 2 sine 550 vol 0.5");
    m.prepareAhead(next);
    h.run(kivo::playback::AudioPlayerManager::kAheadDelay + 0.02);
    ASSERT_TRUE(tasks.waitForIdle(std::chrono::seconds(10)));
    QCoreApplication::processEvents();
    m.load(next);
    EXPECT_FALSE(m.isOpening());
    m.play(next);
    EXPECT_TRUE(m.isPlaying());
    EXPECT_NEAR(kivo::test::estimatePitch(h.run(0.3), kRate, 0, 8000), 550.0, 1.0);

    // A preview (its engine with it) that goes while a row still opens ahead: the open finishes
    // later without touching what went.
    released->store(false);
    {
        PreviewHarness closing(tasks, slowShare);
        const int before = stalls->load();
        closing.manager().prepareAhead(stalled);
        closing.run(kivo::playback::AudioPlayerManager::kAheadDelay + 0.02);
        ASSERT_TRUE(QTest::qWaitFor([&] { return stalls->load() > before; }, 10000));
    }
    released->store(true);
    ASSERT_TRUE(tasks.waitForIdle(std::chrono::seconds(10)));
    QCoreApplication::processEvents();
}
