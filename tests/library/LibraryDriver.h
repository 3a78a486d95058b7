#pragma once

// A library index driver on private preferences and cache, with a clock of its own. By default the
// library check is only counted; a test that wants the real one sets `realCheck`, and then the
// driver sees the mount table in `mounted`.

#include "library/LibraryIndexManager.h"
#include "library/MissingFileTracker.h"
#include "library/SyncSettings.h"
#include "library/UserSettings.h"
#include "platform/Clock.h"
#include "platform/NotificationCenter.h"
#include "platform/PreferenceStore.h"
#include "platform/TaskRunner.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <atomic>
#include <ctime>
#include <set>

namespace kivo::test {

using library::LibraryIndexManager;
using library::LibraryIndexManagerOptions;

// Holds every scan at its first root while closed, so a sync is reliably still running.
struct Gate {
    std::atomic<bool> isOpen { true };
    std::atomic<int> arrived { 0 };
    void close() { isOpen = false; }
    void open()
    {
        isOpen = true;
        isOpen.notify_all();
    }
    void pass()
    {
        ++arrived;
        isOpen.wait(false);
    }
};

struct Notices {
    QObject context;
    int pathsSynced = 0;
    std::vector<QVariantMap> libraryChanges;
    Notices()
    {
        auto& center = platform::NotificationCenter::shared();
        center.observe(
            library::kPathsSyncedNotification, &context, [this](const QVariantMap&) { ++pathsSynced; });
        center.observe(library::kLibraryFileRemovedNotification, &context,
            [this](const QVariantMap& info) { libraryChanges.push_back(info); });
    }
};

struct DriverFixture : ::testing::Test {
    platform::TaskRunner tasks; // first: it outlives every driver
    test::ScratchDir dir;
    std::unique_ptr<platform::PreferenceStore> prefs
        = std::make_unique<platform::PreferenceStore>(dir.path() + "/Preferences.plist");
    std::unique_ptr<library::UserSettings> settings = std::make_unique<library::UserSettings>(*prefs);
    std::unique_ptr<library::SyncSettings> syncSettings = std::make_unique<library::SyncSettings>(*prefs);
    library::MissingFileTracker tracker;
    platform::ManualClock clock { 1'900'000'000.0 };
    Gate gate;
    int libraryChecks = 0; // counted checks, without `realCheck`
    int checks = 0; // checks finished, either kind
    int legacyRemovalsOnMain = 0;
    Notices notices;
    bool realCheck = false;
    std::set<std::string> mounted;
    std::vector<std::pair<QString, QString>> rewrites;

    ~DriverFixture() override
    {
        // Checks and refreshes still running read the mount table above.
        tasks.waitForIdle(std::chrono::seconds(20));
    }

    QString cachePath() const { return dir.path() + "/SearchIndex.json"; }

    std::unique_ptr<LibraryIndexManager> makeDriver()
    {
        LibraryIndexManagerOptions options;
        // The preference store is the main thread's: its legacy cache keys go there.
        options.removeLegacyPreferences = [this] {
            legacyRemovalsOnMain += QThread::currentThread() == QCoreApplication::instance()->thread();
            prefs->remove(QStringLiteral("KIVOCacheData"));
        };
        options.store.cacheFilePath = cachePath().toStdString();
        options.store.log = [](const std::string&) {};
        options.clock = &clock;
        options.tracker = &tracker;
        options.syncSettings = syncSettings.get();
        options.scan.access.begin = [this](const std::string&) {
            gate.pass();
            return true;
        };
        options.scan.access.end = [](const std::string&) {};
        if (realCheck)
            options.mountedVolumes = [this] { return mounted; };
        else
            options.checkLibrary = [this](LibraryIndexManager&, library::UserSettings&,
                                       const library::SyncSettings&) { ++libraryChecks; };
        auto driver = std::make_unique<LibraryIndexManager>(tasks, std::move(options));
        driver->addPathRewriter(
            [this](const QString& from, const QString& to) { rewrites.emplace_back(from, to); });
        QObject::connect(driver.get(), &LibraryIndexManager::libraryChecked, [this] { ++checks; });
        EXPECT_TRUE(waitFor([&] { return driver->isCacheLoaded(); }));
        return driver;
    }

    // The folder's time is put a minute back: a check takes a change within a millisecond of the
    // indexed time for none, and a file deleted right after the sync could otherwise land there.
    QString addLibraryFolder(const std::string& name, int files, int collection = 0)
    {
        for (int i = 0; i < files; ++i)
            dir.write(name + "/Kick " + std::to_string(i) + ".wav", "RIFF");
        const std::string path = dir.str() + "/" + name;
        const struct timespec times[2] = { { 0, UTIME_OMIT }, { std::time(nullptr) - 60, 0 } };
        EXPECT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
        EXPECT_TRUE(settings->addPath(QString::fromStdString(path), collection));
        return QString::fromStdString(path);
    }

    void waitIdle(LibraryIndexManager& driver)
    {
        // A launch or Sync now resolves the roots first and may then start a sync: settle until
        // nothing more starts. Let the cache save and any queued notices land.
        for (int round = 0; round < 10; ++round) {
            ASSERT_TRUE(waitFor([&] { return !driver.isInitializing(); }));
            EXPECT_TRUE(tasks.waitForIdle(std::chrono::seconds(20)));
            QCoreApplication::processEvents();
            if (!driver.isInitializing() && tasks.pendingCount() == 0)
                return;
        }
        ADD_FAILURE() << "the driver did not settle";
    }
    bool rootsChanged(const LibraryIndexManager& driver) const
    {
        return driver.rootsChangedIn(library::buildSyncPlan(settings->bookmarks()));
    }

    // A completed build saved to the cache file, then a fresh driver on it `age` seconds later.
    std::unique_ptr<LibraryIndexManager> driverOnCacheAged(double age)
    {
        {
            auto first = makeDriver();
            first->rebuild(*settings, false);
            waitIdle(*first);
        }
        clock.setNow(clock.now() + age);
        return makeDriver();
    }
};

} // namespace kivo::test
