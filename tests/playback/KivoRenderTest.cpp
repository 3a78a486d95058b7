// The offline render tool, run as a user would, checked with sox.

#include "PlaybackTestSupport.h"
#include "support/FifoWatchdog.h"
#include "support/TestEnvironment.h"

#include "playback/PreviewLevels.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>

using kivo::test::runRender;
using kivo::test::ScratchDir;
using kivo::test::shell;
using kivo::test::ToolRun;

TEST(KivoRender, RendersThroughThePreviewPathAtTheKnobsGain)
{
    ScratchDir dir;
    const std::string in = dir.str() + "/tone.flac";
    ASSERT_TRUE(shell("sox -n -r 44100 -c 1 '" + in + "' synth 2 sine 440 vol 0.5"));

    // Whole file at full volume, resampled to 48 kHz on both sides.
    const std::string full = dir.str() + "/full.wav";
    ToolRun r = runRender("'" + in + "' '" + full + "'");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("96000 frames at 48000 Hz, peak -6.0"), std::string::npos) << r.out;
    // sox's stat reads interleaved channels as one signal; look at the left side alone.
    const std::string left = dir.str() + "/left.wav";
    ASSERT_TRUE(shell("sox '" + full + "' '" + left + "' remix 1"));
    auto stat = kivo::test::soxStat(left);
    EXPECT_NEAR(stat.maximum, 0.5, 0.01);
    EXPECT_NEAR(stat.roughFrequency, 440, 10);

    // Knob 0.5, from 1.5 s, half a second asked for at 44.1 kHz: the file ends after 0.5 s.
    const std::string part = dir.str() + "/part.wav";
    r = runRender("'" + in + "' '" + part + "' --start 1.5 --seconds 0.5 --rate 44100 --volume 0.5");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("22050 frames at 44100 Hz"), std::string::npos) << r.out;
    stat = kivo::test::soxStat(part);
    EXPECT_NEAR(stat.maximum, 0.5 * kivo::playback::volumeGain(0.5f), 0.01);
    // A loop named for its tempo, at a project tempo 20 % faster and a whole tone up from its key:
    // it lasts 2 s / 1.2, and the tone is a whole tone higher.
    const std::string loop = dir.str() + "/Pad Am 120bpm.flac";
    ASSERT_TRUE(shell("cp '" + in + "' '" + loop + "'"));
    const std::string synced = dir.str() + "/synced.wav";
    r = runRender("'" + loop + "' '" + synced + "' --project-bpm 144 --project-key Bm --stretcher finer");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("tempo: 120.00 BPM played at 144.00 BPM (time ratio 0.8333)"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("key: Am shifted +2 semitones"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("80000 frames at 48000 Hz"), std::string::npos) << r.out;
    ASSERT_TRUE(shell("sox '" + synced + "' '" + left + "' remix 1 trim 0.2 1"));
    EXPECT_NEAR(kivo::test::soxStat(left).roughFrequency, 440 * std::pow(2.0, 2 / 12.0), 12);

    // Longer than what is left: the tail is silence.
    const std::string tail = dir.str() + "/tail.wav";
    r = runRender("'" + in + "' '" + tail + "' --start 1.5 --seconds 1");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(shell("sox '" + tail + "' -n trim 0.55 stat 2>&1 | grep -q 'Maximum amplitude: *0.000000'"));
}

TEST(KivoRender, BadInputFailsWithAClearMessage)
{
    ScratchDir dir;
    const std::string out = dir.str() + "/out.wav";
    const std::string junk = dir.write("junk.wav", "RIFF this is not audio");
    ToolRun r = runRender("'" + junk + "' '" + out + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("kivo-render: cannot play " + junk + ": "), std::string::npos) << r.out;
    EXPECT_FALSE(shell("test -e '" + out + "'"));

    r = runRender("'" + dir.str() + "/absent.mp3' '" + out + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("cannot play"), std::string::npos) << r.out;

    const std::string in = dir.str() + "/tone.wav";
    ASSERT_TRUE(shell("sox -n -r 48000 -c 2 '" + in + "' synth 1 sine 440"));
    for (const std::string& args :
        std::vector<std::string> { "", "'" + in + "'", "'" + in + "' '" + out + "' --volume 2",
            "'" + in + "' '" + out + "' --rate abc", "'" + in + "' '" + out + "' --project-bpm 5",
            "'" + in + "' '" + out + "' --project-key H", "'" + in + "' '" + out + "' --stretcher best",
            "'" + in + "' '" + out + "' --start 3", "'" + in + "' '" + out + "' --bogus 1" }) {
        r = runRender(args);
        EXPECT_EQ(r.status, 2) << args << ": " << r.out;
        EXPECT_EQ(r.out.rfind("kivo-render: ", 0), 0u) << args << ": " << r.out;
    }
    r = runRender("'" + in + "' '" + dir.str() + "/no/such/folder/out.wav'");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("cannot write"), std::string::npos) << r.out;

    // A playlist named ".wav" plays nothing it names: not another sample, not a FIFO (on which
    // the preview would wait for good).
    kivo::test::FifoWatchdog fifo(dir.str() + "/fifo", std::chrono::seconds(10));
    ASSERT_TRUE(fifo.made());
    for (const std::string& target : { in, fifo.path() }) {
        const std::string list = dir.write("list.wav", kivo::test::hlsPlaylistNaming(target));
        r = runRender("'" + list + "' '" + out + "'");
        EXPECT_EQ(r.status, 1) << target << ": " << r.out;
        EXPECT_NE(r.out.find("cannot play"), std::string::npos) << r.out;
    }
    EXPECT_FALSE(fifo.stop()) << "the FIFO was opened";
}
