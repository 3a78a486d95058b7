// The offline render tool, run as a user would, checked with sox: audio files and MIDI files.

#include "PlaybackTestSupport.h"
#include "support/ReadFile.h"
#include "support/TestEnvironment.h"

#include "music/MIDIFileWriter.h"
#include "playback/PreviewLevels.h"

#include <gtest/gtest.h>

#include <QFileInfo>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using kivo::test::runRender;
using kivo::test::ScratchDir;
using kivo::test::shell;
using kivo::test::ToolRun;

namespace {

// The rendered stereo, read back through sox as raw floats.
std::vector<float> samples(const ScratchDir& dir, const std::string& wav)
{
    const std::string raw = dir.str() + "/samples.f32";
    EXPECT_TRUE(shell("sox '" + wav + "' -e floating-point -b 32 -t raw '" + raw + "'"));
    const std::string bytes = kivo::test::readFile(raw);
    std::vector<float> out(bytes.size() / sizeof(float));
    std::memcpy(out.data(), bytes.data(), out.size() * sizeof(float));
    return out;
}

// The left side of a rendered file at `rate` between two times: its peak, its RMS and the frequency
// of a sine there.
struct LeftSide {
    double maximum = 0, rms = 0, frequency = 0;
};
LeftSide leftSide(const ScratchDir& dir, const std::string& wav, int rate, double from, double length)
{
    const std::vector<float> s = samples(dir, wav);
    const int a = int(from * rate), b = std::min(int((from + length) * rate), int(s.size() / 2));
    LeftSide left { 0, kivo::test::rms(s, a, b), kivo::test::sineFrequency(s, rate, a, b) };
    for (int i = a; i < b; ++i)
        left.maximum = std::max(left.maximum, double(std::fabs(s[std::size_t(2 * i)])));
    return left;
}

} // namespace

TEST(KivoRender, MIDIFilesPlayThroughThePreviewPlayerWithTheChosenSoundAndShift)
{
    ScratchDir dir;
    // 120 BPM: A4 from 0.5 s to 2.0 s.
    kivo::music::MIDIFileWriter writer(1, 480);
    writer.addTempoBPM(0, 0, 120);
    writer.addNote(0, 480, 1440, 69, 100);
    const auto bytes = writer.bytes();
    const std::string in = dir.write("a4.MID", std::string(bytes.begin(), bytes.end()));

    const std::string out = dir.str() + "/a4.wav";
    ToolRun r = runRender("'" + in + "' '" + out + "'");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("96000 frames at 48000 Hz"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("MIDI:"), std::string::npos) << "the sounds are found: " << r.out;
    EXPECT_LT(leftSide(dir, out, 48000, 0.0, 0.45).maximum, 0.001);
    EXPECT_GT(leftSide(dir, out, 48000, 0.8, 0.5).rms, 0.01);
    EXPECT_NEAR(kivo::test::estimatePitch(samples(dir, out), 48000, 48000, 48000 + 8192), 440, 4);

    // One octave down on the pad, from 1 s on: the note is caught at once.
    r = runRender("'" + in + "' '" + out + "' --sound 3 --octave -1 --start 1 --rate 44100");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("44100 frames at 44100 Hz"), std::string::npos) << r.out;
    EXPECT_GT(leftSide(dir, out, 44100, 0.5, 0.4).rms, 0.005);
    EXPECT_NEAR(kivo::test::estimatePitch(samples(dir, out), 44100, 22050, 22050 + 8192), 220, 2);

    // At a project tempo of 144 the events come 1.2 times as fast (the file's own tempo is read from
    // it): the note sounds from 0.42 s, in tune, and the render lasts 2 s / 1.2.
    r = runRender("'" + in + "' '" + out + "' --project-bpm 144");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("80000 frames at 48000 Hz"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("tempo: 120.00 BPM played at 144.00 BPM"), std::string::npos) << r.out;
    EXPECT_LT(leftSide(dir, out, 48000, 0.0, 0.4).maximum, 0.001);
    EXPECT_GT(leftSide(dir, out, 48000, 0.45, 0.5).rms, 0.01);
    EXPECT_NEAR(kivo::test::estimatePitch(samples(dir, out), 48000, 28800, 28800 + 8192), 440, 4);

    // Catch mode off (the option reaches the player): the note held across the start stays silent.
    ASSERT_EQ(runRender("'" + in + "' '" + out + "' --start 1 --catch off").status, 0);
    EXPECT_LT(leftSide(dir, out, 48000, 0.0, 0.9).maximum, 0.001);

    const std::string junk = dir.write("junk.mid", "MThd but nothing more");
    r = runRender("'" + junk + "' '" + out + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("cannot play " + junk + ": Error loading MIDI file"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Error loading MIDI file"), r.out.find("Error loading MIDI file: no readable"));
}

namespace {

// Runs kivo-render with its output thrown away; the exit status and the most memory it held (KiB).
std::pair<int, long> renderMemory(const std::vector<std::string>& args)
{
    const std::string tool = std::string(KIVO_BINARY_DIR) + "/tools/kivo-render/kivo-render";
    std::vector<char*> argv { const_cast<char*>(tool.c_str()) };
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    // Under the address sanitizer freed memory is held back from reuse for a while, which would
    // count here as memory the tool holds.
    const char* asan = std::getenv("ASAN_OPTIONS");
    const std::string saved = asan ? asan : "";
    ::setenv("ASAN_OPTIONS", (saved + ":quarantine_size_mb=0:thread_local_quarantine_size_kb=0").c_str(), 1);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::execv(tool.c_str(), argv.data());
        ::_exit(127);
    }
    asan ? ::setenv("ASAN_OPTIONS", saved.c_str(), 1) : ::unsetenv("ASAN_OPTIONS");
    int status = 0;
    struct rusage usage { };
    if (pid < 0 || ::wait4(pid, &status, 0, &usage) != pid)
        return { -1, 0 };
    return { WIFEXITED(status) ? WEXITSTATUS(status) : -1, usage.ru_maxrss };
}

} // namespace

TEST(KivoRender, LongRendersAreWrittenAsTheyGo)
{
    // A tiny file declaring a long time: one note held for `seconds` at 120 BPM.
    ScratchDir dir;
    auto heldNote = [&](const std::string& name, int seconds) {
        kivo::music::MIDIFileWriter writer(0, 96);
        writer.addNote(0, 0, std::int64_t(seconds) * 2 * 96, 60, 100);
        const auto bytes = writer.bytes();
        return dir.write(name, std::string(bytes.begin(), bytes.end()));
    };
    const std::string shortIn = heldNote("short.mid", 10);
    const std::string longIn = heldNote("long.mid", 1200);
    ASSERT_LT(QFileInfo(QString::fromStdString(longIn)).size(), 64);

    const std::string out = dir.str() + "/out.wav";
    const auto [shortStatus, shortMemory] = renderMemory({ shortIn, out, "--rate", "8000" });
    ASSERT_EQ(shortStatus, 0);
    const auto [longStatus, longMemory] = renderMemory({ longIn, out, "--rate", "8000" });
    ASSERT_EQ(longStatus, 0);
    // 1,200 s of 16-bit stereo at 8 kHz: the whole length is in the file...
    EXPECT_EQ(QFileInfo(QString::fromStdString(out)).size(), 44 + 1200 * 8000 * 4);
    // ...but never in memory at once (it would take 77 MB there as floats, more as both forms).
    EXPECT_LT(longMemory - shortMemory, 16 * 1024)
        << shortMemory << " KiB for 10 s, " << longMemory << " for 1200 s";
}

TEST(KivoRender, RendersThroughThePreviewPathAtTheKnobsGain)
{
    ScratchDir dir;
    const std::string in = dir.tone("tone.flac", "synth 2 sine 440 vol 0.5", 44100, 1);

    // Whole file at full volume, resampled to 48 kHz on both sides.
    const std::string full = dir.str() + "/full.wav";
    ToolRun r = runRender("'" + in + "' '" + full + "'");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("96000 frames at 48000 Hz, peak -6.0"), std::string::npos) << r.out;
    auto left = leftSide(dir, full, 48000, 0, 2);
    EXPECT_NEAR(left.maximum, 0.5, 0.01);
    EXPECT_NEAR(left.frequency, 440, 1);

    // Knob 0.5, from 1.5 s, half a second asked for at 44.1 kHz: the file ends after 0.5 s.
    const std::string part = dir.str() + "/part.wav";
    r = runRender("'" + in + "' '" + part + "' --start 1.5 --seconds 0.5 --rate 44100 --volume 0.5");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("22050 frames at 44100 Hz"), std::string::npos) << r.out;
    EXPECT_NEAR(leftSide(dir, part, 44100, 0, 0.5).maximum, 0.5 * kivo::playback::volumeGain(0.5f), 0.01);
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
    EXPECT_NEAR(leftSide(dir, synced, 48000, 0.2, 1).frequency, 440 * std::pow(2.0, 2 / 12.0), 12);

    // Longer than what is left: the tail is silence.
    const std::string tail = dir.str() + "/tail.wav";
    r = runRender("'" + in + "' '" + tail + "' --start 1.5 --seconds 1");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(leftSide(dir, tail, 48000, 0.55, 1).maximum, 0.0);
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

    const std::string in = dir.tone("tone.wav", "synth 1 sine 440");
    std::vector<std::string> usage { "", "'" + in + "'" };
    for (const char* option :
        { "--volume 2", "--rate abc", "--project-bpm 5", "--project-key H", "--stretcher best", "--start 3",
            "--bogus 1", "--sound 4", "--instrument -1", "--octave 3", "--octave 0.5", "--catch maybe" })
        usage.push_back("'" + in + "' '" + out + "' " + option);
    for (const std::string& args : usage) {
        r = runRender(args);
        EXPECT_EQ(r.status, 2) << args << ": " << r.out;
        EXPECT_EQ(r.out.rfind("kivo-render: ", 0), 0u) << args << ": " << r.out;
    }
    r = runRender("'" + in + "' '" + dir.str() + "/no/such/folder/out.wav'");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("cannot write"), std::string::npos) << r.out;
}
