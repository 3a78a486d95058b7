#include "waveform/WaveformAnalyzer.h"
#include "support/AudioFixtures.h"
#include "support/ReadFile.h"
#include "support/TestEnvironment.h"
#include "waveform/DecibelBlocks.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>

using namespace kivo::waveform;
using kivo::test::readFile;
using kivo::test::ScratchDir;
using kivo::test::shell;

namespace {

// A 16-bit WAV of interleaved samples, written by the application's own writer; its path.
std::string wav(
    const ScratchDir& dir, const std::string& name, const std::vector<int16_t>& samples, int channels)
{
    std::vector<float> scaled;
    for (int16_t v : samples)
        scaled.push_back(float(v) / 32767.0f);
    const std::string path = dir.str() + "/" + name;
    kivo::test::writeWav(path, scaled, 44100, channels);
    return path;
}

double decibels(int16_t x, double floor = -50)
{
    const double a = std::min(std::abs(int(x)), 32767);
    return a == 0 ? floor : std::clamp(20 * std::log10(a / 32767), floor, 0.0);
}

// The value of one block, computed sample by sample.
double expected(const std::vector<int16_t>& s, std::size_t from, std::size_t n, double floor = -50)
{
    double sum = 0;
    for (std::size_t i = from; i < from + n; ++i)
        sum += decibels(s[i], floor);
    return sum / double(n) / floor;
}

} // namespace

TEST(WaveformAnalyzer, SilenceFullScaleShortAndUnevenFiles)
{
    ScratchDir dir;
    const WaveformAnalyzer analyzer;

    const auto silent = analyzer.samples(wav(dir, "silent.wav", std::vector<int16_t>(44100, 0), 1), 300);
    ASSERT_TRUE(silent.ok()) << silent.error->description();
    ASSERT_EQ(silent.values.size(), 300u);
    for (float v : silent.values)
        ASSERT_EQ(v, 1.0f);

    std::vector<int16_t> square(44100 * 2);
    for (std::size_t i = 0; i < square.size(); ++i)
        square[i] = (i / 200) % 2 ? int16_t(-32768) : int16_t(32767);
    const auto loud = analyzer.samples(wav(dir, "square.wav", square, 2), 500);
    ASSERT_TRUE(loud.ok());
    ASSERT_EQ(loud.values.size(), 500u);
    for (float v : loud.values)
        ASSERT_EQ(v, 0.0f);

    // Fewer samples than values: one value per sample, then silence up to the end.
    const std::vector<int16_t> tiny { 1000, -2000, 30000, 0, 5, 16384, -16384, 32767, 7, 104 };
    const auto shortFile = analyzer.samples(wav(dir, "short.wav", tiny, 1), 32);
    ASSERT_TRUE(shortFile.ok());
    ASSERT_EQ(shortFile.values.size(), 32u);
    for (std::size_t i = 0; i < tiny.size(); ++i)
        EXPECT_NEAR(shortFile.values[i], expected(tiny, i, 1), 1e-6) << i;
    for (std::size_t i = tiny.size(); i < 32; ++i)
        EXPECT_EQ(shortFile.values[i], 1.0f);

    // T = 3N - 1 gives two samples per value; what lies past 2N is left out.
    std::vector<int16_t> uneven(3 * 50 - 1);
    for (std::size_t i = 0; i < uneven.size(); ++i)
        uneven[i] = int16_t(i < 100 ? (i * 331) % 30000 : 32767);
    const auto pairs = analyzer.samples(wav(dir, "uneven.wav", uneven, 1), 50);
    ASSERT_TRUE(pairs.ok());
    for (std::size_t i = 0; i < 50; ++i)
        EXPECT_NEAR(pairs.values[i], expected(uneven, 2 * i, 2), 1e-6) << i;

    // One silent channel of two: each block averages both channels' samples.
    std::vector<int16_t> half(2 * 8000);
    for (std::size_t i = 0; i < half.size(); i += 2)
        half[i] = 16384;
    const auto oneSide = analyzer.samples(wav(dir, "left.wav", half, 2), 40);
    ASSERT_TRUE(oneSide.ok());
    const double leftOnly = (20 * std::log10(16384.0 / 32767) + -50) / 2 / -50;
    for (float v : oneSide.values)
        EXPECT_NEAR(v, leftOnly, 1e-6);
}

TEST(WaveformAnalyzer, BlockMeansMatchThePerSampleFormulaHoweverTheSamplesArrive)
{
    std::mt19937 random(7);
    std::vector<int16_t> s(200000);
    for (auto& x : s)
        x = int16_t(random() % 3 == 0 ? random() % 200 : random()); // quiet, loud, -32768 and 32767 all occur
    s[5] = -32768;
    s[6] = 32767;
    for (const float floor : { -50.0f, -20.0f, -96.0f }) {
        // The narrow kernel for one floor, the widest the processor has for the others.
        DecibelBlocks::useNarrowVectors(floor == -20.0f);
        for (const std::size_t size : { std::size_t(1), std::size_t(3), std::size_t(127), std::size_t(128),
                 std::size_t(1000), std::size_t(65537), s.size() }) {
            // Pieces of uneven lengths, as a decoder hands them over.
            DecibelBlocks blocks(floor, size);
            std::vector<float> out;
            for (std::size_t at = 0; at < s.size();) {
                const std::size_t n = std::min<std::size_t>(s.size() - at, 1 + random() % 5000);
                blocks.feed(s.data() + at, n, out, 1000000);
                at += n;
            }
            ASSERT_EQ(out.size(), s.size() / size);
            EXPECT_EQ(blocks.pending(), s.size() % size);
            for (std::size_t b = 0; b < out.size(); b += std::max<std::size_t>(1, out.size() / 50))
                ASSERT_NEAR(out[b] / floor, expected(s, b * size, size, floor), 2e-6)
                    << "floor " << floor << " block " << size << " #" << b;
            EXPECT_NEAR(
                DecibelBlocks::mean(s.data(), size, floor) / floor, expected(s, 0, size, floor), 2e-6);
        }
    }
    DecibelBlocks::useNarrowVectors(false);
    // The last block is completed with silence; the limit stops values.
    DecibelBlocks blocks(-50, 10);
    std::vector<float> out;
    blocks.feed(s.data(), 25, out, 2);
    ASSERT_EQ(out.size(), 2u);
    DecibelBlocks tail(-50, 10);
    out.clear();
    tail.feed(s.data(), 4, out, 5);
    tail.finishWithSilence(out, 5);
    ASSERT_EQ(out.size(), 1u);
    std::vector<int16_t> padded(s.begin(), s.begin() + 4);
    padded.resize(10, 0);
    EXPECT_NEAR(out[0] / -50, expected(padded, 0, 10), 1e-6);
}

TEST(WaveformAnalyzer, CompressedFilesDrawLikeTheirSource)
{
    ScratchDir dir;
    const std::string source = dir.str() + "/tone.wav";
    // Loud, then quiet, then silent: a shape any decoder must keep.
    ASSERT_TRUE(shell("sox -n -r 44100 -c 2 -b 16 '" + source
        + "' synth 1 sine 440 vol 0.9 : synth 1 sine 440 vol 0.05 : trim 0 1"));
    const WaveformAnalyzer analyzer;
    const auto reference = analyzer.samples(source, 30);
    ASSERT_TRUE(reference.ok());
    for (const std::string ext : { "flac", "mp3" }) {
        const std::string path = dir.str() + "/tone." + ext;
        ASSERT_TRUE(shell("ffmpeg -y -loglevel error -i '" + source + "' '" + path + "'")) << ext;
        const auto decoded = analyzer.samples(path, 30);
        ASSERT_TRUE(decoded.ok()) << ext << ": " << decoded.error->description();
        ASSERT_EQ(decoded.values.size(), 30u);
        // Whole values away from the edges between the three parts and the codec's delay.
        for (int i : { 2, 5, 8, 12, 15, 18, 22, 25, 28 })
            EXPECT_NEAR(decoded.values[i], reference.values[i], ext == "flac" ? 1e-6 : 0.02)
                << ext << " " << i;
    }
    EXPECT_LT(reference.values[5], 0.2);
    EXPECT_GT(reference.values[15], 0.5);
    EXPECT_EQ(reference.values[25], 1.0f);
}

TEST(WaveformAnalyzer, FailuresAreReportedNotDrawn)
{
    ScratchDir dir;
    const WaveformAnalyzer analyzer;
    const std::string good = wav(dir, "a.wav", std::vector<int16_t>(1000, 500), 1);
    EXPECT_EQ(analyzer.samples(good, 0).error->kind, AnalyzeError::Kind::userError);
    EXPECT_EQ(analyzer.samples(dir.str() + "/missing.wav", 10).error->kind, AnalyzeError::Kind::openFailed);
    EXPECT_EQ(analyzer.samples(dir.write("text.wav", "not audio at all, just words"), 10).error->kind,
        AnalyzeError::Kind::openFailed);
    // Only the container the extension names is read.
    EXPECT_EQ(analyzer.samples(wav(dir, "notes.txt", { 1, 2, 3 }, 1), 10).error->kind,
        AnalyzeError::Kind::openFailed);
    // A film without sound under an m4a name.
    const std::string film = dir.str() + "/film.m4a";
    ASSERT_TRUE(shell(
        "ffmpeg -y -loglevel error -f lavfi -i color=c=red:s=16x16:d=0.2 -c:v mpeg4 -f mp4 '" + film + "'"));
    EXPECT_EQ(analyzer.samples(film, 10).error->kind, AnalyzeError::Kind::emptyTracks);

    // Data the decoder cannot read ends reading: no partial waveform, one line in the log.
    std::string mislabelled = readFile(wav(dir, "mislabelled.wav", std::vector<int16_t>(8000, 1234), 2));
    mislabelled[20] = 0x55; // says MPEG audio, holds PCM
    testing::internal::CaptureStdout();
    const auto unreadable = analyzer.samples(dir.write("mislabelled.wav", mislabelled), 10);
    const std::string log = testing::internal::GetCapturedStdout();
    ASSERT_FALSE(unreadable.ok());
    EXPECT_EQ(unreadable.error->kind, AnalyzeError::Kind::readerError);
    EXPECT_EQ(unreadable.error->status, ReaderStatus::failed);
    EXPECT_TRUE(unreadable.values.empty());
    EXPECT_EQ(log.rfind("ERROR: reading waveform audio data has failed failed", 0), 0u) << log;

    // A cancelled analysis ends without an answer, and is no failure worth a line.
    testing::internal::CaptureStdout();
    const auto cancelled = analyzer.samples(good, 10, [] { return true; });
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    ASSERT_FALSE(cancelled.ok());
    EXPECT_EQ(cancelled.error->kind, AnalyzeError::Kind::readerError);
    EXPECT_EQ(cancelled.error->status, ReaderStatus::cancelled);

    // A truncated file draws what it has across the width.
    std::string cut = readFile(wav(dir, "cut.wav", std::vector<int16_t>(4000, 20000), 1));
    cut.resize(44 + 2000 * 2);
    const auto truncated = analyzer.samples(dir.write("cut.wav", cut), 4);
    ASSERT_TRUE(truncated.ok());
    for (float v : truncated.values)
        EXPECT_NEAR(v, 20 * std::log10(20000.0 / 32767) / -50, 1e-6);
}
