#include "app/SearchRunner.h"
#include "platform/TaskRunner.h"

#include <QCoreApplication>
#include <QSignalSpy>

#include "Printers.h"

#include <gtest/gtest.h>

#include <future>

using namespace kivo::app;
using kivo::index::CancelHandle;
using kivo::index::FileInfo;
using kivo::organise::FilterResults;

namespace {
FilterResults result(const std::string& name)
{
    FileInfo f;
    f.name = name;
    f.path = "/lib/" + name;
    FilterResults r;
    r.files = { f };
    return r;
}
} // namespace

TEST(SearchRunner, OnlyTheNewestIsPublishedCancelDropsWhatIsOnItsWayAndAFailureFindsNothing)
{
    kivo::platform::TaskRunner tasks;
    SearchRunner runner(tasks);
    QSignalSpy published(&runner, &SearchRunner::resultsReady);
    std::promise<void> started;
    std::promise<void> release;
    auto releaseFuture = release.get_future().share();
    std::atomic<bool> secondRan { false };
    std::atomic<bool> firstCancelled { false };

    runner.submit("k", [&](const CancelHandle& cancel) -> std::optional<FilterResults> {
        started.set_value();
        releaseFuture.wait();
        firstCancelled = cancel.isCancelled();
        return result("k.wav");
    });
    started.get_future().wait(); // the first search is running now
    runner.submit("ki", [&](const CancelHandle&) -> std::optional<FilterResults> {
        secondRan = true;
        return result("ki.wav");
    });
    runner.submit(
        "kick", [](const CancelHandle&) -> std::optional<FilterResults> { return result("kick.wav"); });
    release.set_value();

    ASSERT_TRUE(published.wait(10000));
    // The first search finished but was outdated; the second never started.
    QCoreApplication::processEvents();
    ASSERT_EQ(published.count(), 1);
    EXPECT_EQ(published.at(0).at(0).toString(), "kick");
    const auto files = published.at(0).at(1).value<FilterResults>().files;
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].name, "kick.wav");
    EXPECT_FALSE(secondRan);
    // The running search was told to stop as soon as a newer one came.
    EXPECT_TRUE(firstCancelled);
    EXPECT_EQ(runner.completedCount(), 2u);

    published.clear();
    std::promise<void> done;
    runner.submit("snare", [&](const CancelHandle&) -> std::optional<FilterResults> {
        auto r = result("snare.wav");
        done.set_value();
        return r;
    });
    done.get_future().wait();
    runner.cancel();
    // Whatever was queued for the cancelled request arrives now and is dropped.
    while (runner.completedCount() < 3)
        std::this_thread::yield();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(published.count(), 0);

    runner.submit("broken",
        [](const CancelHandle&) -> std::optional<FilterResults> { throw std::runtime_error("store gone"); });
    ASSERT_TRUE(published.wait(10000));
    EXPECT_EQ(published.at(0).at(0).toString(), "broken");
    EXPECT_TRUE(published.at(0).at(1).value<FilterResults>().files.empty());
}
