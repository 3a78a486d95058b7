#include "platform/Clock.h"
#include "platform/FolderBookmark.h"
#include "platform/NotificationCenter.h"
#include "platform/ReferenceDate.h"
#include "platform/ResourceFolder.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QThread>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sys/stat.h>

using namespace kivo::platform;

TEST(Clocks, ManualTimersFireInDueOrderOnlyWhenTimeReachesThemSystemOnesOnTheEventLoop)
{
    ManualClock clock(1000.0);
    std::vector<std::string> fired;
    auto a = clock.after(8.0, [&] { fired.push_back("a@" + std::to_string(int(clock.monotonic()))); });
    auto b = clock.after(2.0, [&] {
        fired.push_back("b@" + std::to_string(int(clock.monotonic())));
        // Scheduled from inside a timer and due within the same advance.
        clock.after(1.0, [&] { fired.push_back("c@" + std::to_string(int(clock.monotonic()))); });
    });
    auto cancelled = clock.after(5.0, [&] { fired.push_back("cancelled"); });
    auto same1 = clock.after(8.0, [&] { fired.push_back("same"); });
    cancelled->cancel();

    clock.advance(1.0);
    EXPECT_TRUE(fired.empty());
    clock.advance(9.0);
    EXPECT_EQ(fired, (std::vector<std::string> { "b@2", "c@3", "a@8", "same" }));
    EXPECT_DOUBLE_EQ(clock.monotonic(), 10.0);
    EXPECT_DOUBLE_EQ(clock.now(), 1010.0);
    clock.setNow(5.0);
    EXPECT_DOUBLE_EQ(clock.now(), 5.0);
    EXPECT_DOUBLE_EQ(clock.monotonic(), 10.0);

    Clock& system = Clock::system();
    EXPECT_GT(system.now(), 1.6e9);
    bool ran = false, cancelledRan = false;
    auto t = system.after(0.01, [&] { ran = true; });
    auto c = system.after(0.01, [&] { cancelledRan = true; });
    c->cancel();
    EXPECT_TRUE(kivo::test::waitFor([&] { return ran; }, 5000));
    QCoreApplication::processEvents();
    EXPECT_FALSE(cancelledRan);
}

TEST(NotificationCenter, DeliversByNameOnTheMainThreadUntilTheObserverGoes)
{
    auto& center = NotificationCenter::shared();
    std::vector<QVariantMap> got;
    auto* context = new QObject;
    center.observe("LibraryFileRemoved", context, [&](const QVariantMap& info) {
        EXPECT_EQ(QThread::currentThread(), QCoreApplication::instance()->thread());
        got.push_back(info);
    });
    center.post("UserSettingsSortingChanged");
    center.post("LibraryFileRemoved", { { "paths", QStringList { "/a" } } });
    ASSERT_EQ(got.size(), 1u); // synchronous on the main thread
    EXPECT_EQ(got[0].value("paths").toStringList(), QStringList { "/a" });

    delete context;
    center.post("LibraryFileRemoved");
    EXPECT_EQ(got.size(), 1u);
}

TEST(FolderBookmark, ResolvesMovedAndReplacedFoldersAsTheDiskSays)
{
    kivo::test::ScratchDir dir;
    const QString folder = QString::fromStdString(dir.mkdir("Drums"));
    QString error;
    auto bookmark = FolderBookmark::create(folder + "/", &error);
    ASSERT_TRUE(bookmark) << error.toStdString();
    EXPECT_EQ(FolderBookmark::storedPath(*bookmark), folder); // trailing slash dropped

    auto resolved = FolderBookmark::resolve(*bookmark);
    ASSERT_TRUE(resolved);
    EXPECT_EQ(resolved->path, folder);
    EXPECT_FALSE(resolved->stale);
    EXPECT_TRUE(FolderBookmark::startAccessing(folder));
    FolderBookmark::stopAccessing(folder);

    // Another folder now at the same path: resolves, but stale.
    ASSERT_TRUE(QDir().rename(folder, folder + " old"));
    ASSERT_TRUE(QDir().mkdir(folder));
    resolved = FolderBookmark::resolve(*bookmark);
    ASSERT_TRUE(resolved);
    EXPECT_TRUE(resolved->stale);

    // Nothing at the path: fails with a reason, and the stored path is still readable.
    ASSERT_TRUE(QDir(folder).removeRecursively());
    error.clear();
    EXPECT_FALSE(FolderBookmark::resolve(*bookmark, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(FolderBookmark::storedPath(*bookmark), folder);

    // Files, relative paths and missing folders make no bookmark; foreign or cut blobs never resolve.
    EXPECT_FALSE(FolderBookmark::create(QString::fromStdString(dir.write("f.wav", "x"))));
    EXPECT_FALSE(FolderBookmark::create("relative/path"));
    EXPECT_FALSE(FolderBookmark::create(dir.path() + "/missing"));
    auto other = FolderBookmark::create(folder + " old").value();
    for (int cut = 0; cut < other.size(); ++cut) {
        EXPECT_FALSE(FolderBookmark::resolve(other.left(cut)));
        EXPECT_FALSE(FolderBookmark::storedPath(other.left(cut)));
    }
    EXPECT_FALSE(FolderBookmark::resolve(QByteArray("book\x00mark", 9), &error));

    // An unreadable folder resolves but cannot be accessed.
    const QString locked = QString::fromStdString(dir.mkdir("Locked"));
    ::chmod(QFile::encodeName(locked).constData(), 0);
    if (::access(QFile::encodeName(locked).constData(), R_OK) != 0) { // root reads everything
        EXPECT_FALSE(FolderBookmark::startAccessing(locked));
    }
    ::chmod(QFile::encodeName(locked).constData(), 0755);
}

TEST(ReferenceDate, CalendarTextClampedToTheYearsOneToNineThousandNineHundredNinetyNine)
{
    // The last and first representable seconds, and a cache's "lastUpdate" of plus or minus 1e308.
    const std::tuple<double, const char*, bool> cases[] { { 0, "2001-01-01T00:00:00Z", false },
        { -0.5, "2000-12-31T23:59:59Z", false }, { 818'315'999.9, "2026-12-07T05:59:59Z", false },
        { 252'423'993'599.0, "9999-12-31T23:59:59Z", false },
        { 252'423'993'600.0, "9999-12-31T23:59:59Z", true },
        { -63'113'904'000.0, "0001-01-01T00:00:00Z", false }, { 1e308, "9999-12-31T23:59:59Z", true },
        { -1e308, "0001-01-01T00:00:00Z", true },
        { std::numeric_limits<double>::infinity(), "9999-12-31T23:59:59Z", true },
        { std::nan(""), "0001-01-01T00:00:00Z", true } };
    for (const auto& [seconds, iso, outOfRange] : cases) {
        EXPECT_EQ(isoDateFromReference(seconds).iso, iso) << seconds;
        EXPECT_EQ(isoDateFromReference(seconds).outOfRange, outOfRange) << seconds;
    }
}

TEST(ResourceFolder, InstalledShareFolderOrTheBuildTreesResources)
{
    kivo::test::ScratchDir dir;
    std::filesystem::path root = dir.str();
    EXPECT_FALSE(resourceFolderBeside(root / "bin"));
    dir.mkdir("usr/bin");
    dir.mkdir("usr/share/kivo-browser/SoundFonts");
    EXPECT_EQ(resourceFolderBeside(root / "usr/bin"), root / "usr/share/kivo-browser");
    // A resources folder counts only at the root of a build tree.
    dir.mkdir("build/tools/kivo-render");
    dir.mkdir("build/tools/resources");
    EXPECT_FALSE(resourceFolderBeside(root / "build/tools/kivo-render"));
    dir.write("build/CMakeCache.txt", "");
    dir.mkdir("build/resources");
    EXPECT_EQ(resourceFolderBeside(root / "build/tools/kivo-render"), root / "build/resources");
}
