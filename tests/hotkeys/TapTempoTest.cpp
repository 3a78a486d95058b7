// Tap tempo on a manual clock: the outlier filter, the session that ends three seconds after
// the last tap, and the display that clears a second later.

#include "hotkeys/TapTempoManager.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace kivo;
using kivo::hotkeys::TapTempoManager;

namespace {

// Taps at these times (seconds from the first) and the tempo shown after the last.
std::optional<int> tapSeries(TapTempoManager& m, platform::ManualClock& clock, std::vector<double> times)
{
    double at = 0;
    for (double t : times) {
        clock.advance(t - at);
        at = t;
        m.tap();
    }
    return m.displayBPM();
}

TEST(TapTempo, SeriesGiveTheirTempoSessionsEndAfterThreeSecondsAndTheDisplayClearsAfterFour)
{
    const struct {
        std::vector<double> taps;
        std::optional<int> bpm;
    } cases[] = {
        { { 0, 0.5, 1.0, 1.5 }, 120 },
        // Four intervals: none can lie more than two deviations out, so all count.
        { { 0, 0.5, 1.0, 1.5, 1.6 }, 150 },
        // The short last interval is dropped: five kept of six.
        { { 0, 0.5, 1.0, 1.5, 2.0, 2.5, 2.6 }, 120 },
        // A 2.5 s gap continues the session but is dropped as an outlier.
        { { 0, 0.5, 1.0, 1.5, 2.0, 2.5, 5.0 }, 120 },
        { { 0 }, std::nullopt },
        { { 0, 0.25 }, 240 },
    };
    for (const auto& c : cases) {
        platform::ManualClock clock;
        TapTempoManager m(clock);
        EXPECT_EQ(tapSeries(m, clock, c.taps), c.bpm) << c.taps.size() << " taps ending " << c.taps.back();
        EXPECT_EQ(m.tapCount(), int(c.taps.size()));
        EXPECT_TRUE(m.isSessionActive());
    }

    platform::ManualClock clock;
    TapTempoManager m(clock);
    QSignalSpy shown(&m, &TapTempoManager::displayBPMChanged);
    m.tap();
    EXPECT_FALSE(m.displayBPM());
    clock.advance(0.5);
    m.tap();
    EXPECT_EQ(m.displayBPM(), 120);
    clock.advance(2.999);
    EXPECT_TRUE(m.isSessionActive());
    clock.advance(0.002);
    EXPECT_FALSE(m.isSessionActive());
    EXPECT_TRUE(m.tapTimestamps().empty());
    EXPECT_EQ(m.displayBPM(), 120);
    clock.advance(1.0);
    EXPECT_FALSE(m.displayBPM());
    EXPECT_EQ(shown.count(), 2);

    // A tap after the pause starts afresh: the old taps play no part.
    m.tap();
    clock.advance(1.0);
    m.tap();
    EXPECT_EQ(m.displayBPM(), 60);
    EXPECT_EQ(m.tapCount(), 4);
    // A tap within the display's last second keeps the number up and restarts both timers.
    clock.advance(3.5);
    EXPECT_FALSE(m.isSessionActive());
    EXPECT_EQ(m.displayBPM(), 60);
    m.tap();
    clock.advance(3.9);
    EXPECT_EQ(m.displayBPM(), 60);
    clock.advance(0.2);
    EXPECT_FALSE(m.displayBPM());
}

} // namespace
