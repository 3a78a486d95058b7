#include "index/FolderScanner.h"
#include "index/IndexScan.h"

#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <unistd.h>

using namespace kivo::index;
using kivo::test::ScratchDir;

namespace {

// What a name-only scan records for a file. (Header values winning over names is checked through
// real headers in HeaderMetadataTest.)
FileInfo infoFor(const std::string& path, const std::string& root)
{
    CancelHandle stop;
    FolderScanner scanner(stop, {}, {});
    std::optional<FolderValues> cache;
    return scanner.fileInfoFor(path, root, cache);
}

} // namespace

TEST(FolderScanner, IndexesTheTreeSkipsWhatItMustAndChoosesNameThenFolderValues)
{
    ScratchDir dir;
    const std::string root = dir.mkdir("Lib");
    dir.write("Lib/Drums/Kicks/Kick_120 BPM (Am).wav", "x");
    dir.write("Lib/Drums/Loop.AIFF", "x");
    dir.write("Lib/Drums/Loop.aif", "x"); // not a compatible extension
    dir.write("Lib/Chords/c.MID", "x");
    dir.mkdir("Lib/Empty/Deeper");
    dir.write("Lib/.hidden/h.wav", "x");
    // A link back to an ancestor is listed but never walked again.
    ASSERT_EQ(::symlink(root.c_str(), (root + "/Drums/Back to Lib").c_str()), 0);

    CancelHandle stop;
    FolderScanner scanner(stop, {}, {}, [] { return 42.0; });
    IndexBuilder builder;
    scanner.indexDirectory(root, "G", root, builder);

    EXPECT_EQ(builder.fileIndex.size(), 4u);
    for (const char* f :
        { "/Drums/Kicks/Kick_120 BPM (Am).wav", "/Drums/Loop.AIFF", "/Chords/c.MID", "/.hidden/h.wav" })
        EXPECT_TRUE(builder.fileIndex.count(root + f)) << f;
    EXPECT_EQ(builder.directoryIndex.size(), 7u); // Lib, Drums, Kicks, Chords, Empty, Deeper, .hidden
    const auto& drums = builder.directoryIndex.at(root + "/Drums");
    EXPECT_EQ(drums.files.size(), 1u);
    EXPECT_EQ(drums.subdirectories.size(), 2u); // Kicks and the link
    EXPECT_EQ(drums.lastModified, 42.0);
    EXPECT_TRUE(drums.contentModified.has_value());
    EXPECT_TRUE(drums.inode.has_value());
    const auto& empty = builder.directoryIndex.at(root + "/Empty");
    EXPECT_TRUE(empty.files.empty());
    EXPECT_EQ(empty.subdirectories, std::vector<std::string> { root + "/Empty/Deeper" });
    EXPECT_FALSE(builder.directoryIndex.count(root + "/Drums/Back to Lib"));

    builder.finish();
    const std::string kick = root + "/Drums/Kicks/Kick_120 BPM (Am).wav";
    for (const char* t : { "kick", "120", "bpm", "am", "wav" })
        EXPECT_TRUE(builder.searchIndex["G"][t].count(kick)) << t;
    // Keywords run from the root folder's own name down to the file's folder.
    for (const char* k : { "lib", "drums", "kicks" })
        EXPECT_TRUE(builder.keywordIndex["G"][k].count(kick)) << k;
    EXPECT_EQ(builder.fileIndex.at(kick).bpm, 120);
    EXPECT_EQ(builder.fileIndex.at(kick).key, "Am");

    // The counting pass sees the same files and folders, and stops at the same link.
    scanner.countFiles(root);
    EXPECT_EQ(scanner.counters().total, 4);
    EXPECT_EQ(scanner.counters().folders, 7); // every folder below the root, the link included

    // A folder that cannot be listed is logged and gets no record.
    IndexBuilder none;
    testing::internal::CaptureStdout();
    scanner.indexDirectory(root + "/Missing", "G", root, none);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error indexing directory " + root + "/Missing\n");
    EXPECT_TRUE(none.empty());

    // Own name gives the tempo, the folder the key.
    const auto f = infoFor("/S/Dm 90 BPM/Kick 120bpm.wav", "/S");
    EXPECT_EQ(std::tie(f.bpm, f.key, f.name, f.path, f.id),
        std::make_tuple(120, "Dm", "Kick 120bpm.wav", "/S/Dm 90 BPM/Kick 120bpm.wav",
            stableFileID("/S/Dm 90 BPM/Kick 120bpm.wav")));

    // Ancestors up to and including the root, the nearest first; the bare-number fallback is not used.
    EXPECT_EQ(infoFor("/Samples/Pack 128 BPM/Loops/Top.wav", "/Samples").bpm, 128);
    EXPECT_EQ(
        infoFor("/Samples/Pack 128 BPM/Loops/Top.wav", "/Samples/Pack 128 BPM/Loops").bpm, std::nullopt);
    EXPECT_EQ(infoFor("/Samples/Pack 128 BPM/Loops/Top.wav", "/Samples/Pack 128 BPM").bpm, 128);
    const auto nested = infoFor("/S/Am 100 BPM/Em 90 BPM/Top.wav", "/S");
    EXPECT_EQ(std::tie(nested.bpm, nested.key), std::make_tuple(90, "Em"));
    EXPECT_EQ(infoFor("/S/Drums 120/Top.wav", "/S").bpm, std::nullopt);
    // A lone accidental is a key in a file's own name but not in a folder's.
    EXPECT_EQ(infoFor("/S/C#/Pad.wav", "/S").key, std::nullopt);
    EXPECT_EQ(FolderScanner::folderMetadata("x.wav", "/S").bpm, std::nullopt);
}
