// The preview player's side of MIDI previews, against a stand-in MIDI engine whose media
// clock the test moves by hand.

#include "PreviewHarness.h"

#include "PlaybackTestSupport.h"
#include "music/MIDIFileWriter.h"
#include "playback/PreviewLevels.h"

#include <gtest/gtest.h>

#include <optional>

using namespace kivo::playback;
using kivo::test::PreviewHarness;
using kivo::test::rms;

constexpr int kRate = PreviewHarness::kRate;

namespace {

struct FakeEngine;

struct FakePlayer : MIDIPreviewPlayer {
    FakeEngine* engine = nullptr;
    double length = 4.0;
    bool playing = false;
    std::optional<double> anchorTime;
    double paused = 0;
    bool catchNotes = true;
    int octaveShift = 0;
    std::vector<double> scheduledFrom;
    int cancels = 0;

    double duration() const override { return length; }
    bool isPlaying() const override { return playing; }
    std::optional<double> anchor() const override { return anchorTime; }
    void setAnchor(std::optional<double> a) override { anchorTime = a; }
    double pausedPosition() const override { return paused; }
    void setPausedPosition(double s) override { paused = s; }
    void setCatchNotes(bool on) override { catchNotes = on; }
    void setOctaveShift(int o) override { octaveShift = o; }
    void play() override;
    void pause() override;
    void cancelScheduledEvents() override { ++cancels; }
    void schedule(double from) override { scheduledFrom.push_back(from); }
};

struct FakeEngine : MIDIPreviewEngine {
    double clock = 100.0;
    float outputVolume = -1;
    float tuning = 0;
    std::vector<int> loads;
    int ensureCalls = 0;
    int idleStops = 0;
    std::vector<std::pair<std::string, int>> made;
    std::shared_ptr<FakePlayer> last;

    std::shared_ptr<MIDIPreviewPlayer> makePlayer(
        std::span<const uint8_t>, const std::string& fileName, int instrument) override
    {
        made.emplace_back(fileName, instrument);
        if (fileName.find("broken") != std::string::npos)
            return nullptr;
        last = std::make_shared<FakePlayer>();
        last->engine = this;
        return last;
    }
    std::optional<std::string> ensureRunning() override
    {
        ++ensureCalls;
        return std::nullopt;
    }
    void loadInstrument(int index) override { loads.push_back(index); }
    void setOutputVolume(float gain) override { outputVolume = gain; }
    void setGlobalTuning(float cents) override { tuning = cents; }
    void scheduleIdleStop() override { ++idleStops; }
    void setKeepWarm(bool) override { }
    double now() const override { return clock; }
};

void FakePlayer::play()
{
    const double start = paused >= length ? 0 : paused;
    anchorTime = engine->clock - start;
    playing = true;
    schedule(start);
}

void FakePlayer::pause()
{
    if (playing && anchorTime)
        paused = std::clamp(engine->clock - *anchorTime, 0.0, length);
    playing = false;
    anchorTime.reset();
    cancelScheduledEvents();
}

QUrl writeMidi(const PreviewHarness& h, const std::string& name)
{
    return QUrl::fromLocalFile(QString::fromStdString(h.dir().write(name, "MThd")));
}

} // namespace

TEST(AudioPlayerManagerMIDI, MIDIFilesGoToTheMIDIPlayerWithTheSettings)
{
    FakeEngine midi;
    PreviewHarness h(0.5f, &midi);
    auto& m = h.manager();
    m.setMidiInstrument(2); // no MIDI player yet: remembered for the next one
    m.setMidiCatchNotes(false);
    m.setMidiOctaveShift(5);
    EXPECT_TRUE(midi.loads.empty());
    // The stored sound is loaded a second after construction.
    h.clock().advance(1.0);
    EXPECT_EQ(midi.loads, std::vector<int> { 0 });

    const QUrl audio = h.makeTone("tone.wav", "synth 2 sine 440");
    m.play(audio);
    const QUrl song = writeMidi(h, "song.MID");
    m.load(song);
    EXPECT_TRUE(m.isMIDI());
    EXPECT_EQ(midi.ensureCalls, 1);
    ASSERT_EQ(midi.made.size(), 1u);
    EXPECT_EQ(midi.made[0].second, 2);
    EXPECT_FALSE(m.isPlaying());
    EXPECT_EQ(m.currentFile().url(), song);
    EXPECT_EQ(m.duration(), 4.0);
    EXPECT_FALSE(midi.last->catchNotes);
    EXPECT_EQ(midi.last->octaveShift, 5);
    EXPECT_EQ(midi.tuning, 2400.0f); // the shift is clamped to two octaves for the tuning
    EXPECT_FLOAT_EQ(midi.outputVolume, volumeGain(0.5f));
    EXPECT_EQ(rms(h.run(0.1), 0, kRate / 10), 0.0) << "the audio player is gone";

    // Settings and the knob reach the present MIDI player and engine.
    m.setMidiCatchNotes(true);
    EXPECT_TRUE(midi.last->catchNotes);
    m.setMidiOctaveShift(-1);
    EXPECT_EQ(midi.last->octaveShift, -1);
    EXPECT_EQ(midi.tuning, -1200.0f);
    m.setMidiInstrument(3);
    EXPECT_EQ(midi.loads.back(), 3);
    m.volumeControl().setPosition(1.0f);
    EXPECT_FLOAT_EQ(midi.outputVolume, 1.0f);

    // A file that yields no player leaves none.
    m.play(writeMidi(h, "broken.midi"));
    EXPECT_FALSE(m.hasPlayer());
    EXPECT_FALSE(m.isPlaying());
}

TEST(AudioPlayerManagerMIDI, TransportFollowsTheMediaClock)
{
    FakeEngine midi;
    PreviewHarness h(1.0f, &midi);
    auto& m = h.manager();
    const QUrl song = writeMidi(h, "song.mid");
    m.play(song);
    auto player = midi.last;
    ASSERT_TRUE(player);
    EXPECT_TRUE(m.isPlaying());
    EXPECT_EQ(player->scheduledFrom, std::vector<double> { 0.0 });
    EXPECT_TRUE(m.progressTimerRunning());

    midi.clock += 1.0;
    h.clock().advance(0.02);
    EXPECT_NEAR(m.currentTime(), 1.0, 1e-9);
    EXPECT_NEAR(m.playback().progress(), 0.25, 1e-9);

    // Seeking while playing reschedules from the new position.
    m.seek(0.5);
    EXPECT_EQ(player->paused, 2.0);
    EXPECT_EQ(player->scheduledFrom.back(), 2.0);
    EXPECT_NEAR(*player->anchorTime, midi.clock - 2.0, 1e-9);
    EXPECT_NEAR(m.currentTime(), 2.0, 1e-9);
    m.setCurrentTime(9.0); // clamped to the duration
    EXPECT_EQ(player->paused, 4.0);
    m.setCurrentTime(1.0);

    // Focus loss pauses, keeping the position.
    midi.clock += 0.5;
    m.applicationActiveChanged(false);
    EXPECT_FALSE(m.isPlaying());
    EXPECT_NEAR(m.currentTime(), 1.5, 1e-9);
    EXPECT_FALSE(m.progressTimerRunning());
    // Seeking while paused moves the position without scheduling.
    const auto schedules = player->scheduledFrom.size();
    m.seek(0.75);
    EXPECT_EQ(player->paused, 3.0);
    EXPECT_EQ(player->scheduledFrom.size(), schedules);
    EXPECT_FALSE(m.isPlaying());

    // Resume; the progress tick pauses the player at the end.
    m.togglePlayPause();
    EXPECT_TRUE(m.isPlaying());
    midi.clock += 1.5;
    h.clock().advance(0.02);
    EXPECT_EQ(m.playback().progress(), 1.0);
    EXPECT_FALSE(m.isPlaying());
    EXPECT_FALSE(m.progressTimerRunning());
    EXPECT_EQ(player->paused, 4.0);
    // Skipping back from the end restarts one second before it.
    m.skipBackward(1.0);
    EXPECT_TRUE(m.isPlaying());
    EXPECT_NEAR(m.currentTime(), 3.0, 1e-9);

    // The tapped output feeds the meter only while the MIDI file plays.
    MeterBatch batch;
    batch.count = 1;
    batch.left[0] = -10.0f;
    batch.right[0] = -40.0f;
    m.enqueueMIDIMeterBatch(batch);
    auto [l, r] = m.currentLevels();
    EXPECT_EQ(l, 1.0f);
    EXPECT_NEAR(r, 0.25f, 1e-6);
    m.stop();
    EXPECT_EQ(m.currentLevels(), std::make_pair(0.0f, 0.0f));

    // A reset drops the MIDI player and forgets the file.
    m.resetPlayer();
    EXPECT_FALSE(m.hasPlayer());
    EXPECT_FALSE(m.currentFile().hasFile());
}

TEST(AudioPlayerManagerMIDI, AMIDIFilePlaysOnTheSharedSamplerAndMeters)
{
    PreviewHarness h(1.0f, PreviewHarness::WithAudition {});
    auto& m = h.manager();
    // Two half-second notes at 120 BPM: 0.0-0.5 s and 1.0-1.5 s.
    kivo::music::MIDIFileWriter writer(0, 480);
    writer.addTempoBPM(0, 0, 120);
    writer.addNote(0, 0, 480, 69, 110);
    writer.addNote(0, 960, 480, 69, 110);
    std::vector<uint8_t> bytes = writer.bytes();
    const QUrl song = QUrl::fromLocalFile(
        QString::fromStdString(h.dir().write("song.mid", std::string(bytes.begin(), bytes.end()))));

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

    // The volume knob is the mixer volume while MIDI previews.
    m.volumeControl().setPosition(0.0f);
    EXPECT_FLOAT_EQ(h.engine().outputVolume(), volumeGain(0.0f));
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
