#include "LibraryDriver.h"

#include "library/LibraryCheck.h"
#include "library/SyncIssuePrompt.h"
#include "library/SyncPlan.h"
#include "platform/FolderBookmark.h"

#include <QDir>

using namespace kivo;
using test::waitFor;
using namespace kivo::library;
using Kind = SyncIssue::Kind;

namespace kivo::library {
void PrintTo(const SyncIssue& issue, std::ostream* os); // in MissingFileTrackerTest
} // namespace kivo::library

namespace {

// A driver with the real check and a mount table of the test's own.
struct Library : test::DriverFixture {
    std::unique_ptr<LibraryIndexManager> driver;

    Library()
    {
        realCheck = true;
        driver = makeDriver();
    }
    ~Library() override { tasks.waitForIdle(std::chrono::seconds(20)); }

    void syncAndCheck()
    {
        const int before = checks;
        driver->startSync(*settings, false, true);
        ASSERT_TRUE(waitFor([&] { return checks > before && !driver->isInitializing(); }));
    }
    void check()
    {
        const int before = checks;
        driver->checkLibrary(*settings);
        ASSERT_TRUE(waitFor([&] { return checks > before; }));
    }
    // The driver's relocation, waited for.
    bool relocate(const QString& from, const QString& to, const QStringList& candidates = {})
    {
        std::optional<bool> made;
        driver->relocate(*settings, from, to, candidates, [&](bool ok) { made = ok; });
        EXPECT_TRUE(waitFor([&] { return made.has_value(); }));
        return made.value_or(false);
    }
    std::set<std::string> indexedFiles() const
    {
        std::set<std::string> files;
        for (const auto& [path, info] : driver->store().snapshot().fileIndex)
            files.insert(path);
        return files;
    }
};

} // namespace

TEST_F(Library, MissingRootsAreQueuedOnceGreyedKeptInTheIndexAndFoundAgain)
{
    const QString drums = addLibraryFolder("Samples/Drums", 2);
    const QString keys = addLibraryFolder("Samples/Keys", 1);
    syncAndCheck();
    EXPECT_TRUE(tracker.promptQueue().isEmpty());

    // Keys goes away (not beside itself, so it is not a rename); its files stay in the index.
    ASSERT_TRUE(QDir().mkpath(dir.path() + "/Elsewhere"));
    ASSERT_TRUE(QDir().rename(keys, dir.path() + "/Elsewhere/Keys"));
    QFile::remove(drums + "/Kick 1.wav");
    check();
    EXPECT_EQ(tracker.promptQueue(),
        (QList<SyncIssue> {
            { Kind::missingFolder, keys, {} }, { Kind::missingFile, drums + "/Kick 1.wav", {} } }));
    EXPECT_TRUE(tracker.isMissing(keys));
    EXPECT_EQ(tracker.whyMissing(keys + "/Kick 0.wav"), "Can't locate Keys");
    EXPECT_TRUE(indexedFiles().count((keys + "/Kick 0.wav").toStdString()));
    // A sync does not empty the root it cannot reach.
    syncAndCheck();
    EXPECT_TRUE(indexedFiles().count((keys + "/Kick 0.wav").toStdString()));
    EXPECT_EQ(tracker.promptQueue().size(), 2);

    // A check started before a workspace change resets the tracker is dropped. (Skipping and
    // resetting themselves are the tracker's own tests.)
    const int before = checks;
    driver->checkLibrary(*settings);
    tracker.reset();
    ASSERT_TRUE(waitFor([&] { return checks > before; }));
    EXPECT_TRUE(tracker.promptQueue().isEmpty());

    // Back in place: no longer missing.
    check();
    ASSERT_TRUE(QDir().rename(dir.path() + "/Elsewhere/Keys", keys));
    check();
    EXPECT_FALSE(tracker.isUnderMissing(keys + "/Kick 0.wav"));
    EXPECT_TRUE(std::none_of(tracker.promptQueue().begin(), tracker.promptQueue().end(),
        [&](const SyncIssue& i) { return i.path == keys; }));
}

TEST_F(Library, AnUnpluggedDriveIsOneIssueAndItsRootsStayListed)
{
    // Roots on a drive, standing for the removable-media parents, with a mount table of our own.
    settings->setBookmarks({ BookmarkGroup { QUuid::createUuid(), "Drive", {}, "" } });
    mounted = { "/Volumes/Drive A" };
    tracker.setSyncedRootPaths({ "/Volumes/Drive A/Loops", "/Volumes/Drive A/Kits", "/home/me/Samples" });
    driver->volumeUnmounted("/Volumes/Drive A");
    EXPECT_EQ(
        tracker.promptQueue(), (QList<SyncIssue> { { Kind::unreachableDrive, "/Volumes/Drive A", {} } }));
    EXPECT_TRUE(tracker.isUnderMissing("/Volumes/Drive A/Kits/Snare.wav"));
    EXPECT_FALSE(tracker.isUnderMissing("/home/me/Samples/Kick.wav"));
    // A drive that holds no root says nothing.
    driver->volumeUnmounted("/Volumes/Other");
    EXPECT_EQ(tracker.promptQueue().size(), 1);

    driver->volumeMounted(*settings, "/Volumes/Drive A");
    EXPECT_TRUE(tracker.promptQueue().isEmpty());
    EXPECT_FALSE(tracker.isUnderMissing("/Volumes/Drive A/Kits/Snare.wav"));
}

TEST_F(Library, AFolderRenamedInPlaceIsFollowedWithEveryPathKeyedStore)
{
    syncSettings->setNotifyPathUpdates(true);
    const QString drums = addLibraryFolder("Samples/Drums", 2);
    syncAndCheck();

    ASSERT_TRUE(QDir().rename(drums, dir.path() + "/Samples/Drums 2"));
    const QString moved = dir.path() + "/Samples/Drums 2";
    check();
    EXPECT_EQ(rewrites, (std::vector<std::pair<QString, QString>> { { drums, moved } }));
    EXPECT_EQ(tracker.promptQueue(), (QList<SyncIssue> { { Kind::movedFolder, drums, moved } }));
    EXPECT_EQ(platform::FolderBookmark::storedPath(settings->bookmarks()[0].paths[0]), moved);
    // The sync it started reads the folder under its new name.
    ASSERT_TRUE(waitFor([&] { return indexedFiles().count((moved + "/Kick 0.wav").toStdString()) > 0; }));
    ASSERT_TRUE(waitFor([&] { return !driver->isInitializing(); }));
    EXPECT_FALSE(indexedFiles().count((drums + "/Kick 0.wav").toStdString()));
}

TEST_F(Library, RelocationRewritesTheRootTheStoresAndTheCandidatesInsideTheChosenParent)
{
    const QString drums = addLibraryFolder("Old/Drums", 2);
    const QString keys = addLibraryFolder("Old/Keys", 1);
    const QString bass = addLibraryFolder("Old/Bass", 1);
    syncAndCheck();
    // Drums and Keys were moved together; Bass went elsewhere.
    ASSERT_TRUE(QDir().rename(dir.path() + "/Old", dir.path() + "/New"));
    ASSERT_TRUE(QDir().mkpath(dir.path() + "/Old"));
    ASSERT_TRUE(QDir().rename(dir.path() + "/New/Bass", dir.path() + "/Bass"));
    check();
    ASSERT_EQ(tracker.promptQueue().size(), 3);

    const QStringList candidates = driver->relocationCandidates(drums);
    EXPECT_EQ(candidates, (QStringList { keys, bass }));
    // Refused: a folder of another name; a folder without compatible files. Accepted: the parent.
    EXPECT_FALSE(isRelocationTarget(dir.path() + "/New/Keys", "Drums"));
    EXPECT_EQ(relocationScope(dir.path() + "/New", "Drums"), dir.path() + "/New/Drums");
    dir.write("Empty/Drums/notes.txt", "x");
    EXPECT_FALSE(holdsCompatibleFiles(dir.path() + "/Empty/Drums"));
    EXPECT_TRUE(holdsCompatibleFiles(dir.path() + "/New/Drums"));

    ASSERT_TRUE(relocate(drums, dir.path() + "/New/Drums", candidates));
    EXPECT_EQ(rewrites,
        (std::vector<std::pair<QString, QString>> {
            { drums, dir.path() + "/New/Drums" }, { keys, dir.path() + "/New/Keys" } }));
    EXPECT_EQ(tracker.promptQueue(), (QList<SyncIssue> { { Kind::missingFolder, bass, {} } }));
    EXPECT_TRUE(settings->isSynced());
    ASSERT_TRUE(waitFor(
        [&] { return indexedFiles().count((dir.path() + "/New/Keys/Kick 0.wav").toStdString()) > 0; }));
    EXPECT_TRUE(indexedFiles().count((dir.path() + "/New/Drums/Kick 1.wav").toStdString()));
    EXPECT_FALSE(indexedFiles().count((drums + "/Kick 1.wav").toStdString()));
    EXPECT_EQ(
        driver->store().searchPaths("kick", indexGroupID(settings->bookmarks()[0].id), false).size(), 4u);

    // No bookmark for a folder that is not there: nothing changes.
    EXPECT_FALSE(relocate(bass, dir.path() + "/Nowhere"));
    EXPECT_EQ(tracker.promptQueue().size(), 1);
}

TEST(MovedRoots, PairedByBookmarkThenOneForOne)
{
    const index::GroupRoots covered { { "G", { "/a/One", "/a/Two", "/a/Three" } }, { "H", { "/b/X" } } };
    const auto nothingExists = [](const QString&) { return false; };
    // Two roots moved at once: each bookmark says which is which.
    QList<CollectionPlacements> placements { { "G",
        { { "/a/One", QString("/c/Two") }, { "/a/Two", QString("/c/One") },
            { "/a/Three", QString("/a/Three") } } } };
    EXPECT_EQ(detectMovedRoots(placements, covered, nothingExists),
        (QList<MovedRoot> { { "/a/One", "/c/Two" }, { "/a/Two", "/c/One" } }));
    // One covered root gone and one new root in a collection pair even without the bookmark's word,
    // unless the covered one is still on disk (taken out of the collection, not moved).
    placements = { { "H", { { "/b/Y", QString("/b/Y") } } } };
    EXPECT_EQ(
        detectMovedRoots(placements, covered, nothingExists), (QList<MovedRoot> { { "/b/X", "/b/Y" } }));
    EXPECT_TRUE(detectMovedRoots(placements, covered, [](const QString&) { return true; }).isEmpty());
    // An unresolved root is missing, not moved.
    placements = { { "H", { { "/b/X", std::nullopt }, { "/b/Y", QString("/b/Y") } } } };
    EXPECT_TRUE(detectMovedRoots(placements, covered, nothingExists).isEmpty());
}

// Titles and sentences are the prompt's own; checked here is what it composes: names, counts and
// which actions the shown issue allows.
TEST(IssuePrompt, SaysWhatIsShownAndHowManyWait)
{
    const QStringList roots { "/s/Drums" };
    QList<SyncIssue> queue { { Kind::missingFolder, "/s/Drums", {} },
        { Kind::missingFolder, "/s/Drums/Sub", {} }, { Kind::unreachableDrive, "/Volumes/Drive A", {} } };
    IssuePrompt p = issuePrompt(queue, roots);
    EXPECT_EQ(p.line, "Can't locate Drums");
    EXPECT_EQ(p.summary, "2 folders missing");
    EXPECT_EQ(p.more, "2 more.");
    EXPECT_EQ(p.actions,
        (QList<IssueAction> { IssueAction::relocate, IssueAction::removeFromBrowser,
            IssueAction::showInFileManager, IssueAction::attemptResync, IssueAction::skip,
            IssueAction::skipAll }));
    // A folder inside a root cannot be relocated or removed; the last of its kind closes.
    queue.removeFirst();
    p = issuePrompt(queue, roots);
    EXPECT_EQ(p.summary, "");
    EXPECT_EQ(p.actions,
        (QList<IssueAction> { IssueAction::showInFileManager, IssueAction::attemptResync, IssueAction::close,
            IssueAction::closeAll }));
    queue.removeFirst();
    p = issuePrompt(queue, roots);
    EXPECT_EQ(p.line, "Drive A can't be reached");
    EXPECT_EQ(p.more, "");
    EXPECT_EQ(p.actions, (QList<IssueAction> { IssueAction::attemptResync, IssueAction::close }));

    p = issuePrompt(
        { { Kind::missingFile, "/s/Drums/Kick.wav", {} }, { Kind::missingFile, "/s/Drums/Hat.wav", {} } },
        roots);
    EXPECT_EQ(p.line, "Can't locate Kick.wav in Drums");
    EXPECT_EQ(p.summary, "2 files missing");
    EXPECT_EQ(issuePrompt({ { Kind::movedFolder, "/s/Drums", QString("/s/Drums 2") } }, roots).line,
        "Folder Drums updated to Drums 2");
}
