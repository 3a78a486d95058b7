#include "app/AnalysisService.h"
#include "platform/TaskRunner.h"
#include "support/AudioFixtures.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QSignalSpy>

#include <cmath>
#include <filesystem>

using namespace kivo;

namespace {

app::AnalysisService::DuplicatesAnswer duplicatesOf(app::AnalysisService& service, const std::string& path)
{
    std::optional<app::AnalysisService::DuplicatesAnswer> answer;
    service.findDuplicates(
        path, &service, [&](app::AnalysisService::DuplicatesAnswer a) { answer = std::move(a); });
    EXPECT_TRUE(test::waitFor([&] { return answer.has_value(); }));
    return answer.value_or(app::AnalysisService::DuplicatesAnswer {});
}

} // namespace

TEST(AnalysisService, HeardValuesReachTheSnapshotOnlyWhileRunningAndAreKeptForTheNextRun)
{
    platform::TaskRunner tasks;
    test::ScratchDir dir;
    const std::string loop = dir.mkdir("Loops") + "/groove.wav";
    test::writeWav(loop, test::drumLoop(124, 2));
    const std::string copy = dir.str() + "/Loops/groove copy.wav";
    std::filesystem::copy_file(loop, copy);
    const std::string broken = dir.write("Loops/broken.wav", "RIFF");
    const std::string database = dir.str() + "/Analysis.sqlite";
    {
        app::AnalysisService service(tasks, database);
        QSignalSpy published(&service, &app::AnalysisService::valuesChanged);
        service.setPaused(true);
        service.prioritise({ loop, copy, broken, dir.str() + "/Loops/tune.mid" });
        test::settle();
        ASSERT_TRUE(test::waitFor([&] { return service.progress().total == 3; }));
        EXPECT_EQ(
            duplicatesOf(service, loop).state, app::AnalysisService::DuplicatesAnswer::State::notAnalysed);
        EXPECT_TRUE(service.isWorking());
        test::waitFor([] { return false; }, 300);
        EXPECT_EQ(published.count(), 0) << "nothing is heard while paused";
        service.setPaused(false);
        // Results reach the main thread a moment after the analyser counts them done.
        ASSERT_TRUE(test::waitFor(
            [&] { return !service.isWorking() && service.result(broken) && service.values()->find(loop); },
            60000));
        const organise::AnalysedEntry* heard = service.values()->find(loop);
        ASSERT_TRUE(heard);
        EXPECT_EQ(heard->bpm, 124);
        EXPECT_FALSE(service.values()->find(broken)) << "a file that cannot be decoded gives no values";
        ASSERT_TRUE(service.result(broken));
        EXPECT_FALSE(service.result(broken)->ok());

        const auto duplicates = duplicatesOf(service, loop);
        ASSERT_EQ(duplicates.state, app::AnalysisService::DuplicatesAnswer::State::found);
        ASSERT_EQ(duplicates.duplicates.size(), 1u);
        EXPECT_EQ(duplicates.duplicates[0].path, copy);
        EXPECT_TRUE(duplicates.duplicates[0].exact);
        EXPECT_EQ(duplicatesOf(service, broken).state, app::AnalysisService::DuplicatesAnswer::State::failed);
        // A copy deleted since it was heard is no longer listed.
        std::filesystem::remove(copy);
        EXPECT_TRUE(duplicatesOf(service, loop).duplicates.empty());
    }
    // The next run finds the result in the database. Its folder's other files vote on its octave
    // with the tempos they show: one from its name, one the user's (none of them heard).
    app::AnalysisService again(tasks, database);
    auto overrides = std::make_shared<index::MetadataOverrides>();
    overrides->bpmOverrides[dir.str() + "/Loops/b.wav"] = 66;
    again.setOverrides(overrides);
    auto snapshot = std::make_shared<index::IndexSnapshot>();
    index::CompactIndex& listed = snapshot->index;
    listed.beginFolder(dir.str() + "/Loops");
    for (const auto& [name, bpm] : { std::pair { "groove.wav", 0 }, { "a 64bpm.wav", 64 }, { "b.wav", 0 } }) {
        listed.files.emplace_back();
        listed.files.back().path = listed.internPath(dir.str() + "/Loops/" + name);
        listed.files.back().hasBpm = bpm != 0;
        listed.files.back().bpm = bpm;
    }
    listed.endFolder();
    listed.indexFiles();
    again.libraryChanged(snapshot);
    ASSERT_TRUE(test::waitFor([&] { return again.values()->find(loop) != nullptr; }, 60000));
    EXPECT_EQ(again.values()->find(loop)->bpm, 62);
    // The user's tempo gone, one vote is too few: the tempo stands as heard.
    again.setOverrides(std::make_shared<index::MetadataOverrides>());
    ASSERT_TRUE(test::waitFor([&] { return again.values()->find(loop)->bpm == 124; }, 60000));
}
