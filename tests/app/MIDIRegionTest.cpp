#include "app/MIDIRegion.h"
#include "app/SeekBar.h"

#include "Printers.h"

#include <gtest/gtest.h>

using namespace kivo::app;
using kivo::music::MIDIFileData;
using kivo::music::MIDINote;

namespace {
MIDIFileData notes(std::vector<MIDINote> list, double duration)
{
    MIDIFileData d;
    d.notes = std::move(list);
    d.duration = duration;
    return d;
}
MIDINote note(int pitch, double start, double length)
{
    return MIDINote { pitch, start, length, 100, 0 };
}
} // namespace

TEST(MIDIRegion, NotesSitInRowsOfAtLeastAnOctaveAreCutAtTheEndAndTheBarGrowsForThem)
{
    // Only pitch 60: rows 55 to 66, the note centred in the sixth row from the bottom.
    const QRectF area(0, 0, 120, 24); // 12 rows of 2 points
    auto bars = midiRegionBars(notes({ note(60, 0.5, 1.0) }, 2.0), area);
    ASSERT_EQ(bars.size(), 1u);
    const double h = std::max(std::min(0.8 * 2, 5.0), 1.5);
    EXPECT_DOUBLE_EQ(bars[0].rect.height(), h);
    EXPECT_DOUBLE_EQ(bars[0].rect.top(), 24 - 2 * 5.5 - h / 2);
    EXPECT_DOUBLE_EQ(bars[0].rect.left(), 30);
    EXPECT_DOUBLE_EQ(bars[0].rect.width(), 59.5);
    EXPECT_DOUBLE_EQ(bars[0].radius, std::min({ 59.5 / 2, 1.0, h / 2 }));

    // Pitches 0 and 3: the window is 0 to 11, so pitch 3 sits in the fourth row.
    bars = midiRegionBars(notes({ note(0, 0, 1), note(3, 1, 1) }, 2.0), area);
    ASSERT_EQ(bars.size(), 2u);
    EXPECT_DOUBLE_EQ(bars[0].rect.center().y(), 24 - 2 * 0.5);
    EXPECT_DOUBLE_EQ(bars[1].rect.center().y(), 24 - 2 * 3.5);

    // A 1 ms note still shows; 128 pitches in 64 points make half-point rows and 1.5-point bars.
    bars = midiRegionBars(notes({ note(0, 0, 0.001), note(127, 1, 0.5) }, 2.0), QRectF(10, 0, 100, 64));
    ASSERT_EQ(bars.size(), 2u);
    EXPECT_DOUBLE_EQ(bars[0].rect.width(), 1.5);
    EXPECT_DOUBLE_EQ(bars[0].rect.left(), 10);
    EXPECT_DOUBLE_EQ(bars[1].rect.height(), 1.5);
    EXPECT_DOUBLE_EQ(bars[1].rect.center().y(), 64 - 0.5 * 127.5);

    // Starts at the very end: skipped. Runs past the end: cut at the right edge. Empty files draw nothing.
    bars = midiRegionBars(notes({ note(60, 2.0, 1.0), note(62, 1.5, 5.0) }, 2.0), area);
    ASSERT_EQ(bars.size(), 1u);
    EXPECT_DOUBLE_EQ(bars[0].rect.right(), 120);
    EXPECT_TRUE(midiRegionBars(notes({}, 2.0), area).empty());
    EXPECT_TRUE(midiRegionBars(notes({ note(60, 0, 1) }, 0), area).empty());

    EXPECT_TRUE(isMIDIPath("/a/Riff.MID"));
    EXPECT_TRUE(isMIDIPath("/a/Riff.midi"));
    EXPECT_FALSE(isMIDIPath("/a/Riff.wav"));
    EXPECT_FALSE(isMIDIPath("/a/mid"));

    // The bar grows for a MIDI file and shrinks back for audio.
    SeekBar bar;
    const int thin = bar.sizeHint().height();
    bar.setMIDILoading();
    EXPECT_TRUE(bar.showsMIDIRegion());
    EXPECT_GT(bar.height(), thin);
    bar.clearMIDIRegion();
    EXPECT_FALSE(bar.showsMIDIRegion());
    EXPECT_EQ(bar.height(), thin);
}
