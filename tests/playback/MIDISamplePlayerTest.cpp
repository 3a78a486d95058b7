#include "PlaybackTestSupport.h"
#include "support/TestEnvironment.h"

#include "music/MIDIFileWriter.h"
#include "platform/Clock.h"
#include "platform/ResourceFolder.h"
#include "platform/TaskRunner.h"
#include "playback/AudioEngine.h"
#include "playback/Audition.h"
#include "playback/MIDISamplePlayer.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>

using namespace kivo::playback;
using kivo::music::MIDIFileWriter;
using kivo::test::rms;

namespace {

constexpr int kRate = 44100;
constexpr int kTicksPerSecond = 960; // 480 per quarter at 120 BPM

int frames(double seconds)
{
    return int(std::lround(seconds * kRate));
}

struct Note {
    double start;
    double length;
    int pitch = 69;
};

std::vector<uint8_t> midiFile(const std::vector<Note>& notes)
{
    MIDIFileWriter writer(1, 480);
    writer.addTempoBPM(0, 0, 120);
    for (const Note& n : notes)
        writer.addNote(0, std::llround(n.start * kTicksPerSecond), std::llround(n.length * kTicksPerSecond),
            n.pitch, 100);
    return writer.bytes();
}

// An offline engine, a clock that moves only when told, and the log captured.
struct Rig {
    AudioEngine engine;
    kivo::platform::ManualClock clock;
    Audition audition;
    std::vector<std::string> lines;

    explicit Rig(kivo::platform::TaskRunner* tasks = nullptr)
        : audition(engine, clock, tasks)
    {
        engine.useOfflineRendering(kRate);
        audition.setLog([this](const std::string& line) { lines.push_back(line); });
    }
    std::unique_ptr<MIDISamplePlayer> player(const std::vector<Note>& notes, int sound = 0)
    {
        return MIDISamplePlayer::fromBytes(
            audition, midiFile(notes), "test.mid", MIDIInstrument::forIndex(sound));
    }
    std::vector<float> render(double seconds) { return engine.render(frames(seconds)); }
};

// Loud enough to be a sounding note, quiet enough to be a finished one.
constexpr double kSounding = 0.01;
constexpr double kSilent = 1e-4;

} // namespace

TEST(MIDISamplePlayer, NotesStartAtTheirFramesAndTheSoundsAreTheTablesFonts)
{
    Rig rig;
    ASSERT_TRUE(kivo::platform::applicationResourceFolder()) << "the build tree's resources are found";
    auto player = rig.player({ { 0.5, 0.25 }, { 1.0, 0.25, 72 }, { 1.5, 0.25 } });
    ASSERT_TRUE(player);
    EXPECT_TRUE(rig.lines.empty());
    EXPECT_EQ(rig.audition.owner(), player.get());
    ASSERT_EQ(rig.audition.loadedInstrument(), MIDIInstrument::forIndex(0));
    EXPECT_FALSE(rig.audition.sampler().usesBuiltInTone());
    EXPECT_NEAR(player->duration(), 1.75, 1e-9);

    // Some time passes on the engine first: delays count from the play, not from frame 0.
    rig.audition.ensureRunning();
    rig.render(0.3);
    player->play();
    EXPECT_TRUE(player->isPlaying());
    ASSERT_TRUE(player->anchor());
    EXPECT_NEAR(*player->anchor(), 0.3, 1e-9);
    auto out = rig.render(2.0);
    EXPECT_LT(rms(out, 0, frames(0.5)), kSilent);
    for (double onset : { 0.5, 1.0, 1.5 }) {
        int first = kivo::test::firstFrameAbove(out, frames(onset) - 200, float(kSounding));
        // The synth starts notes on its 64-frame blocks; the attack takes a few more frames.
        EXPECT_GE(first, frames(onset) - 32) << onset;
        EXPECT_LE(first, frames(onset) + 200) << onset;
        EXPECT_GT(rms(out, frames(onset + 0.02), frames(onset + 0.2)), kSounding) << onset;
    }
    EXPECT_NEAR(kivo::test::estimatePitch(out, kRate, frames(1.05), frames(1.05) + 4096), 523.25, 6.0);
    EXPECT_NEAR(player->currentTime(), 1.75, 1e-9); // clamped at the duration

    // Each table entry is its own font; the pad swells where the piano strikes.
    auto attack = [&](int sound) {
        auto p = rig.player({ { 0.0, 1.0 } }, sound);
        EXPECT_EQ(rig.audition.loadedInstrument()->fileName, MIDIInstrument::forIndex(sound).fileName);
        p->play();
        auto a = rig.render(0.6);
        p->pause();
        rig.render(1.0);
        return rms(a, 0, frames(0.05)) / rms(a, frames(0.45), frames(0.5));
    };
    EXPECT_GT(attack(0), 1.0);
    EXPECT_LT(attack(3), 0.5);

    // The same sound twice loads once; an index off the table is the piano.
    int loads = rig.audition.presetLoads();
    rig.audition.loadInstrument(MIDIInstrument::forIndex(3));
    EXPECT_EQ(rig.audition.presetLoads(), loads);
    rig.audition.loadInstrument(MIDIInstrument::forIndex(9));
    EXPECT_EQ(rig.audition.presetLoads(), loads + 1);
    EXPECT_EQ(rig.audition.loadedInstrument(), MIDIInstrument::forIndex(0));
    EXPECT_TRUE(rig.lines.empty());
}

TEST(MIDISamplePlayer, SoundsLoadInTheBackgroundAndTheNewestRequestWins)
{
    kivo::platform::TaskRunner tasks;
    auto rig = std::make_unique<Rig>(&tasks);
    Audition* audition = &rig->audition;
    audition->ensureRunning();
    auto settle = [&] { return kivo::test::waitFor([&] { return !audition->isLoadingInstrument(); }); };

    // Asked for, the piano is not there yet: the note already held keeps its sound meanwhile.
    audition->sampler().startNote(69, 100, 0);
    audition->loadInstrument(MIDIInstrument::forIndex(0));
    EXPECT_TRUE(audition->isLoadingInstrument());
    EXPECT_FALSE(audition->loadedInstrument());
    EXPECT_GT(rms(rig->render(0.1), 0, frames(0.1)), kSounding);
    EXPECT_TRUE(audition->sampler().usesBuiltInTone());
    ASSERT_TRUE(settle());
    EXPECT_EQ(audition->loadedInstrument(), MIDIInstrument::forIndex(0));
    EXPECT_FALSE(audition->sampler().usesBuiltInTone());

    // Three changes in a row: only the last one is installed.
    const int loads = audition->presetLoads();
    for (int sound : { 1, 2, 3 })
        audition->loadInstrument(MIDIInstrument::forIndex(sound));
    ASSERT_TRUE(settle());
    ASSERT_TRUE(tasks.waitForIdle(std::chrono::seconds(10)));
    QCoreApplication::processEvents();
    EXPECT_EQ(audition->presetLoads(), loads + 1);
    EXPECT_EQ(audition->loadedInstrument(), MIDIInstrument::forIndex(3));
    // Going back to the sound in place while another loads keeps the one in place.
    audition->loadInstrument(MIDIInstrument::forIndex(1));
    audition->loadInstrument(MIDIInstrument::forIndex(3));
    EXPECT_FALSE(audition->isLoadingInstrument());
    // Gone while a sound loads: the answer is dropped.
    audition->loadInstrument(MIDIInstrument::forIndex(2));
    rig.reset();
    ASSERT_TRUE(tasks.waitForIdle(std::chrono::seconds(10)));
    QCoreApplication::processEvents();
}

TEST(MIDISamplePlayer, PauseSilencesAndResumesWithOrWithoutTheCaughtNote)
{
    for (bool catchNotes : { true, false }) {
        SCOPED_TRACE(catchNotes ? "catching" : "not catching");
        Rig rig;
        // A note from 1.0 s to 2.0 s, another at 2.5 s.
        auto player = rig.player({ { 1.0, 1.0 }, { 2.5, 0.5, 64 } });
        ASSERT_TRUE(player);
        EXPECT_TRUE(player->catchNotes());
        player->setCatchNotes(catchNotes);
        player->play();
        auto before = rig.render(1.5);
        EXPECT_GT(rms(before, frames(1.2), frames(1.5)), kSounding);
        player->pause();
        EXPECT_FALSE(player->isPlaying());
        EXPECT_FALSE(player->anchor());
        EXPECT_NEAR(player->pausedPosition(), 1.5, 1e-9);
        // All notes off: only the release is left, and the position stays put.
        auto paused = rig.render(2.0);
        EXPECT_LT(rms(paused, frames(1.0), frames(2.0)), kSilent);
        EXPECT_NEAR(player->currentTime(), 1.5, 1e-9);

        player->play();
        auto after = rig.render(2.0);
        if (catchNotes)
            EXPECT_GT(rms(after, frames(0.05), frames(0.4)), kSounding);
        else
            EXPECT_LT(rms(after, 0, frames(0.95)), kSilent);
        // The 2.5 s note comes 1.0 s after resuming either way.
        if (catchNotes) // the caught note's tail is still there: look for the new pitch instead
            EXPECT_NEAR(
                kivo::test::estimatePitch(after, kRate, frames(1.1), frames(1.1) + 4096), 329.63, 4.0);
        else
            EXPECT_NEAR(kivo::test::firstFrameAbove(after, frames(0.9), float(kSounding)), frames(1.0), 200);
        player->pause();
    }
}

TEST(MIDISamplePlayer, PositionsAfterTheEndAndSeekingWhilePlaying)
{
    Rig rig;
    auto player = rig.player({ { 0.0, 0.2 }, { 2.0, 0.5 } });
    ASSERT_TRUE(player);

    // Playing once the end was reached starts from 0.
    player->setPausedPosition(player->duration());
    player->play();
    EXPECT_NEAR(player->currentTime(), 0.0, 1e-9);
    auto start = rig.render(1.2);
    EXPECT_GT(rms(start, frames(0.02), frames(0.1)), kSounding);

    // Moving the position while playing goes on from there: the 2.0 s note 0.3 s later.
    player->setCurrentTime(1.7);
    EXPECT_TRUE(player->isPlaying());
    EXPECT_NEAR(player->currentTime(), 1.7, 1e-9);
    auto moved = rig.render(0.6);
    EXPECT_LT(rms(moved, 0, frames(0.29)), kSilent);
    EXPECT_NEAR(kivo::test::firstFrameAbove(moved, 0, float(kSounding)), frames(0.3), 200);
    EXPECT_NEAR(player->currentTime(), 2.3, 1e-9);

    // Positions clamp to the file; a paused seek only moves the position.
    player->pause();
    player->setCurrentTime(9.0);
    EXPECT_NEAR(player->pausedPosition(), 2.5, 1e-9);
    player->setCurrentTime(-1.0);
    EXPECT_EQ(player->pausedPosition(), 0.0);
    player->setCurrentTime(std::nan(""));
    EXPECT_EQ(player->pausedPosition(), 0.0);
    EXPECT_LT(rms(rig.render(1.5), frames(1.0), frames(1.5)), kSilent);

    // playFrom and stop.
    player->playFrom(2.0);
    EXPECT_TRUE(player->isPlaying());
    EXPECT_GT(rms(rig.render(0.2), frames(0.05), frames(0.2)), kSounding);
    player->stop();
    EXPECT_EQ(player->pausedPosition(), 0.0);
    EXPECT_FALSE(player->isPlaying());

    // The octave shift transposes through the sampler's tuning, held to two octaves.
    rig.audition.setOctaveShift(-3);
    player->playFrom(0.0);
    EXPECT_NEAR(kivo::test::estimatePitch(rig.render(0.2), kRate, frames(0.02), frames(0.02) + 4096), 110, 3);
}

TEST(MIDISamplePlayer, EngineSleepsThirtySecondsAfterTheLastPreviewUnlessKeptWarm)
{
    Rig rig;
    auto player = rig.player({ { 0.0, 0.5 } });
    ASSERT_TRUE(player);
    EXPECT_FALSE(rig.engine.isRunning()); // loading alone does not start it
    player->play();
    EXPECT_TRUE(rig.engine.isRunning());
    rig.render(0.6);
    player->pause();
    rig.clock.advance(29.9);
    EXPECT_TRUE(rig.engine.isRunning());
    rig.clock.advance(0.1);
    EXPECT_FALSE(rig.engine.isRunning());
    EXPECT_FALSE(rig.audition.idleStopPending());

    // Playing again restarts the engine and reloads the sound into it.
    int loads = rig.audition.presetLoads();
    player->play();
    EXPECT_TRUE(rig.engine.isRunning());
    EXPECT_EQ(rig.audition.presetLoads(), loads + 1);
    EXPECT_GT(rms(rig.render(0.3), frames(0.05), frames(0.3)), kSounding);

    // A pending stop is cancelled by playing again, and spares an owner that plays.
    player->pause();
    rig.clock.advance(20);
    player->play();
    EXPECT_FALSE(rig.audition.idleStopPending());
    rig.audition.scheduleIdleStop();
    rig.clock.advance(40);
    EXPECT_TRUE(rig.engine.isRunning());

    // Kept warm, the engine never sleeps; 30 s after warmth ends it does.
    player->pause();
    rig.audition.setKeepWarm(true);
    EXPECT_FALSE(rig.audition.idleStopPending());
    player->play();
    player->pause();
    rig.clock.advance(120);
    EXPECT_TRUE(rig.engine.isRunning());
    rig.audition.setKeepWarm(false);
    rig.clock.advance(30);
    EXPECT_FALSE(rig.engine.isRunning());
    // Warmth alone starts it.
    rig.audition.setKeepWarm(true);
    EXPECT_TRUE(rig.engine.isRunning());
    rig.audition.setKeepWarm(false);

    // A destroyed owner lets the engine sleep too.
    rig.audition.ensureRunning();
    player.reset();
    EXPECT_EQ(rig.audition.owner(), nullptr);
    EXPECT_TRUE(rig.audition.idleStopPending());
    rig.clock.advance(30);
    EXPECT_FALSE(rig.engine.isRunning());
}

TEST(MIDISamplePlayer, UnplayableFilesAndMissingSoundsAreLogged)
{
    Rig rig;
    kivo::test::ScratchDir dir;
    MIDIFileWriter tempoOnly;
    tempoOnly.addTempoBPM(0, 0, 100);
    tempoOnly.setTrackEnd(0, 4800);
    const auto bytes = tempoOnly.bytes();
    for (const std::string& path :
        { dir.str() + "/gone.mid", dir.write("text.mid", "not a MIDI file"), dir.write("empty.midi"),
            dir.mkdir("folder.mid"), dir.write("silent.mid", std::string(bytes.begin(), bytes.end())) })
        EXPECT_FALSE(MIDISamplePlayer::create(rig.audition, path, MIDIInstrument::forIndex(0))) << path;
    ASSERT_EQ(rig.lines.size(), 5u);
    EXPECT_TRUE(rig.lines[4].ends_with(" silent.mid")) << rig.lines[4];
    EXPECT_EQ(rig.audition.owner(), nullptr);
    EXPECT_FALSE(rig.audition.loadedInstrument());

    // (A readable file from disk plays: the render tool's test.)
    auto player = rig.player({ { 0.0, 0.5 } }, 2);
    ASSERT_TRUE(player);
    EXPECT_EQ(rig.audition.loadedInstrument(), MIDIInstrument::forIndex(2));

    // No resource folder, or no such font in it: the built-in tone plays in tune.
    rig.lines.clear();
    rig.audition.setResourceFolder([] { return std::nullopt; });
    rig.audition.loadInstrument(MIDIInstrument::forIndex(3));
    EXPECT_FALSE(rig.audition.loadedInstrument());
    rig.audition.setResourceFolder([&] { return std::filesystem::path(dir.str()); });
    rig.audition.loadInstrument(MIDIInstrument::forIndex(1));
    EXPECT_FALSE(rig.audition.loadedInstrument());
    ASSERT_EQ(rig.lines.size(), 2u);
    EXPECT_NE(rig.lines[1].find("Felt Piano.sf2"), std::string::npos) << rig.lines[1];
    EXPECT_TRUE(rig.audition.sampler().usesBuiltInTone());
    player->play();
    auto out = rig.render(0.4);
    EXPECT_NEAR(kivo::test::estimatePitch(out, kRate, frames(0.1), frames(0.1) + 4096), 440.0, 2.0);
}

TEST(MIDISamplePlayer, SoundLoadedBeforeTheEngineChoseItsRateIsReloadedInTune)
{
    // The sound is loaded at start-up at the engine's default rate; the audio preview then
    // starts the engine at its device's rate before any MIDI file plays.
    AudioEngine engine;
    kivo::platform::ManualClock clock;
    Audition audition(engine, clock);
    audition.setLog([](const std::string&) {});
    audition.loadInstrument(MIDIInstrument::forIndex(0));
    ASSERT_TRUE(audition.loadedInstrument());
    const int rate = engine.sampleRate() == 22050 ? 32000 : 22050;
    engine.useOfflineRendering(rate);
    engine.start();
    audition.ensureRunning();
    EXPECT_EQ(audition.presetLoads(), 2);
    audition.sampler().startNote(69, 100, 0);
    auto out = engine.render(rate / 2);
    EXPECT_NEAR(kivo::test::estimatePitch(out, rate, rate / 5, rate / 5 + 4096), 440.0, 4.0);
    // A player made now finds the sound loaded at the right rate.
    auto player = MIDISamplePlayer::fromBytes(
        audition, midiFile({ { 0.0, 1.0 } }), "a.mid", MIDIInstrument::forIndex(0));
    EXPECT_TRUE(player);
    EXPECT_EQ(audition.presetLoads(), 2);
}
