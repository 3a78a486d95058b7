#include "PlaybackTestSupport.h"
#include "support/ReadFile.h"

#include "playback/AudioEngine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <optional>

using namespace kivo::playback;

namespace {

constexpr int kRate = 44100;

std::string soundFont(const std::string& name)
{
    return std::string(KIVO_BINARY_DIR) + "/resources/SoundFonts/" + name;
}

// Energy of the first difference relative to the signal: a simple brightness measure.
double brightness(const std::vector<float>& s, int from, int to)
{
    double diff = 0, sig = 0;
    for (int i = from + 1; i < to; ++i) {
        double d = s[2 * i] - s[2 * (i - 1)];
        diff += d * d;
        sig += double(s[2 * i]) * s[2 * i];
    }
    return sig > 0 ? std::sqrt(diff / sig) : 0;
}

struct Rendered {
    std::vector<float> audio;
    std::optional<std::string> error;
};

Rendered playA4(const std::string& file, int program)
{
    AudioEngine engine;
    engine.useOfflineRendering(kRate);
    engine.start();
    Rendered r;
    r.error = engine.sampler().loadPreset(
        soundFont(file), uint8_t(program), SamplerNode::kDefaultMelodicBankMSB, 0);
    engine.sampler().startNote(69, 100, 0);
    r.audio = engine.render(kRate);
    return r;
}

} // namespace

TEST(SoundFonts, EachGeneratedFontPlaysItsPresetInTuneAudiblyAndKeepsItsSourcesAndCredits)
{
    struct Case {
        const char* file;
        int program;
    };
    auto infoField = [](const std::string& bytes, const std::string& id) -> std::string {
        // INFO sub-chunks: a four-letter id, a little-endian size, the text.
        const std::size_t at = bytes.find(id);
        if (at == std::string::npos || at + 8 > bytes.size())
            return std::string();
        const auto* size = reinterpret_cast<const unsigned char*>(bytes.data() + at + 4);
        const std::size_t length = size[0] | size[1] << 8 | size[2] << 16 | std::size_t(size[3]) << 24;
        return std::string(bytes.c_str() + at + 8, std::min(length, bytes.size() - at - 8)).c_str();
    };
    std::map<std::string, double> bright;
    for (Case c : { Case { "Piano.sf2", 0 }, Case { "Felt Piano.sf2", 1 }, Case { "Rhodes.sf2", 0 },
             Case { "Synth Pad.sf2", 0 } }) {
        Rendered r = playA4(c.file, c.program);
        ASSERT_FALSE(r.error) << c.file << ": " << *r.error;
        // The pad swells slowly; every sound is steady after half a second.
        double level = kivo::test::rms(r.audio, kRate / 2, kRate / 2 + 8192);
        EXPECT_GT(level, 0.01) << c.file;
        float peak = 0;
        for (float v : r.audio)
            peak = std::max(peak, std::fabs(v));
        EXPECT_LT(peak, 1.0f) << c.file;
        EXPECT_NEAR(kivo::test::estimatePitch(r.audio, kRate, kRate / 2, kRate / 2 + 8192), 440.0, 4.0)
            << c.file;
        bright[c.file] = brightness(r.audio, kRate / 10, kRate / 2);
        // Each keeps the credits of the fonts it was made from.
        const std::string bytes = kivo::test::readFile(soundFont(c.file));
        const std::string info = bytes.substr(0, bytes.find("sdta"));
        EXPECT_NE(infoField(info, "ICOP").find("Frank Wen"), std::string::npos) << c.file;
        EXPECT_NE(infoField(info, "IENG").find("Frank Wen"), std::string::npos) << c.file;
        EXPECT_NE(infoField(info, "ICMT").find("MIT License"), std::string::npos) << c.file;
        EXPECT_NE(infoField(info, "ICMT").find("fluid-soundfont-gm"), std::string::npos) << c.file;
    }
    // The felt piano is the grand with its filter closed: clearly darker.
    EXPECT_LT(bright["Felt Piano.sf2"], 0.7 * bright["Piano.sf2"]);

    // A program the font lacks is an error and leaves the built-in tone sounding (a missing font is
    // the audition's test).
    Rendered wrong = playA4("Rhodes.sf2", 5);
    ASSERT_TRUE(wrong.error);
    EXPECT_NE(wrong.error->find("no preset 5"), std::string::npos);
    EXPECT_NEAR(kivo::test::estimatePitch(wrong.audio, kRate, 4410, 12000), 440.0, 1.0);

    const std::string text = kivo::test::readFile(soundFont("NOTICE.txt"));
    for (const char* part : { "fluid-soundfont-gm", "Frank Wen", "MIT", "Permission is hereby granted" })
        EXPECT_NE(text.find(part), std::string::npos) << part;
}
