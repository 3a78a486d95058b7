#include "index/IndexRecords.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

using namespace kivo::index;

namespace {

std::vector<std::string> sorted(std::vector<std::string> v)
{
    std::sort(v.begin(), v.end());
    return v;
}

} // namespace

TEST(IndexRecords, TokensSplitAtNonAlphanumericsOfAnyScriptAndKeywordsRunFromTheRootDown)
{
    EXPECT_EQ(tokenize("Kick_120 BPM (Am).wav", 1),
        (std::vector<std::string> { "kick", "120", "bpm", "am", "wav" }));
    EXPECT_EQ(tokenize("ДРАМ_Луп-2", 1), (std::vector<std::string> { "драм", "луп", "2" }));
    EXPECT_EQ(tokenize("鼓ループ♯…kick KICK", 1), (std::vector<std::string> { "鼓ループ", "kick" }));
    EXPECT_TRUE(tokenize("-_- ♫ ", 1).empty());
    EXPECT_EQ(tokenize("a bb ccc", 2), (std::vector<std::string> { "bb", "ccc" }));
    // A damaged byte separates tokens instead of ending the walk.
    EXPECT_EQ(tokenize(std::string("ab\xff"
                                   "cd"),
                  1),
        (std::vector<std::string> { "ab", "cd" }));

    EXPECT_EQ(sorted(keywordsForPath("/Samples/Drums/Kicks/Hard/k1.wav", "/Samples/Drums")),
        (std::vector<std::string> { "drums", "hard", "kicks" }));
    // Under a root whose parent is "/" the whole folder path counts.
    EXPECT_EQ(sorted(keywordsForPath("/Drums/Kicks/k1.wav", "/Drums")),
        (std::vector<std::string> { "drums", "kicks" }));
    // A root written with a trailing "/" is the same folder.
    EXPECT_EQ(
        keywordsForPath("/Samples/Drums/k.wav", "/Samples/Drums/"), (std::vector<std::string> { "drums" }));
    EXPECT_EQ(
        keywordsForPath("/Samples/Drums//k.wav", "/Samples/Drums/"), (std::vector<std::string> { "drums" }));
    // Folder names and names in decomposed form split and match as the composed words do.
    EXPECT_EQ(keywordsForPath("/S/E\xCC\x81te\xCC\x81/k.wav", "/S/E\xCC\x81te\xCC\x81"),
        (std::vector<std::string> { "\xC3\xA9t\xC3\xA9" }));
    EXPECT_EQ(
        tokenize("Caf\xC3\xA9 120 cafe\xCC\x81", 1), (std::vector<std::string> { "caf\xC3\xA9", "120" }));
}

TEST(IndexRecords, UnderARootAndTrash)
{
    for (const auto& [path, root, under] : std::vector<std::tuple<const char*, const char*, bool>> {
             { "/a/b", "/a/b", true }, { "/a/b/c.wav", "/a/b", true }, { "/a/b/c.wav", "/a/b/", true },
             { "/a/bc/d.wav", "/a/b", false }, { "/a", "/a/b", false } })
        EXPECT_EQ(isUnderRoot(path, root), under) << path << " " << root;

    const std::string trash = "/home/u/.local/share/Trash";
    for (const auto& [path, inTrash] :
        std::vector<std::pair<std::string, bool>> { { "/Volumes/X/.Trashes/501/k.wav", true },
            { "/home/u/.Trash/k.wav", true }, { "/home/u/.Trashy/k.wav", false },
            { trash + "/files/k.wav", true }, { trash + "Can/k.wav", false } })
        EXPECT_EQ(isInTrash(path, trash), inTrash) << path;
}

TEST(IndexRecords, StableIdsUuidTextAndPercentEncodedFileURLs)
{
    const Uuid a = stableFileID("/S/kick.wav");
    EXPECT_EQ(a, stableFileID("/S/kick.wav"));
    EXPECT_NE(a, stableFileID("/S/kick2.wav"));
    EXPECT_EQ(std::string(a.bytes.begin() + 8, a.bytes.end()), "/S/kick.");
    const Uuid shortPath = stableFileID("/a");
    EXPECT_EQ(shortPath.bytes[8], '/');
    EXPECT_EQ(shortPath.bytes[10], 0);

    EXPECT_EQ(a.text(), Uuid::parse(a.text())->text());
    EXPECT_EQ(
        Uuid::parse("0a1b2c3d-0000-4000-8000-00000000abcd")->text(), "0A1B2C3D-0000-4000-8000-00000000ABCD");
    EXPECT_FALSE(Uuid::parse("0a1b2c3d-0000-4000-8000-00000000abc"));
    EXPECT_FALSE(Uuid::parse("0a1b2c3d00000-4000-8000-00000000abcd"));
    EXPECT_FALSE(Uuid::parse("0a1b2c3d-0000-4000-8000-00000000abcg"));

    EXPECT_EQ(fileURL("/Samples/Drums/k 1.wav"), "file:///Samples/Drums/k%201.wav");
    EXPECT_EQ(fileURL("/S/Été#1%.wav"), "file:///S/%C3%89t%C3%A9%231%25.wav");
    for (const std::string path : { "/Samples/Drums/k 1.wav", "/S/Été#1%.wav", "/a/(b)&c?.mid" })
        EXPECT_EQ(pathFromFileURL(fileURL(path)), path);
    EXPECT_FALSE(pathFromFileURL("http://x/y"));
    EXPECT_FALSE(pathFromFileURL("file:///bad%2"));

    // File records are the same file when their ids are.
    FileInfo x { stableFileID("/x"), "/x", "x", 120, "Am", 1.0 };
    FileInfo other { stableFileID("/x"), "/x", "other", std::nullopt, std::nullopt, std::nullopt };
    EXPECT_EQ(x, other);
}
