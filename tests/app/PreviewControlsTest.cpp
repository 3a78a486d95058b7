#include "app/BrowserColumns.h"
#include "app/PreviewStrip.h"
#include "app/ResultRowDelegate.h"
#include "app/SeekBar.h"
#include "app/StereoLevelMeter.h"
#include "app/VolumeKnob.h"

#include <QSignalSpy>
#include <QTest>

#include "Printers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace kivo::app;

TEST(SeekBar, AClickSeeksToTheFractionUnderThePointerClampedToTheBar)
{
    for (const auto& [x, width, fraction] : { std::tuple { -3.0, 200, 0.0 }, { 210.0, 200, 1.0 },
             { 50.0, 200, 0.25 }, { 10.0, 0, 0.0 }, { std::numeric_limits<double>::quiet_NaN(), 100, 0.0 } })
        EXPECT_DOUBLE_EQ(seekFraction(x, width), fraction) << x << " of " << width;

    SeekBar bar;
    bar.resize(200, 14);
    QSignalSpy seeks(&bar, &SeekBar::seekRequested);
    // Nothing to seek in before a file is there.
    QTest::mouseClick(&bar, Qt::LeftButton, {}, QPoint(100, 7));
    EXPECT_EQ(seeks.count(), 0);

    bar.setActive(true);
    QTest::mouseClick(&bar, Qt::LeftButton, {}, QPoint(150, 7));
    ASSERT_EQ(seeks.count(), 1);
    EXPECT_DOUBLE_EQ(seeks.takeFirst().at(0).toDouble(), 0.75);
    QTest::mouseClick(&bar, Qt::RightButton, {}, QPoint(150, 7));
    EXPECT_EQ(seeks.count(), 0);
}

TEST(PreviewStrip, ShowsTheFileAndItsTimesAndForgetsThemWhenCleared)
{
    for (const auto& [seconds, time, length] : { std::tuple { 0.0, "0:00.0", "0.00 s" },
             { 7.55, "0:07.5", "7.5 s" }, { 125.25, "2:05.2", "2:05" }, { -1.0, "", "" },
             { 0.009, "0:00.0", "0.01 s" }, { 4.0, "0:04.0", "4.0 s" }, { 75.9, "1:15.9", "1:15" } }) {
        EXPECT_EQ(formatPlaybackTime(seconds), time) << seconds;
        EXPECT_EQ(formatLength(seconds), length) << seconds;
    }
    EXPECT_EQ(resultFolderText("/lib/Drums/Kicks/Kick.wav"), "Drums/Kicks");
    EXPECT_EQ(resultFolderText("/lib/Kick.wav"), "lib");
    EXPECT_EQ(resultFolderText("/Kick.wav"), "");

    PreviewStrip strip;
    EXPECT_FALSE(strip.hasFile());
    EXPECT_FALSE(strip.seekBar()->isActive());
    strip.setFile("Kick 01.wav");
    strip.setProgress(1.5, 6.0);
    EXPECT_EQ(strip.nameText(), "Kick 01.wav");
    EXPECT_EQ(strip.timeText(), "0:01.5 / 0:06.0");
    EXPECT_DOUBLE_EQ(strip.seekBar()->progress(), 0.25);
    // An unknown length still shows where playback is.
    strip.setProgress(2, 0);
    EXPECT_EQ(strip.timeText(), "0:02.0");
    EXPECT_DOUBLE_EQ(strip.seekBar()->progress(), 0.0);

    strip.setFile({});
    EXPECT_FALSE(strip.hasFile());
    EXPECT_EQ(strip.timeText(), "");
    EXPECT_FALSE(strip.seekBar()->isActive());
}

TEST(VolumeKnob, DragsOverTwoHundredPointsAndDoubleClicksToTheMiddle)
{
    for (const auto& [from, delta, to] :
        { std::tuple { 0.5, -100, 1.0 }, { 0.5, -150, 1.0 }, { 0.5, 50, 0.25 }, { 0.1, 400, 0.0 } })
        EXPECT_DOUBLE_EQ(knobPositionAfterDelta(from, delta), to) << from << " " << delta;

    VolumeKnob knob;
    QSignalSpy edits(&knob, &VolumeKnob::positionEdited);
    knob.setPosition(0.2);
    EXPECT_EQ(edits.count(), 0); // showing a value is not an edit
    knob.onDelta(-40);
    EXPECT_DOUBLE_EQ(knob.position(), 0.4);
    QTest::mouseDClick(&knob, Qt::LeftButton);
    EXPECT_DOUBLE_EQ(knob.position(), 0.5);
    EXPECT_FALSE(knob.isDragging());
    ASSERT_EQ(edits.count(), 2);
    EXPECT_DOUBLE_EQ(edits.at(1).at(0).toDouble(), 0.5);

    QTest::mousePress(&knob, Qt::LeftButton);
    EXPECT_TRUE(knob.isDragging());
    EXPECT_EQ(knob.cursor().shape(), Qt::BlankCursor);
    QTest::mouseRelease(&knob, Qt::LeftButton);
    EXPECT_FALSE(knob.isDragging());
}

// (The zone colours and fade lengths are the meter's own table.)
TEST(StereoLevelMeter, DotsFadeInAtTheTopAndChangeColourTowardsFullScale)
{
    EXPECT_LT(meterDotCount(40), meterDotCount(100));
    EXPECT_EQ(meterDotCount(-50), meterDotCount(10)); // never fewer than the least

    // Level 0 lights nothing; full scale lights every dot fully; half way fades out towards the top.
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(meterDotIntensity(i, 10, 0.0), 0.0);
        EXPECT_EQ(meterDotIntensity(i, 10, 1.0), 1.0);
        if (i > 0) {
            EXPECT_LE(meterDotIntensity(i, 10, 0.5), meterDotIntensity(i - 1, 10, 0.5));
        }
    }
    EXPECT_EQ(meterDotIntensity(0, 10, 0.5), 1.0);
    EXPECT_EQ(meterDotIntensity(9, 10, 0.5), 0.0);

    // The theme colour below the warning zones, another colour at the top.
    const QColor theme(0x12, 0x34, 0x56);
    EXPECT_EQ(meterZoneColor(0, 51, theme), theme);
    EXPECT_NE(meterZoneColor(50, 51, theme), theme);

    StereoLevelMeter meter;
    meter.setLevels(1.5, std::nan(""));
    EXPECT_EQ(meter.left(), 1.0);
    EXPECT_EQ(meter.right(), 0.0);
}
