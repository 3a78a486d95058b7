#include "organise/MetadataInheritance.h"
#include "organise/SearchFilters.h"

#include <gtest/gtest.h>

#include <random>

using namespace kivo::organise;
using kivo::index::MetadataOverrides;

namespace {

MetadataInheritance inheritance(const MetadataOverrides& overrides, const TagMaps& tags = {})
{
    return MetadataInheritance(
        std::make_shared<const MetadataOverrides>(overrides), std::make_shared<const TagMaps>(tags));
}

// The rule walked without any memo: the reference the memoised pass must agree with.
std::optional<std::int64_t> naiveBPM(
    const MetadataOverrides& o, std::string path, std::optional<std::int64_t> own)
{
    if (o.bpmOverrides.contains(path))
        return o.bpmOverrides.at(path);
    if (o.clearedBPMPaths.contains(path))
        return std::nullopt;
    if (own)
        return own;
    for (std::string f(kivo::index::parentPath(path)); f.size() >= 2; f = kivo::index::parentPath(f))
        if (o.bpmOverrides.contains(f))
            return o.bpmOverrides.at(f);
    return std::nullopt;
}

} // namespace

TEST(MetadataInheritance, FolderOverridesReachDownUnlessSomethingNearerSpeaks)
{
    MetadataOverrides o;
    o.setBPM(90, { "/Loops" });
    o.setKey("Am", { "/Loops" });
    {
        auto m = inheritance(o);
        EXPECT_EQ(m.resolveBPM("/Loops/Sub/a.wav", std::nullopt), (Effective<std::int64_t> { 90, true }));
        EXPECT_EQ(m.resolveBPM("/Loops/Sub/b 120bpm.wav", 120), (Effective<std::int64_t> { 120, false }));
        EXPECT_EQ(m.resolveKey("/Loops/Sub/a.wav", std::nullopt), (Effective<std::string> { "Am", true }));
        EXPECT_EQ(m.effectiveKey("/Loops/Sub/c.wav", "F#"), "F#");
        EXPECT_EQ(m.effectiveBPM("/Other/a.wav", std::nullopt), std::nullopt);
        // The folder itself shows its override.
        EXPECT_EQ(m.effectiveBPM("/Loops", std::nullopt), 90);
    }
    o.setBPM(100, { "/Loops/Sub/b 120bpm.wav" });
    o.setBPM(110, { "/Loops/Sub/Deeper" });
    o.clearBPM({ "/Loops/Sub/a.wav", "/Loops/Sub" });
    o.clearKey({ "/Loops/Sub/a.wav" });
    auto m = inheritance(o);
    EXPECT_EQ(m.effectiveBPM("/Loops/Sub/b 120bpm.wav", 120), 100);
    EXPECT_EQ(m.effectiveBPM("/Loops/Sub/Deeper/x.wav", std::nullopt), 110);
    // A file's own override is not one for a file of the same name further down.
    EXPECT_EQ(m.effectiveBPM("/Loops/Sub/Deeper/b 120bpm.wav", 120), 120);
    // Cleared: no value although the folder above has one, and the user's decision.
    EXPECT_EQ(m.resolveBPM("/Loops/Sub/a.wav", 128), (Effective<std::int64_t> { std::nullopt, true }));
    EXPECT_EQ(m.effectiveKey("/Loops/Sub/a.wav", std::nullopt), std::nullopt);
    // A cleared folder does not stop what comes from above for the files below it.
    EXPECT_EQ(m.effectiveBPM("/Loops/Sub/c.wav", std::nullopt), 90);
    EXPECT_EQ(m.effectiveBPM("/Loops/Sub", std::nullopt), std::nullopt);
    EXPECT_EQ(m.effectiveKey("/Loops/Sub/c.wav", std::nullopt), "Am");

    // Values heard from the audio fill in only where nothing else speaks: never over the file's own
    // value, a folder's override or the user's "none"; the filters see them too.
    auto heard = std::make_shared<AnalysedValues>();
    auto sub = std::make_shared<AnalysedValues::Folder>();
    (*sub)["a.wav"] = { 97, "Dm" };
    (*sub)["c.wav"] = { 97, "Dm" };
    heard->folders["/Loops/Sub"] = sub;
    heard->folders["/Other"] = sub;
    m.useAnalysed(heard);
    const EffectiveValues other = m.resolve("/Other/a.wav", std::nullopt, std::nullopt);
    EXPECT_EQ(other.bpm, (Effective<std::int64_t> { 97, false, true }));
    EXPECT_EQ(other.key, (Effective<std::string> { "Dm", false, true }));
    EXPECT_EQ(m.resolve("/Other/a.wav", 120, "E").bpm, (Effective<std::int64_t> { 120, false }));
    EXPECT_EQ(m.effectiveBPM("/Other/b.wav", std::nullopt), std::nullopt);
    SearchFilters tempo;
    tempo.minBPM = 95;
    tempo.maxBPM = 99;
    EXPECT_TRUE(passesFile("/Other/a.wav", std::nullopt, std::nullopt, tempo, m));
    EXPECT_FALSE(passesFile("/Other/a.wav", 120, std::nullopt, tempo, m));
    EXPECT_EQ(
        m.resolveBPM("/Loops/Sub/a.wav", std::nullopt), (Effective<std::int64_t> { std::nullopt, true }));
    EXPECT_EQ(
        m.resolveKey("/Loops/Sub/a.wav", std::nullopt), (Effective<std::string> { std::nullopt, true }));
    EXPECT_EQ(m.resolve("/Loops/Sub/c.wav", std::nullopt, std::nullopt).bpm,
        (Effective<std::int64_t> { 90, true }));

    // A pass without any overrides, or on an empty path, has nothing to inherit.
    EXPECT_EQ(MetadataInheritance().effectiveKey("x", "C"), "C");
    EXPECT_EQ(inheritance({}).effectiveBPM("", std::nullopt), std::nullopt);
}

TEST(MetadataInheritance, MemoisedPassAgreesWithTheRulesInAnyOrder)
{
    // A random tree with random overrides, marks and tags, each path asked in a random order: the
    // memo must never answer differently from the walk it stands for.
    std::mt19937 random(7);
    std::vector<std::string> folders { "/R" };
    for (int i = 0; i < 60; ++i)
        folders.push_back(folders[random() % folders.size()] + "/f" + std::to_string(i));
    std::vector<std::string> files;
    for (int i = 0; i < 400; ++i)
        files.push_back(folders[random() % folders.size()] + "/s" + std::to_string(i) + ".wav");
    MetadataOverrides o;
    TagMaps tags;
    for (int i = 0; i < 12; ++i) {
        o.setBPM(60 + i, { folders[random() % folders.size()] });
        o.setKey(i % 2 ? "Am" : "Eb", { folders[random() % folders.size()] });
        o.clearBPM({ files[random() % files.size()], folders[random() % folders.size()] });
        o.setBPM(200 + i, { files[random() % files.size()] });
        applySetTag(tags, TagId { { std::uint8_t(i % 3) } }, i % 4 ? TagChoice::on : TagChoice::off,
            { folders[random() % folders.size()], files[random() % files.size()] });
    }
    std::vector<std::string> all = files;
    all.insert(all.end(), folders.begin(), folders.end());
    for (int round = 0; round < 3; ++round) {
        std::shuffle(all.begin(), all.end(), random);
        auto m = inheritance(o, tags);
        for (const auto& path : all) {
            const std::optional<std::int64_t> own
                = random() % 3 ? std::nullopt : std::optional<std::int64_t>(120);
            const auto values = m.resolve(path, own, std::nullopt);
            ASSERT_EQ(values.bpm.value, naiveBPM(o, path, own)) << path;
            ASSERT_EQ(*values.tags, effectiveTags(tags, path)) << path;
            ASSERT_EQ(m.effectiveTags(path), effectiveTags(tags, path)) << path;
        }
    }
}
