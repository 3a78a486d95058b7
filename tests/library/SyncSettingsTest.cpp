#include "library/SyncSettings.h"

#include "SettingsStore.h"

#include <QSignalSpy>

#include <tuple>

using namespace kivo::library;

namespace {

using SyncSettingsStore = kivo::test::SettingsStoreFixture;

} // namespace

// Defaults drop the unused keys and write nothing; the legacy flag seeds both detections; values of
// the wrong type count as absent. (Each check reads the store afresh.)
TEST_F(SyncSettingsStore, StoredValuesAndTheirReadingRules)
{
    using Values = std::tuple<bool, qint64, bool, bool, bool>;
    const auto read = [&] {
        const SyncSettings s(*store);
        return Values(s.useCacheFirstLaunch(), s.maxCacheSize(), s.checkDriveState(), s.detectMissingItems(),
            s.notifyPathUpdates());
    };
    store->setValue("NotifyNewFiles", true);
    store->setValue("AcknowledgedNewPaths", QVariantList { "/a" });
    EXPECT_EQ(read(), Values(true, 104857600, true, true, false));
    EXPECT_TRUE(store->keys().isEmpty()) << store->keys().join(", ").toStdString();

    store->setValue("CheckMissingFilesOnLaunch", false);
    EXPECT_EQ(read(), Values(true, 104857600, false, false, false));
    store->setValue("DetectMissingItems", true);
    EXPECT_EQ(read(), Values(true, 104857600, false, true, false));
    // A legacy value of another type is no value at all, and stays.
    store->setValue("CheckMissingFilesOnLaunch", qint64(0));
    store->remove("DetectMissingItems");
    EXPECT_EQ(read(), Values(true, 104857600, true, true, false));
    EXPECT_TRUE(store->contains("CheckMissingFilesOnLaunch"));

    store->setValue("UseCacheFirstLaunch", qint64(0));
    store->setValue("MaxCacheSize", 12.5);
    store->setValue("CheckDriveState", "no");
    store->setValue("NotifyPathUpdates", qint64(1));
    EXPECT_EQ(read(), Values(true, 104857600, true, true, false));
    store->setValue("UseCacheFirstLaunch", false);
    store->setValue("MaxCacheSize", qint64(1) << 40);
    store->setValue("NotifyPathUpdates", true);
    EXPECT_EQ(read(), Values(false, qint64(1) << 40, true, true, true));
}

TEST_F(SyncSettingsStore, SaveResetAndReload)
{
    SyncSettings settings(*store);
    QSignalSpy driveSpy(&settings, &SyncSettings::checkDriveStateChanged);
    settings.setCheckDriveState(false);
    settings.setCheckDriveState(false);
    EXPECT_EQ(driveSpy.count(), 1);
    // Setters alone do not persist; the window saves after a toggle.
    EXPECT_FALSE(store->contains("CheckDriveState"));

    settings.setUseCacheFirstLaunch(false);
    settings.setMaxCacheSize(2048);
    settings.setDetectMissingItems(false);
    settings.setNotifyPathUpdates(true);
    settings.save();
    EXPECT_EQ(store->boolValue("UseCacheFirstLaunch"), false);
    EXPECT_EQ(store->intValue("MaxCacheSize"), 2048);
    EXPECT_EQ(store->boolValue("CheckDriveState"), false);
    EXPECT_EQ(store->boolValue("DetectMissingItems"), false);
    EXPECT_EQ(store->boolValue("NotifyPathUpdates"), true);

    settings.resetToDefaults();
    EXPECT_TRUE(settings.checkDriveState());
    EXPECT_TRUE(settings.detectMissingItems());
    EXPECT_FALSE(settings.notifyPathUpdates());
    EXPECT_FALSE(settings.useCacheFirstLaunch());
    EXPECT_EQ(settings.maxCacheSize(), 2048);
    EXPECT_EQ(store->boolValue("CheckDriveState"), true);
    EXPECT_EQ(store->boolValue("NotifyPathUpdates"), false);
    EXPECT_EQ(store->intValue("MaxCacheSize"), 2048);

    // A workspace without the cache keys leaves the live cache settings as they are.
    for (const char* key : { "UseCacheFirstLaunch", "MaxCacheSize", "CheckDriveState", "DetectMissingItems",
             "NotifyPathUpdates" })
        store->remove(key);
    store->setValue("CheckMissingFilesOnLaunch", false);
    store->setValue("NotifyPathUpdates", true);
    settings.reloadFromStore();
    EXPECT_FALSE(settings.useCacheFirstLaunch());
    EXPECT_EQ(settings.maxCacheSize(), 2048);
    EXPECT_FALSE(settings.checkDriveState());
    EXPECT_FALSE(settings.detectMissingItems());
    EXPECT_TRUE(settings.notifyPathUpdates());
}
