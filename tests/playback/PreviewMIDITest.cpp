// The preview player's side of MIDI previews, on the shared sampler over the harness's
// offline engine and clock.

#include "PreviewHarness.h"

#include "PlaybackTestSupport.h"
#include "music/MIDIFileWriter.h"
#include "platform/ResourceFolder.h"
#include "playback/MIDISamplePlayer.h"
#include "playback/PreviewLevels.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace kivo::playback;
using kivo::test::PreviewHarness;
using kivo::test::rms;

constexpr int kRate = PreviewHarness::kRate;

namespace {

// Half-second notes on A4 at 120 BPM, starting at the given seconds.
QUrl writeSong(const PreviewHarness& h, const std::string& name, std::initializer_list<double> starts)
{
    kivo::music::MIDIFileWriter writer(0, 480);
    writer.addTempoBPM(0, 0, 120);
    for (double start : starts)
        writer.addNote(0, std::llround(start * 960), 480, 69, 110);
    const std::vector<uint8_t> bytes = writer.bytes();
    return QUrl::fromLocalFile(
        QString::fromStdString(h.dir().write(name, std::string(bytes.begin(), bytes.end()))));
}

} // namespace

TEST(AudioPlayerManagerMIDI, SettingsAndTransportReachTheMIDIPlayer)
{
    PreviewHarness h(0.5f, PreviewHarness::WithAudition {});
    auto& m = h.manager();
    auto& audition = h.audition();
    audition.setResourceFolder([] { return kivo::platform::applicationResourceFolder(); });
    m.setMidiInstrument(2); // no MIDI player yet: remembered for the next one
    m.setMidiCatchNotes(false);
    m.setMidiOctaveShift(5);
    EXPECT_FALSE(audition.loadedInstrument());
    // The stored sound is loaded a second after construction.
    h.clock().advance(1.0);
    EXPECT_EQ(audition.loadedInstrument(), MIDIInstrument::forIndex(0));

    m.play(h.makeTone("tone.wav", "synth 2 sine 440"));
    const QUrl song = writeSong(h, "song.MID", { 0.0, 1.0, 1.5 });
    m.load(song);
    ASSERT_TRUE(m.isMIDI());
    EXPECT_FALSE(m.isPlaying());
    EXPECT_EQ(m.currentFile().url(), song);
    EXPECT_NEAR(m.duration(), 2.0, 1e-9);
    EXPECT_EQ(audition.loadedInstrument(), MIDIInstrument::forIndex(2));
    const MIDISamplePlayer* player = audition.owner();
    ASSERT_TRUE(player);
    EXPECT_FALSE(player->catchNotes());
    EXPECT_EQ(player->octaveShift(), 5);
    EXPECT_EQ(audition.sampler().globalTuning(), 2400.0); // the shift is clamped to two octaves
    EXPECT_FLOAT_EQ(h.engine().outputVolume(), volumeGain(0.5f));
    EXPECT_LT(rms(h.run(0.1), 0, kRate / 10), 1e-4) << "the audio player is gone";

    // Settings and the knob reach the present MIDI player and engine.
    m.setMidiCatchNotes(true);
    EXPECT_TRUE(player->catchNotes());
    m.setMidiOctaveShift(-1);
    EXPECT_EQ(player->octaveShift(), -1);
    EXPECT_EQ(audition.sampler().globalTuning(), -1200.0);
    m.setMidiInstrument(3);
    EXPECT_EQ(audition.loadedInstrument(), MIDIInstrument::forIndex(3));
    m.volumeControl().setPosition(1.0f);
    EXPECT_FLOAT_EQ(h.engine().outputVolume(), 1.0f);

    // Seeking while playing goes on from the new position.
    m.togglePlayPause();
    EXPECT_TRUE(m.progressTimerRunning());
    h.run(0.2);
    m.seek(0.5);
    EXPECT_TRUE(m.isPlaying());
    EXPECT_NEAR(m.currentTime(), 1.0, 1e-9);
    m.setCurrentTime(1.0);
    h.run(0.2);

    // Focus loss pauses, keeping the position; a paused seek does not start it.
    m.applicationActiveChanged(false);
    EXPECT_FALSE(m.isPlaying());
    EXPECT_FALSE(m.progressTimerRunning());
    EXPECT_NEAR(m.currentTime(), 1.2, 0.021);
    m.seek(0.75);
    EXPECT_NEAR(m.currentTime(), 1.5, 1e-9);
    EXPECT_FALSE(m.isPlaying());

    // Resumed, the progress tick pauses the player at the end.
    m.togglePlayPause();
    h.run(0.6);
    EXPECT_EQ(m.playback().progress(), 1.0);
    EXPECT_FALSE(m.isPlaying());
    EXPECT_FALSE(m.progressTimerRunning());
    EXPECT_EQ(m.currentLevels(), std::make_pair(0.0f, 0.0f));
    // Skipping back from the end restarts one second before it.
    m.skipBackward(1.0);
    EXPECT_TRUE(m.isPlaying());
    EXPECT_NEAR(m.currentTime(), 1.0, 1e-9);

    // A reset drops the MIDI player and forgets the file; a file that yields no player leaves none.
    m.resetPlayer();
    EXPECT_FALSE(m.hasPlayer());
    EXPECT_FALSE(m.currentFile().hasFile());
    m.play(QUrl::fromLocalFile(QString::fromStdString(h.dir().write("broken.midi", "MThd"))));
    EXPECT_FALSE(m.hasPlayer());
    EXPECT_FALSE(m.isPlaying());
}

TEST(AudioPlayerManagerMIDI, AMIDIFilePlaysOnTheSharedSamplerAndMeters)
{
    PreviewHarness h(1.0f, PreviewHarness::WithAudition {});
    auto& m = h.manager();
    const QUrl song = writeSong(h, "song.mid", { 0.0, 1.0 });
    m.load(song);
    ASSERT_TRUE(m.isMIDI());
    EXPECT_NEAR(m.duration(), 1.5, 1e-9);
    EXPECT_TRUE(h.engine().isRunning());
    EXPECT_LT(rms(h.run(0.2), 0, kRate / 5), 1e-4);

    m.play(song);
    auto out = h.run(0.4);
    EXPECT_GT(rms(out, kRate / 20, kRate * 3 / 10), 0.01);
    EXPECT_NEAR(kivo::test::estimatePitch(out, kRate, kRate / 20, kRate / 20 + 4096), 440.0, 3.0);
    EXPECT_NEAR(m.currentTime(), 0.4, 0.021);
    EXPECT_NEAR(m.playback().progress(), 0.4 / 1.5, 0.015);
    EXPECT_GT(m.outputLevels().left(), 0.2f);
    // (Pausing, catching notes and the end are the MIDI player's and the transport's own tests.)

    // Back to an audio file: the MIDI player is dropped and the file player sounds.
    m.play(h.makeTone("tone.wav", "synth 1 sine 440 vol 0.5"));
    EXPECT_FALSE(m.isMIDI());
    EXPECT_GT(rms(h.run(0.2), 0, kRate / 5), 0.005);

    // The shared engine sleeps 30 s after an audio-only preview stops too, never while it plays.
    EXPECT_TRUE(h.audition().idleStopPending()); // left from the MIDI file
    h.run(0.4);
    EXPECT_TRUE(h.engine().isRunning());
    m.play(h.makeTone("long.wav", "synth 40 sine 440 vol 0.5"));
    h.clock().advance(31);
    EXPECT_TRUE(h.engine().isRunning());
    m.stop();
    h.clock().advance(29);
    EXPECT_TRUE(h.engine().isRunning());
    h.clock().advance(2);
    EXPECT_FALSE(h.engine().isRunning());
    // Playing again wakes it.
    m.togglePlayPause();
    EXPECT_TRUE(h.engine().isRunning());
    EXPECT_GT(rms(h.run(0.2), 0, kRate / 5), 0.005);
}
