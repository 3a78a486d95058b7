#include "analysis/Analysers.h"
#include "analysis/AnalysisStore.h"
#include "analysis/AudioAnalysis.h"
#include "analysis/Duplicates.h"
#include "support/AudioFixtures.h"
#include "support/ReadFile.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

using namespace kivo::analysis;
using kivo::test::drumLoop;
using kivo::test::writeWav;

namespace {

constexpr double kRate = kDecodeRate;

std::vector<float> silence(double seconds)
{
    return std::vector<float>(std::size_t(seconds * kRate) * 2, 0.0f);
}

// Plucked tones with their octave, dying away: `keys` struck together, or one after another for
// `seconds` each.
std::vector<float> plucked(std::initializer_list<int> keys, double seconds, bool together, float gain = 1)
{
    const std::size_t frames = std::size_t(seconds * kRate);
    std::vector<float> out(2 * frames * (together ? 1 : keys.size()), 0.0f);
    std::size_t at = 0;
    for (int key : keys) {
        const double f = 440 * std::pow(2.0, (key - 69) / 12.0);
        for (std::size_t i = 0; i < frames; ++i, at += !together) {
            const double t = double(i) / kRate;
            const double v = (together ? 0.2 : 0.4) * gain * std::exp(-t * 3)
                * (std::sin(2 * M_PI * f * t) + 0.4 * std::sin(4 * M_PI * f * t));
            out[2 * (together ? i : at)] += float(v);
            out[2 * (together ? i : at) + 1] += float(v);
        }
    }
    return out;
}

} // namespace

TEST(AudioAnalysis, HearsLoopsTempoOneShotsAndTheirKeys)
{
    for (double bpm : { 92.0, 124.0, 150.0 }) {
        const AnalysisResult loop = analyseStereo(drumLoop(bpm, 2));
        ASSERT_TRUE(loop.ok());
        EXPECT_EQ(loop.isLoop, true) << bpm;
        ASSERT_TRUE(loop.bpm) << bpm;
        EXPECT_NEAR(*loop.bpm, bpm, 1.0);
    }

    const AnalysisResult major = analyseStereo(plucked({ 48, 60, 64, 67 }, 2.0, true));
    EXPECT_EQ(major.isLoop, false);
    EXPECT_FALSE(major.bpm) << "a one-shot has no tempo";
    ASSERT_TRUE(major.key);
    EXPECT_EQ(major.key->keyText(), "C");
    const AnalysisResult minor = analyseStereo(plucked({ 45, 57, 60, 64 }, 1.5, true));
    ASSERT_TRUE(minor.key);
    EXPECT_EQ(minor.key->keyText(), "Am");
    // Black-key roots take the key's usual name.
    const AnalysisResult sharpMinor = analyseStereo(plucked({ 42, 54, 57, 61 }, 1.5, true));
    ASSERT_TRUE(sharpMinor.key);
    EXPECT_EQ(sharpMinor.key->keyText(), "F#m");

    // Silence and noise have no key or tempo; a click too short for a bar is a one-shot.
    const AnalysisResult quiet = analyseStereo(silence(3));
    EXPECT_FALSE(quiet.key);
    EXPECT_FALSE(quiet.bpm);
    EXPECT_FALSE(quiet.loudness);
    EXPECT_FALSE(quiet.truePeak);
    std::vector<float> noise = silence(3);
    std::mt19937 random(3);
    std::normal_distribution<float> gauss(0, 0.1f);
    for (float& s : noise)
        s = gauss(random);
    EXPECT_FALSE(analyseStereo(noise).key);
    EXPECT_EQ(analyseStereo(drumLoop(120, 1)).isLoop, true);
    std::vector<float> click = drumLoop(120, 1);
    click.resize(std::size_t(0.4 * kRate) * 2);
    EXPECT_EQ(analyseStereo(click).isLoop, false);

    // A tempo heard at half or double takes its folder's octave; a sibling heard wrong itself, or
    // one folder file alone, does not move it, and the octave stays within 60 to 200 BPM.
    EXPECT_DOUBLE_EQ(preferFolderOctave(162, { 81, 84, 166, 90 }), 81);
    EXPECT_DOUBLE_EQ(preferFolderOctave(84.75, { 170, 166, 172 }), 169.5);
    EXPECT_DOUBLE_EQ(preferFolderOctave(124, { 120, 62, 126 }), 124);
    EXPECT_DOUBLE_EQ(preferFolderOctave(90, { 180 }), 90);
    EXPECT_DOUBLE_EQ(preferFolderOctave(110, { 240, 250 }), 110);
}

TEST(AudioAnalysis, MeasuresLoudnessAndThePeakBetweenSamples)
{
    // A 997 Hz sine at -20 dBFS in both channels reads -20 LUFS.
    std::vector<float> sine = silence(5);
    for (std::size_t i = 0; i < sine.size() / 2; ++i)
        sine[2 * i] = sine[2 * i + 1] = float(0.1 * std::sin(2 * M_PI * 997 * double(i) / kRate));
    Loudness level = measureLoudness(sine, 2, kDecodeRate);
    ASSERT_TRUE(level.integrated);
    EXPECT_NEAR(*level.integrated, -20.0, 0.3);
    ASSERT_TRUE(level.truePeak);
    EXPECT_NEAR(*level.truePeak, -20.0, 0.3);
    // The same sine on one channel, as a mono file is measured, is 3 dB quieter.
    std::vector<float> mono(sine.size() / 2);
    for (std::size_t i = 0; i < mono.size(); ++i)
        mono[i] = sine[2 * i];
    EXPECT_NEAR(*measureLoudness(mono, 1, kDecodeRate).integrated, -23.0, 0.3);

    // A quarter-rate sine sampled 45 degrees off its crests: every sample is 3 dB under the
    // peak the waveform reaches between them, which only a short stretch of the file shows.
    std::vector<float> between = silence(2);
    for (std::size_t i = 0; i < between.size() / 2; ++i) {
        const double quiet = i >= 44100 && i < 44200 ? 1.0 : 0.1;
        between[2 * i] = between[2 * i + 1] = float(quiet * 0.5 * std::sin(M_PI / 2 * double(i) + M_PI / 4));
    }
    level = measureLoudness(between, 2, kDecodeRate);
    ASSERT_TRUE(level.truePeak);
    EXPECT_NEAR(*level.truePeak, 20 * std::log10(0.5), 0.5);
    EXPECT_GT(*level.truePeak, 20 * std::log10(0.5 * std::sqrt(0.5)) + 2);
}

TEST(AudioAnalysis, FilesAndTheCommandLine)
{
    kivo::test::ScratchDir dir;
    const std::string loopPath = dir.str() + "/loop.wav";
    writeWav(loopPath, drumLoop(100, 2));
    const AnalysisResult fromFile = analyseFile(loopPath);
    ASSERT_TRUE(fromFile.ok()) << fromFile.error;
    ASSERT_TRUE(fromFile.bpm);
    EXPECT_NEAR(*fromFile.bpm, 100, 1.0);
    EXPECT_NEAR(fromFile.duration, 4.8, 0.01);

    // Text, an empty file, a missing one and a cut-off header: an error, never a value.
    const std::string text = dir.write("notes.wav", "not audio at all");
    for (const std::string& bad :
        { text, dir.write("empty.wav"), dir.write("cut.wav", kivo::test::readFile(loopPath).substr(0, 30)),
            dir.str() + "/missing.wav" }) {
        const AnalysisResult result = analyseFile(bad);
        EXPECT_FALSE(result.ok()) << bad;
        EXPECT_FALSE(result.bpm || result.key || result.loudness || result.truePeak) << bad;
    }

    const auto run = kivo::test::runTool(
        "tools/kivo-index/kivo-index", "analyse '" + loopPath + "' '" + text + "' 2>/dev/null");
    EXPECT_EQ(run.status, 1) << "a file that cannot be analysed fails the run";
    const std::string& output = run.out;
    const std::string firstLine = output.substr(0, output.find('\n'));
    EXPECT_EQ(firstLine.rfind(loopPath + "\t100.0\t", 0), 0u) << firstLine;
    EXPECT_NE(firstLine.find("\tloop"), std::string::npos) << firstLine;
    EXPECT_NE(output.find(text + "\t-\t-\t-\t-\t-\n"), std::string::npos) << output;
}

TEST(Duplicates, FindsCopiesAndReEncodedOrQuieterVersionsButNotOtherAudio)
{
    kivo::test::ScratchDir dir;
    const std::string root = dir.str();
    const std::string melody = root + "/melody.wav", copy = root + "/copy of melody.wav",
                      quieter = root + "/melody quieter.mp3", other = root + "/other.wav",
                      stab = root + "/stab.wav", softStab = root + "/stab soft.wav";
    writeWav(melody, plucked({ 60, 64, 67, 72, 71, 67, 64, 62, 60, 55, 57, 59 }, 0.5, false));
    std::filesystem::copy_file(melody, copy);
    ASSERT_EQ(std::system(("ffmpeg -v quiet -y -i '" + melody
                  + "' -af volume=-6dB -c:a libmp3lame -b:a 128k '" + quieter + "'")
                              .c_str()),
        0);
    writeWav(other, plucked({ 57, 53, 50, 62, 65, 69, 68, 64, 59, 56, 52, 47 }, 0.5, false));
    // One-shots shorter than the fingerprinter's window still compare.
    writeWav(stab, plucked({ 60, 64, 67 }, 1, true));
    writeWav(softStab, plucked({ 60, 64, 67 }, 1, true, 0.5f));

    // Through the database, as the window asks.
    std::string error;
    auto store = AnalysisStore::open(root + "/Analysis.sqlite", error);
    ASSERT_TRUE(store) << error;
    for (const std::string& path : { melody, copy, quieter, other, stab, softStab }) {
        const AnalysisResult result = analyseFile(path);
        ASSERT_TRUE(result.ok() && result.fingerprinted) << path << result.error;
        EXPECT_FALSE(result.fingerprint.empty()) << path;
        ASSERT_TRUE(store->save(*AnalysisStore::identify(path), result));
    }
    const auto kept = store->find(*AnalysisStore::identify(melody));
    ASSERT_TRUE(kept && kept->fingerprinted);
    const FingerprintedFile self { melody, kept->duration, kept->audioHash, kept->fingerprint };
    const auto library = store->fingerprints(0, 1e9);
    ASSERT_EQ(library.size(), 6u);

    const std::vector<Duplicate> found = findDuplicates(self, library);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].path, copy);
    EXPECT_TRUE(found[0].exact);
    EXPECT_EQ(found[1].path, quieter);
    EXPECT_FALSE(found[1].exact);
    EXPECT_GT(found[1].similarity, 0.8);

    const auto stabKept = store->find(*AnalysisStore::identify(stab));
    const std::vector<Duplicate> stabs
        = findDuplicates({ stab, stabKept->duration, stabKept->audioHash, stabKept->fingerprint }, library);
    ASSERT_EQ(stabs.size(), 1u);
    EXPECT_EQ(stabs[0].path, softStab);
    EXPECT_FALSE(stabs[0].exact);

    // Unrelated audio differs in about half its bits; too little overlap tells nothing.
    const auto otherKept = store->find(*AnalysisStore::identify(other));
    EXPECT_GT(fingerprintDistance(kept->fingerprint, otherKept->fingerprint), 0.3);
    EXPECT_EQ(
        fingerprintDistance(kept->fingerprint, { kept->fingerprint.begin(), kept->fingerprint.begin() + 3 }),
        1);
    EXPECT_TRUE(findDuplicates(self, { { other, kept->duration, 1, otherKept->fingerprint } }).empty());
}
