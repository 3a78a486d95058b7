#include "index/IndexStoreScan.h"

#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <future>
#include <thread>

using namespace kivo::index;
using kivo::test::ScratchDir;

namespace {

ScanOptions openOptions(HeaderReader reader = {})
{
    ScanOptions options;
    options.reader = std::move(reader);
    options.access = { [](const std::string&) { return true; }, [](const std::string&) {} };
    return options;
}

CacheIndexStoreOptions storeIn(const ScratchDir& dir)
{
    CacheIndexStoreOptions options;
    options.cacheFilePath = dir.str() + "/SearchIndex.json";
    options.log = [](const std::string&) {};
    return options;
}

} // namespace

TEST(IndexStoreScan, QueriesDuringAScanSeeThePreviousIndexAndProgressArrivesOnTheMainThread)
{
    ScratchDir dir;
    dir.write("Old/a.wav", "x");
    for (int i = 0; i < 5; ++i)
        dir.write("New/n" + std::to_string(i) + ".wav", "x");
    CacheIndexStore store(storeIn(dir));
    buildIndex(store, { { "G", { dir.str() + "/Old" }, {} } }, {}, {}, openOptions());
    ASSERT_EQ(store.read([](const IndexMaps& m) { return m.fileIndex.size(); }), 1u);

    // The second scan's header reads stop half-way until the test has queried the store.
    std::promise<void> reading, answered;
    auto answeredFuture = answered.get_future().share();
    std::atomic<int> reads { 0 };
    HeaderReader reader = [&](const std::string&) {
        if (++reads == 3) {
            reading.set_value();
            answeredFuture.wait();
        }
        return HeaderValues();
    };
    const auto mainThread = std::this_thread::get_id();
    std::vector<IndexProgress> reports;
    bool allOnMain = true;
    std::thread scan([&] {
        buildIndex(
            store, { { "G", { dir.str() + "/New" }, {} } },
            [&](const IndexProgress& p) {
                allOnMain = allOnMain && std::this_thread::get_id() == mainThread;
                reports.push_back(p);
            },
            {}, openOptions(reader));
    });
    reading.get_future().wait();
    // The walk is stuck inside a header read, yet the store answers from the index it had.
    const auto during = store.read([](const IndexMaps& m) { return m.fileIndex.size(); });
    answered.set_value();
    scan.join();
    QCoreApplication::processEvents();

    EXPECT_EQ(during, 1u);
    EXPECT_EQ(store.read([](const IndexMaps& m) { return m.fileIndex.size(); }), 5u);
    EXPECT_TRUE(allOnMain);
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back().fraction, 1.0);
    EXPECT_EQ(reports.back().processed, 5);
}

TEST(IndexStoreScan, CancelledScanCommitsNothingAndRefreshPatchesTheStore)
{
    ScratchDir dir;
    dir.write("Lib/Kicks/k1.wav", "x");
    CacheIndexStore store(storeIn(dir));
    const std::string root = dir.str() + "/Lib";
    buildIndex(store, { { "G", { root }, {} } }, {}, {}, openOptions());
    const IndexMaps before = store.snapshot();

    CancelHandle cancel;
    cancel.cancel();
    const auto roots = buildIndex(store, { { "H", { dir.str() } }, {} }, {}, cancel, openOptions());
    EXPECT_EQ(roots, before.groupRoots);
    EXPECT_TRUE(store.snapshot() == before);
    syncIndex(store, { { "G", { root, dir.str() + "/Other" }, {} } }, {}, cancel, openOptions());
    EXPECT_EQ(store.snapshot().groupRoots, before.groupRoots);

    // Push the stored times back so the new file's folder counts as changed on any clock.
    store.modify([](IndexMaps& m) {
        for (auto& [path, info] : m.directoryIndex)
            info.contentModified = *info.contentModified - 10.0;
    });
    dir.write("Lib/Kicks/k2 128 BPM.wav", "x");
    const auto delta
        = computeQuickRefreshDelta(store, allRoots(store), {}, [] { return std::set<std::string>(); });
    EXPECT_EQ(delta.newFiles, std::vector<std::string> { root + "/Kicks/k2 128 BPM.wav" });
    applyQuickRefreshDelta(store, delta, {}, openOptions());
    const auto after = store.snapshot();
    EXPECT_EQ(after.fileIndex.at(root + "/Kicks/k2 128 BPM.wav").bpm, 128);
    EXPECT_TRUE(after.searchIndex.at("G").at("k2").count(root + "/Kicks/k2 128 BPM.wav"));
    EXPECT_FALSE(computeQuickRefreshDelta(store, allRoots(store), {}, {}).hasChanges());
}
