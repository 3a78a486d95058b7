#pragma once

// How the library is kept in step with the disk. Read once when built (nothing is written
// back then); the settings window sets a field and then calls save(). Main thread only.

#include <QObject>

namespace kivo::platform {
class PreferenceStore;
}

namespace kivo::library {

inline constexpr qint64 kDefaultMaxCacheSize = 104857600; // 100 MiB

class SyncSettings : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool useCacheFirstLaunch READ useCacheFirstLaunch WRITE setUseCacheFirstLaunch NOTIFY
            useCacheFirstLaunchChanged)
    Q_PROPERTY(qint64 maxCacheSize READ maxCacheSize WRITE setMaxCacheSize NOTIFY maxCacheSizeChanged)
    Q_PROPERTY(
        bool checkDriveState READ checkDriveState WRITE setCheckDriveState NOTIFY checkDriveStateChanged)
    Q_PROPERTY(bool detectMissingItems READ detectMissingItems WRITE setDetectMissingItems NOTIFY
            detectMissingItemsChanged)
    Q_PROPERTY(bool notifyPathUpdates READ notifyPathUpdates WRITE setNotifyPathUpdates NOTIFY
            notifyPathUpdatesChanged)

public:
    // Drops keys no longer used, then reads the stored values.
    explicit SyncSettings(platform::PreferenceStore& store, QObject* parent = nullptr);

    bool useCacheFirstLaunch() const { return m_useCacheFirstLaunch; }
    qint64 maxCacheSize() const { return m_maxCacheSize; }
    bool checkDriveState() const { return m_checkDriveState; }
    bool detectMissingItems() const { return m_detectMissingItems; }
    bool notifyPathUpdates() const { return m_notifyPathUpdates; }

    // Setters change the field only; save() persists.
    void setUseCacheFirstLaunch(bool value);
    void setMaxCacheSize(qint64 value);
    void setCheckDriveState(bool value);
    void setDetectMissingItems(bool value);
    void setNotifyPathUpdates(bool value);

    void reloadFromStore();
    // Writes all five keys.
    void save();
    // The three detection flags back to their defaults, then save(); the cache settings stay.
    void resetToDefaults();

signals:
    void useCacheFirstLaunchChanged();
    void maxCacheSizeChanged();
    void checkDriveStateChanged();
    void detectMissingItemsChanged();
    void notifyPathUpdatesChanged();

private:
    platform::PreferenceStore& m_store;
    bool m_useCacheFirstLaunch = true;
    qint64 m_maxCacheSize = kDefaultMaxCacheSize;
    bool m_checkDriveState = true;
    bool m_detectMissingItems = true;
    bool m_notifyPathUpdates = false;
};

} // namespace kivo::library
