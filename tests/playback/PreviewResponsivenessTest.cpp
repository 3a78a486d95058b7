// The event loop keeps answering while the preview opens files. The longest stall is printed for
// the record, never compared with a time: the checks are that every selection arrived, in order,
// while a folder did not answer.

#include "PreviewHarness.h"

#include "platform/TaskRunner.h"
#include "support/EventLoopWatchdog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

using kivo::test::EventLoopWatchdog;
using kivo::test::PreviewHarness;

TEST(PreviewResponsiveness, SelectionOverAStalledFolderNeverHoldsTheEventLoop)
{
    // Reads in "slow/" take 2 s, as on a share that hardly answers.
    std::atomic<int> opens { 0 };
    std::atomic<int> slowOpens { 0 };
    kivo::platform::TaskRunner tasks;
    PreviewHarness h(tasks, [&opens, &slowOpens](const std::string& path) {
        ++opens;
        if (path.find("/slow/") == std::string::npos)
            return;
        ++slowOpens;
        std::this_thread::sleep_for(std::chrono::seconds(2));
    });
    auto& m = h.manager();
    h.dir().mkdir("slow");
    std::vector<QUrl> files;
    testing::internal::CaptureStdout();
    for (int i = 0; i < 199; ++i) {
        // Unreadable stand-ins: each open still reads the disk, then logs why it cannot play.
        const std::string name = (i % 20 == 7 ? "slow/" : "") + std::to_string(i) + ".wav";
        files.push_back(QUrl::fromLocalFile(QString::fromStdString(h.dir().write(name, "not audio"))));
    }
    const QUrl last = h.makeTone("last.wav", "synth 0.5 sine 440");
    files.push_back(last);

    {
        // One selection per turn of the event loop, as arrow keys held down would make them.
        EventLoopWatchdog watchdog;
        // Each selection is made once the previous one has started opening, as held arrow keys
        // would pace them; the slow ones go on opening while the next are made.
        for (std::size_t i = 0; i < files.size(); ++i) {
            m.play(files[i]);
            kivo::test::waitFor([&] { return opens.load() > int(i); }, 1000);
        }
        ASSERT_TRUE(h.settle());
        testing::internal::GetCapturedStdout();
        kivo::test::waitFor([&] { return false; }, 50);
        std::printf("selection over 200 files (10 in a folder whose reads take 2 s): longest event-loop "
                    "stall %.1f ms\n",
            watchdog.longestStallMs());
    }
    EXPECT_EQ(slowOpens.load(), 10);
    EXPECT_EQ(m.currentFile().url(), last);
    EXPECT_TRUE(m.isPlaying());

    ASSERT_TRUE(tasks.waitForIdle(std::chrono::seconds(10)));
}
