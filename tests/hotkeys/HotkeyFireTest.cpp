// A number key fires its slot through the window's preview player: the sample, or in chord mode
// the triad on the MIDI engine, sounds within the first engine buffer after the key press.

#include "hotkeys/HotkeyManager.h"
#include "hotkeys/KeyboardMap.h"

#include "library/MissingFileTracker.h"
#include "platform/PreferenceStore.h"
#include "platform/VolumeMonitor.h"
#include "playback/AudioEngine.h"
#include "playback/AudioOutput.h"
#include "playback/AudioPlayerManager.h"
#include "playback/Audition.h"
#include "playback/AuditionPreviewEngine.h"

#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

using namespace kivo;
using namespace kivo::hotkeys;

namespace {

constexpr int kRate = 48000;
constexpr int kBuffer = playback::AudioOutput::kBufferFrames;

// Frames into `stereo` until the left channel first passes `threshold`; -1 when it never does.
int firstSound(const std::vector<float>& stereo, float threshold = 1e-3f)
{
    for (std::size_t i = 0; i < stereo.size(); i += 2)
        if (std::fabs(stereo[i]) > threshold)
            return int(i / 2);
    return -1;
}

TEST(HotkeyFire, FiredSlotSoundsWithinOneEngineBuffer)
{
    test::ScratchDir dir;
    const std::string tone = dir.tone("tone.wav", "synth 1 sine 440 vol 0.5");

    playback::AudioEngine engine;
    engine.useOfflineRendering(kRate);
    engine.start();
    platform::ManualClock clock;
    library::MissingFileTracker tracker;
    playback::Audition audition(engine, clock);
    audition.setResourceFolder([] { return std::nullopt; });
    audition.setLog([](const std::string&) {});
    playback::AuditionPreviewEngine midi(audition);
    playback::AudioPlayerManager::Options po;
    po.engine = &engine;
    po.clock = &clock;
    po.tracker = &tracker;
    po.midiEngine = &midi;
    po.volume = 1.0f;
    playback::AudioPlayerManager player(po);

    platform::PreferenceStore store(dir.path() + "/Preferences.plist");
    platform::VolumeMonitor volumes(
        [] { return std::optional(platform::MountTable()); }, platform::VolumeMonitor::Watch::none);
    HotkeyManager::Options ho;
    ho.clock = &clock;
    ho.volumes = &volumes;
    ho.resourceFolder = [] { return std::optional(std::filesystem::path(KIVO_BINARY_DIR) / "resources"); };
    ho.background = [](HotkeyManager::Job job) { job()(); };
    HotkeyManager hotkeys(store, nullptr, ho);

    auto press = [&](KeyStroke stroke) {
        const HotkeyCommand command = hotkeyCommand(stroke);
        if (command.action == HotkeyAction::assignSlot)
            hotkeys.assign(QString::fromStdString(tone), command.slot);
        else if (command.action == HotkeyAction::fireSlot)
            hotkeys.fire(command.slot, player);
    };
    // Quiet before: an idle buffer or two.
    EXPECT_EQ(firstSound(engine.render(kBuffer)), -1);
    KeyStroke assignTwo { '2', 11 };
    assignTwo.option = true;
    press(assignTwo);
    EXPECT_EQ(hotkeys.shownSlots()[1], tone);
    EXPECT_EQ(firstSound(engine.render(kBuffer)), -1);

    press({ '2', 11 });
    const auto first = engine.render(kBuffer);
    const int onset = firstSound(first);
    ASSERT_GE(onset, 0);
    EXPECT_LE(onset, 2);
    // An empty slot fires nothing and leaves the sample playing.
    press({ '5', 14 });
    EXPECT_GE(firstSound(engine.render(kBuffer)), 0);
    player.stop();
    engine.render(kBuffer * 8);
    EXPECT_EQ(firstSound(engine.render(kBuffer)), -1);

    // Chord mode: key 1 plays degree I's triad through the MIDI engine.
    hotkeys.setMode(HotkeyMode::chords());
    ASSERT_EQ(hotkeys.chordTriads().size(), 7u);
    press({ '1', 10 });
    ASSERT_TRUE(player.isMIDI());
    const int chordOnset = firstSound(engine.render(kBuffer));
    ASSERT_GE(chordOnset, 0);
    EXPECT_LT(chordOnset, kBuffer);
}

} // namespace
