#include "platform/TaskRunner.h"
#include "platform/MainThread.h"
#include "platform/NotificationCenter.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <future>
#include <sys/resource.h>
#include <thread>

using namespace kivo::platform;
using namespace std::chrono_literals;
using kivo::test::waitFor;

TEST(TaskRunner, DeliversResultsOnTheMainThreadUnlessCancelledOrTheContextIsGone)
{
    TaskRunner tasks;
    std::vector<int> got;
    bool workOnMain = true;
    QObject context;
    tasks.run(
        &context,
        [&] {
            workOnMain = isMainThread();
            return 7;
        },
        [&](int v) {
            EXPECT_TRUE(isMainThread());
            got.push_back(v);
        });
    // A cancelled task delivers nothing, even when its work already ran.
    std::promise<void> ran;
    CancelHandle cancelled = tasks.run(
        &context, [&] { ran.set_value(); }, [&] { got.push_back(-1); });
    ran.get_future().wait();
    cancelled.cancel();
    // Nor does one whose context is destroyed before delivery.
    auto* doomed = new QObject;
    std::promise<void> gone;
    tasks.run(
        doomed,
        [&, f = gone.get_future().share()] {
            f.wait();
            return 1;
        },
        [&](int) { got.push_back(-2); });
    delete doomed;
    gone.set_value();
    // Background work runs on threads the system ranks below the others, and delivers all the same.
    const int ownNice = getpriority(PRIO_PROCESS, 0);
    tasks.run(
        &context, [] { return getpriority(PRIO_PROCESS, 0); },
        [&](int nice) {
            EXPECT_GT(nice, ownNice);
            got.push_back(8);
        },
        TaskRunner::Priority::background);
    // post() never calls back before it returns.
    tasks.post([&] { got.push_back(9); });
    EXPECT_TRUE(std::find(got.begin(), got.end(), 9) == got.end());

    ASSERT_TRUE(waitFor([&] { return got.size() >= 3 && tasks.pendingCount() == 0; }));
    QCoreApplication::processEvents();
    EXPECT_FALSE(workOnMain);
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, (std::vector<int> { 7, 8, 9 }));
}

TEST(TaskRunner, BlockedWorkHoldsOnlyItsOwnThreadAndQuittingWaitsWithinTheBound)
{
    auto tasks = std::make_unique<TaskRunner>();
    std::promise<void> release;
    auto released = release.get_future().share();
    std::atomic<bool> sawCancel { false };
    // Two tasks stuck as if on a mount that stopped answering.
    for (int i = 0; i < 2; ++i)
        tasks->run([released, &sawCancel](const CancelHandle& cancel) {
            released.wait();
            sawCancel = cancel.isCancelled();
        });
    bool answered = false;
    tasks->run(
        nullptr, [] { return true; }, [&](bool v) { answered = v; });
    ASSERT_TRUE(waitFor([&] { return answered; }));
    EXPECT_GE(tasks->threadCount(), 3);

    QElapsedTimer quit;
    quit.start();
    EXPECT_FALSE(tasks->shutdown(200ms));
    EXPECT_LT(quit.elapsed(), 2000);
    EXPECT_TRUE(tasks->isShutDown());
    // Nothing starts or arrives any more.
    bool late = false;
    CancelHandle refused = tasks->run(
        nullptr, [] { return 1; }, [&](int) { late = true; });
    EXPECT_TRUE(refused.isCancelled());
    tasks->post([&] { late = true; });
    release.set_value();
    EXPECT_TRUE(tasks->shutdown(10s));
    EXPECT_TRUE(sawCancel);
    QCoreApplication::processEvents();
    EXPECT_FALSE(late);
    tasks.reset();
}

TEST(MainThreadDeathTest, AMainThreadEntryPointCalledFromAnotherThreadStopsTheProgram)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_TRUE(isMainThread());
    EXPECT_DEATH(
        {
            std::thread t(
                [] { NotificationCenter::shared().post(QStringLiteral("UserSettingsPathsSynced")); });
            t.join();
        },
        "Main-thread entry point called from another thread: .*NotificationCenter::post");
}
