#include "organise/BrowserFileOrder.h"

#include "index/NaturalOrder.h"

#include <gtest/gtest.h>

using namespace kivo::organise;
using kivo::index::FileInfo;

namespace {

FileInfo file(const std::string& name, std::optional<std::int64_t> bpm = std::nullopt)
{
    return FileInfo { {}, "/S/" + name, name, bpm, {}, {} };
}

std::vector<std::string> ordered(std::vector<FileInfo> files, const SortingOptions& options)
{
    // The record sort and the pairwise test must agree.
    std::vector<FileInfo> pairwise = files;
    std::stable_sort(pairwise.begin(), pairwise.end(), [&](const FileInfo& a, const FileInfo& b) {
        return browserOrderBefore(
            { a.name, a.path, false, a.bpm }, { b.name, b.path, false, b.bpm }, options);
    });
    // So must the leading key a search takes, handed a name only when it says it reads one.
    const auto named = namedBrowserOrder(options);
    std::vector<FileInfo> keyed = files;
    std::stable_sort(keyed.begin(), keyed.end(), [&](const FileInfo& a, const FileInfo& b) {
        const auto keyOf = [&](const FileInfo& f) {
            return named.leadingKey(
                { named.leadingKeyReadsName ? std::string_view(f.name) : std::string_view(),
                    kivo::index::sortExtension(f.path), f.bpm });
        };
        const auto x = keyOf(a), y = keyOf(b);
        return x != y ? x < y : kivo::index::naturalCompare(a.name, b.name) < 0;
    });
    sortInBrowserOrder(files, options);
    const auto names = [](const std::vector<FileInfo>& list) {
        std::vector<std::string> out;
        for (const auto& f : list)
            out.push_back(f.name);
        return out;
    };
    EXPECT_EQ(names(files), names(pairwise));
    EXPECT_EQ(names(files), names(keyed));
    return names(files);
}

} // namespace

TEST(BrowserFileOrder, RomanRanksFoldersFirstAndOptionsInTheirOrder)
{
    for (const auto& [name, rank] : { std::pair { "I", 2 }, { "bII Pad", 3 }, { "ii", 4 }, { "#IV_chord", 9 },
             { "V.mid", 10 }, { "bVII", 13 }, { "vii°", 14 }, { "iii+ (x)", 6 } })
        EXPECT_EQ(romanRank(name), rank) << name;
    for (const char* name : { "VIIØ7", "Intro", "Bass", "iv°7", "" })
        EXPECT_EQ(romanRank(name), std::nullopt) << name;

    // (Folders before files is the sibling order's test.) Two folders ignore roman numerals and BPM.
    const SortingOptions all { true, true, true };
    EXPECT_TRUE(browserOrderBefore({ "Alpha", "/Alpha", true, {} }, { "II", "/II", true, 1 }, all));
    EXPECT_TRUE(browserOrderBefore({ "Kit 2", "/Kit 2", true, {} }, { "Kit 10", "/Kit 10", true, {} }, all));

    const SortingOptions defaults;
    EXPECT_EQ(ordered({ file("Kick 90bpm", 90), file("Kick"), file("Kick 120bpm", 120) }, defaults),
        (std::vector<std::string> { "Kick 90bpm", "Kick 120bpm", "Kick" }));
    SortingOptions both { true, true, true };
    EXPECT_EQ(ordered({ file("Pad 80bpm", 80), file("IV Pad 90bpm", 90), file("ii Pad") }, both),
        (std::vector<std::string> { "ii Pad", "IV Pad 90bpm", "Pad 80bpm" }));
    EXPECT_EQ(
        ordered({ file("B.mid"), file("Z.wav") }, defaults), (std::vector<std::string> { "Z.wav", "B.mid" }));
    // Only the last extension counts, and a leading dot is no extension.
    EXPECT_EQ(
        ordered({ file("A.MIDI", 90), file(".mid", 90), file("c.mid.wav"), file("b.wav.mid") }, defaults),
        (std::vector<std::string> { ".mid", "c.mid.wav", "A.MIDI", "b.wav.mid" }));
    SortingOptions none { false, false, false };
    EXPECT_EQ(ordered({ file("Z.wav"), file("B.MIDI"), file("file10", 1), file("file9", 2) }, none),
        (std::vector<std::string> { "B.MIDI", "file9", "file10", "Z.wav" }));
    // Equal keys keep their listing order.
    EXPECT_EQ(ordered({ file("a", 5), file("A", 5) }, defaults), (std::vector<std::string> { "a", "A" }));
}
