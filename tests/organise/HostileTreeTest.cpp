// A root full of things a sample folder should never hold: a FIFO and a socket under sample names,
// a dangling link, a link loop, a folder link back to an ancestor, a name of 255 bytes and a path of
// more than 4,000 bytes. The scan, the quick refresh, the tree and the search all finish.

#include "index/IndexStoreScan.h"
#include "organise/BrowserTree.h"
#include "organise/FolderContents.h"
#include "support/FifoWatchdog.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <future>
#include <string>

using namespace kivo::organise;
using namespace kivo::index;

namespace {

// Runs `work` on a thread of its own; a run that has not ended after `bound` is a hang, and since
// the stuck thread cannot be joined the whole test program stops.
void finishesWithin(std::chrono::seconds bound, const char* what, const std::function<void()>& work)
{
    auto done = std::async(std::launch::async, work);
    if (done.wait_for(bound) != std::future_status::ready) {
        std::fprintf(stderr, "%s did not finish within %lld s\n", what, (long long)bound.count());
        std::_Exit(1);
    }
    done.get();
}

// Twenty folders of 200-byte names below `root`, made ten at a time from inside (an absolute path
// of more than 4,000 bytes is refused by the system), and a sample at the bottom.
bool makeDeepPath(const std::string& root)
{
    std::string ten;
    for (int i = 0; i < 10; ++i)
        ten += std::string(200, 'd') + "/";
    const std::string down = "mkdir -p " + ten + " && cd " + ten;
    return kivo::test::shell("cd '" + root + "' && " + down + " && " + down + " && touch 'Deep Kick.wav'");
}

// Opens every folder row below `nodes`, through links too, as deep as 40 levels (the link back to
// the root makes the tree endless).
int expandAll(BrowserTree& tree, const std::vector<LightweightNode>& nodes, int depth)
{
    int opened = 0;
    for (const auto& node : nodes) {
        if (!node.isDirectory || depth > 40 || !tree.expand(node.id))
            continue;
        ++opened;
        if (const auto* children = tree.children(node.id)) {
            const std::vector<LightweightNode> copy = *children;
            opened += expandAll(tree, copy, depth + 1);
        }
    }
    return opened;
}

} // namespace

TEST(HostileTree, ScanRefreshTreeAndSearchFinish)
{
    kivo::test::ScratchDir dir;
    const std::string root = dir.mkdir("Lib");
    dir.write("Lib/Kick 120.wav", "x");
    kivo::test::FifoWatchdog fifo(root + "/Pipe Loop.wav", std::chrono::seconds(20));
    ASSERT_TRUE(fifo.made());

    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    const std::string socketPath = root + "/Socket Hat.wav";
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

    ASSERT_EQ(::symlink((root + "/gone.wav").c_str(), (root + "/Dangling Snare.wav").c_str()), 0);
    ASSERT_EQ(::symlink((root + "/Loop B.wav").c_str(), (root + "/Loop A.wav").c_str()), 0);
    ASSERT_EQ(::symlink((root + "/Loop A.wav").c_str(), (root + "/Loop B.wav").c_str()), 0);
    ASSERT_EQ(::symlink((root + "/Self").c_str(), (root + "/Self").c_str()), 0);
    dir.mkdir("Lib/Drums/Inner");
    ASSERT_EQ(::symlink(root.c_str(), (root + "/Drums/Inner/Up to Lib").c_str()), 0);
    const std::string longName = std::string(251, 'n') + ".wav";
    ASSERT_EQ(longName.size(), 255u);
    dir.write("Lib/" + longName, "x");
    dir.mkdir("Lib/" + std::string(255, 'f'));
    ASSERT_TRUE(makeDeepPath(root));

    // The folder the refresh finds changed has its time put a minute back: a refresh takes a change
    // within a millisecond of the indexed time for none, and the file written after a fast scan
    // could otherwise land there.
    const struct timespec minuteBack[2] = { { 0, UTIME_OMIT }, { std::time(nullptr) - 60, 0 } };
    ASSERT_EQ(::utimensat(AT_FDCWD, (root + "/Drums").c_str(), minuteBack, 0), 0);

    CacheIndexStore store(
        CacheIndexStoreOptions { dir.str() + "/SearchIndex.json", [](const std::string&) {}, {} });
    const std::vector<ScanGroup> groups { { "G", { root }, {} } };
    finishesWithin(std::chrono::seconds(120), "the scan", [&] { buildIndex(store, groups, {}); });
    std::vector<std::string> names;
    for (const auto& file : store.allFiles("G"))
        names.push_back(file.name);
    EXPECT_NE(std::find(names.begin(), names.end(), "Kick 120.wav"), names.end());
    EXPECT_NE(std::find(names.begin(), names.end(), longName), names.end());
    for (const char* never :
        { "Pipe Loop.wav", "Socket Hat.wav", "Dangling Snare.wav", "Loop A.wav", "Self" })
        EXPECT_EQ(std::find(names.begin(), names.end(), never), names.end()) << never;

    finishesWithin(std::chrono::seconds(120), "the quick refresh", [&] {
        // Something changed: the refresh walks the folders again.
        dir.write("Lib/Drums/Snare 90.wav", "x");
        const auto delta
            = computeQuickRefreshDelta(store, { root }, {}, [] { return std::set<std::string> {}; });
        applyQuickRefreshDelta(store, delta);
    });
    EXPECT_EQ(store.searchPaths("snare 90", "G", false).size(), 1u);

    finishesWithin(std::chrono::seconds(120), "search", [&] {
        EXPECT_EQ(store.searchPaths("kick", "G", true).size(), store.searchPaths("kick", "G", false).size());
        EXPECT_EQ(store.searchPaths(std::string(251, 'n'), "G", false).size(), 1u);
        (void)store.searchPaths("loop", "G", true);
    });

    // The tree from the index, and from the disk for a root the index has not seen.
    finishesWithin(std::chrono::seconds(120), "the tree", [&] {
        BrowserTree tree([&](const std::string& path) { return indexFolderContents(store, path); });
        EXPECT_GE(expandAll(tree, tree.showCollection("G", { root }).rootNodes, 0), 3);
        CacheIndexStore empty(
            CacheIndexStoreOptions { dir.str() + "/Other.json", [](const std::string&) {}, {} });
        BrowserTree fromDisk([&](const std::string& path) { return indexFolderContents(empty, path); });
        EXPECT_GE(expandAll(fromDisk, fromDisk.showCollection("H", { root }).rootNodes, 0), 3);
    });
    EXPECT_FALSE(fifo.stop()) << "the FIFO was opened";
    ::close(sock);
    // Qt's recursive removal stops at the path length limit; rm walks down by handles.
    EXPECT_TRUE(kivo::test::shell("rm -rf '" + root + "'"));
}
