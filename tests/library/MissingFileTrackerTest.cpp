#include "library/MissingFileTracker.h"

#include "support/TestEnvironment.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace kivo::library;
using Kind = SyncIssue::Kind;
using Item = MissingFileTracker::ItemKind;

namespace {

// A tracker that sees no mounted volumes unless told, so /Volumes paths are deterministic.
struct TrackerFixture : ::testing::Test {
    MissingFileTracker tracker;
    QStringList mounted;
    TrackerFixture()
    {
        tracker.setVolumeMounted([this](const QString& p) { return mounted.contains(p); });
    }
};

} // namespace

namespace kivo::library {
void PrintTo(const SyncIssue& issue, std::ostream* os)
{
    *os << int(issue.kind) << " " << issue.path.toStdString();
    if (issue.newPath)
        *os << " -> " << issue.newPath->toStdString();
}
} // namespace kivo::library

TEST_F(TrackerFixture, ClassifiesMissingPathsByDriveRootAndTopmostFolderAndOffersUnresolvedSiblings)
{
    kivo::test::ScratchDir dir;
    const QString root = dir.path() + "/Samples";
    dir.mkdir("Samples/Kicks");
    tracker.setSyncedRootPaths({ dir.path(), root, "/Volumes/Drive A/Loops" });

    // A file whose folder still exists.
    EXPECT_EQ(tracker.classify(root + "/Kicks/k1.wav", Item::file),
        (SyncIssue { Kind::missingFile, root + "/Kicks/k1.wav", {} }));
    // A file whose folders are gone: the highest missing folder below the existing one.
    QString topmost;
    EXPECT_EQ(tracker.classify(root + "/Snares/Tight/s.wav", Item::file, &topmost),
        (SyncIssue { Kind::missingFolder, root + "/Snares", {} }));
    EXPECT_EQ(topmost, root + "/Snares");
    // The longest containing root wins: the root itself is the missing folder.
    EXPECT_EQ(tracker.classify(root, Item::folder).path, root);
    // The walk stops at the root even when the root's own parent is gone too.
    tracker.setSyncedRootPaths({ dir.path() + "/Gone/Root" });
    EXPECT_EQ(tracker.classify(dir.path() + "/Gone/Root/a/b", Item::folder),
        (SyncIssue { Kind::missingFolder, dir.path() + "/Gone/Root", {} }));

    // Unmounted drives, under each removable-media parent.
    EXPECT_EQ(tracker.classify("/Volumes/Drive A/Loops/x.wav", Item::file),
        (SyncIssue { Kind::unreachableDrive, "/Volumes/Drive A", {} }));
    EXPECT_EQ(tracker.classify("/media/ann/USB/x.wav", Item::file).path, "/media/ann/USB");
    EXPECT_EQ(tracker.classify("/run/media/ann/USB/a/b", Item::folder).path, "/run/media/ann/USB");
    EXPECT_EQ(tracker.classify("/mnt/disk/x.wav", Item::file).kind, Kind::unreachableDrive);
    // A mounted drive is looked at like any other place: the missing folder on it is the issue,
    // unless the walk climbs to the drive's own folder, which counts as the drive again.
    mounted << "/Volumes/Drive A";
    tracker.setSyncedRootPaths({});
    QStringList onDisk { "/Volumes", "/Volumes/Drive A" };
    tracker.setPathExists([&](const QString& p) { return onDisk.contains(p); });
    EXPECT_EQ(tracker.classify("/Volumes/Drive A/Loops/x/y.wav", Item::file),
        (SyncIssue { Kind::missingFolder, "/Volumes/Drive A/Loops", {} }));
    onDisk.removeAll("/Volumes/Drive A");
    EXPECT_EQ(tracker.classify("/Volumes/Drive A/Loops/x/y.wav", Item::file),
        (SyncIssue { Kind::unreachableDrive, "/Volumes/Drive A", {} }));
    tracker.setPathExists({});
    // Top-level files are plain missing files.
    EXPECT_EQ(tracker.classify("/nothing-here.wav", Item::file).kind, Kind::missingFile);

    std::vector<kivo::index::ScanGroup> plan {
        { "G1", { "/srv/lib/Present" }, { "/srv/lib/Drums", "/srv/lib/Bass", "/srv/other/Keys" } },
        { "G2", {}, { "/srv/lib/Pads", "/srv/lib/Bass", "/Top" } },
    };
    EXPECT_EQ(tracker.relocationCandidates("/srv/lib/Drums", plan),
        (QStringList { "/srv/lib/Bass", "/srv/lib/Pads" }));
    // A root right under "/" has no meaningful siblings.
    EXPECT_TRUE(tracker.relocationCandidates("/Top", plan).isEmpty());
    EXPECT_EQ(parentPath("/a"), "/");
    EXPECT_EQ(parentPath("/"), "");
    EXPECT_TRUE(isPathUnder("/a/b", "/a") && !isPathUnder("/ab", "/a"));
}

TEST_F(TrackerFixture, ReportingMarksPathsAndQueuesEachIssueOnce)
{
    kivo::test::ScratchDir dir;
    const QString root = dir.path() + "/Root";
    dir.mkdir("Root");
    tracker.setSyncedRootPaths({ root });
    QSignalSpy queueSpy(&tracker, &MissingFileTracker::promptQueueChanged);

    // Two files of one unplugged drive: one prompt.
    tracker.reportMissing("/Volumes/Drive A/a.wav", Item::file);
    tracker.reportMissing("/Volumes/Drive A/b/c.wav", Item::file);
    ASSERT_EQ(tracker.promptQueue().size(), 1);
    EXPECT_EQ(tracker.promptQueue()[0].kind, Kind::unreachableDrive);
    EXPECT_EQ(queueSpy.count(), 1);

    // A file under a vanished folder marks the file and the folder.
    tracker.reportMissing(root + "/Gone/x.wav", Item::file);
    EXPECT_TRUE(tracker.isMissing(root + "/Gone/x.wav"));
    EXPECT_TRUE(tracker.isMissing(root + "/Gone"));
    EXPECT_EQ(tracker.promptQueue().size(), 2);
    EXPECT_TRUE(tracker.isMissing("/Volumes/Drive A/a.wav"));
    EXPECT_FALSE(tracker.isMissing("/Volumes/Drive A"));

    // Found again: exactly that path, nothing below, skipped set untouched.
    tracker.markFound(root + "/Gone");
    EXPECT_FALSE(tracker.isMissing(root + "/Gone"));
    EXPECT_TRUE(tracker.isMissing(root + "/Gone/x.wav"));
    EXPECT_EQ(tracker.promptQueue().size(), 1);
    // Resolving takes the folder and everything below it, but not a sibling sharing the prefix.
    tracker.reportMissing(root + "/Gone2/y.wav", Item::file);
    tracker.resolve(root + "/Gone");
    EXPECT_FALSE(tracker.isMissing(root + "/Gone/x.wav"));
    EXPECT_TRUE(tracker.isMissing(root + "/Gone2/y.wav"));
}

TEST_F(TrackerFixture, SkippingCheckResultsAndGenerations)
{
    tracker.setSyncedRootPaths({ "/srv/a", "/srv/b" });
    const quint64 generation = tracker.generation();
    SyncCheckResult result;
    result.generation = generation;
    result.missingPaths = { "/srv/a", "/srv/b" };
    result.issues = { { Kind::missingFolder, "/srv/a", {} }, { Kind::unreachableDrive, "/Volumes/X", {} },
        { Kind::missingFolder, "/srv/b", {} }, { Kind::movedFolder, "/srv/c", QString("/srv/d") },
        { Kind::missingFolder, "/srv/a", {} } };
    tracker.applyCheckResult(result);
    ASSERT_EQ(tracker.promptQueue().size(), 4);

    // Skip All on a missing folder takes every missing file or folder, nothing else.
    tracker.skipAll();
    ASSERT_EQ(tracker.promptQueue().size(), 2);
    EXPECT_EQ(tracker.promptQueue()[0].kind, Kind::unreachableDrive);
    EXPECT_TRUE(tracker.skippedPromptPaths().contains("/srv/b"));
    tracker.skipCurrent();
    EXPECT_EQ(tracker.promptQueue()[0].kind, Kind::movedFolder);

    // A re-check does not bring skipped prompts back; a queued one is not doubled.
    tracker.applyCheckResult(result);
    EXPECT_EQ(tracker.promptQueue().size(), 1);
    tracker.reportMissing("/srv/a", Item::folder);
    EXPECT_EQ(tracker.promptQueue().size(), 1);

    // A workspace change drops everything, and results of checks begun before it.
    tracker.reset();
    EXPECT_EQ(tracker.generation(), generation + 1);
    EXPECT_TRUE(tracker.promptQueue().isEmpty() && tracker.missingPaths().isEmpty()
        && tracker.skippedPromptPaths().isEmpty());
    tracker.applyCheckResult(result);
    EXPECT_TRUE(tracker.promptQueue().isEmpty() && tracker.missingPaths().isEmpty());
    result.generation = tracker.generation();
    tracker.applyCheckResult(result);
    EXPECT_EQ(tracker.promptQueue().size(), 4);
    // Nothing to skip: no change and no crash.
    tracker.reset();
    tracker.skipCurrent();
    tracker.skipAll();
}
