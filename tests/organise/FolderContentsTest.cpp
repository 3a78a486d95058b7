#include "organise/BrowserTree.h"

#include "index/CacheIndexStore.h"
#include "support/PaperLibrary.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace kivo::organise;
using namespace kivo::index;
using kivo::test::namesOf;

TEST(FolderContents, FromTheIndexRecordElseFromDisk)
{
    kivo::test::ScratchDir disk;
    const std::string root = disk.str();
    disk.write("a.wav");
    disk.write("b.txt");
    disk.write("c.MID");
    disk.mkdir("Sub");
    disk.write("Sub/inner.wav");
    // macOS metadata from a copied drive or an archive is neither a sample nor a folder to open.
    disk.write("._a.wav");
    disk.write("__MACOSX/._a.wav");

    CacheIndexStore store { CacheIndexStoreOptions {
        "/nonexistent/cache.json", [](const std::string&) {}, {} } };
    // Not indexed yet: what is on disk, compatible files only, every folder but the metadata's.
    auto contents = indexFolderContents(store, root);
    EXPECT_EQ(contents.subfolders, (std::vector<std::string> { root + "/Sub" }));
    auto names = namesOf(contents.files);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string> { "a.wav", "c.MID" }));
    EXPECT_TRUE(indexFolderContents(store, root + "/does not exist").files.empty());

    // Indexed: the record as it was stored, even when the disk says otherwise now.
    const FileInfo kick { stableFileID("/Lib/Kick 90.wav"), "/Lib/Kick 90.wav", "Kick 90.wav", 90, "Am",
        1.0 };
    store.modify([&](IndexMaps& maps) {
        maps.directoryIndex["/Lib"]
            = DirectoryInfo { "/Lib", { kick }, { "/Lib/Empty", "/Lib/Drums" }, 0, {}, {} };
    });
    contents = indexFolderContents(store, "/Lib");
    EXPECT_EQ(contents.subfolders, (std::vector<std::string> { "/Lib/Empty", "/Lib/Drums" }));
    ASSERT_EQ(contents.files.size(), 1u);
    EXPECT_EQ(contents.files[0].bpm, 90);

    // Through the tree: the store is the tree's loader.
    BrowserTree tree { [&](const std::string& path) { return indexFolderContents(store, path); } };
    auto& state = tree.showCollection("G", { "/Lib", root });
    ASSERT_TRUE(tree.expand(state.rootNodes[0].id));
    const auto& rows = *tree.children(state.rootNodes[0].id);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].name, "Drums");
    EXPECT_EQ(rows[1].name, "Empty");
    EXPECT_EQ(rows[2].key, "Am");
    ASSERT_TRUE(tree.expand(state.rootNodes[1].id));
    EXPECT_EQ(tree.children(state.rootNodes[1].id)->size(), 3u);
}
