#include "library/SyncSettings.h"

#include "platform/MainThread.h"
#include "platform/PreferenceStore.h"

namespace kivo::library {

namespace {

const QString kUseCacheFirstLaunch = QStringLiteral("UseCacheFirstLaunch");
const QString kMaxCacheSize = QStringLiteral("MaxCacheSize");
const QString kCheckDriveState = QStringLiteral("CheckDriveState");
const QString kDetectMissingItems = QStringLiteral("DetectMissingItems");
const QString kNotifyPathUpdates = QStringLiteral("NotifyPathUpdates");
// One flag once covered both detections; it still seeds them until they are saved.
const QString kLegacyCheckMissingFiles = QStringLiteral("CheckMissingFilesOnLaunch");

} // namespace

SyncSettings::SyncSettings(platform::PreferenceStore& store, QObject* parent)
    : QObject(parent)
    , m_store(store)
{
    m_store.remove(QStringLiteral("NotifyNewFiles"));
    m_store.remove(QStringLiteral("AcknowledgedNewPaths"));
    reloadFromStore();
}

void SyncSettings::reloadFromStore()
{
    KIVO_MAIN_THREAD();
    if (const auto value = m_store.boolValue(kUseCacheFirstLaunch))
        setUseCacheFirstLaunch(*value);
    if (const auto value = m_store.intValue(kMaxCacheSize))
        setMaxCacheSize(*value);
    const bool legacy = m_store.boolValue(kLegacyCheckMissingFiles).value_or(true);
    setCheckDriveState(m_store.boolValue(kCheckDriveState).value_or(legacy));
    setDetectMissingItems(m_store.boolValue(kDetectMissingItems).value_or(legacy));
    setNotifyPathUpdates(m_store.boolValue(kNotifyPathUpdates).value_or(false));
}

void SyncSettings::save()
{
    KIVO_MAIN_THREAD();
    m_store.setValue(kCheckDriveState, m_checkDriveState);
    m_store.setValue(kDetectMissingItems, m_detectMissingItems);
    m_store.setValue(kNotifyPathUpdates, m_notifyPathUpdates);
    m_store.setValue(kUseCacheFirstLaunch, m_useCacheFirstLaunch);
    m_store.setValue(kMaxCacheSize, m_maxCacheSize);
}

void SyncSettings::resetToDefaults()
{
    KIVO_MAIN_THREAD();
    setCheckDriveState(true);
    setDetectMissingItems(true);
    setNotifyPathUpdates(false);
    save();
}

void SyncSettings::setUseCacheFirstLaunch(bool value)
{
    KIVO_MAIN_THREAD();
    if (m_useCacheFirstLaunch == value)
        return;
    m_useCacheFirstLaunch = value;
    emit useCacheFirstLaunchChanged();
}

void SyncSettings::setMaxCacheSize(qint64 value)
{
    KIVO_MAIN_THREAD();
    if (m_maxCacheSize == value)
        return;
    m_maxCacheSize = value;
    emit maxCacheSizeChanged();
}

void SyncSettings::setCheckDriveState(bool value)
{
    KIVO_MAIN_THREAD();
    if (m_checkDriveState == value)
        return;
    m_checkDriveState = value;
    emit checkDriveStateChanged();
}

void SyncSettings::setDetectMissingItems(bool value)
{
    KIVO_MAIN_THREAD();
    if (m_detectMissingItems == value)
        return;
    m_detectMissingItems = value;
    emit detectMissingItemsChanged();
}

void SyncSettings::setNotifyPathUpdates(bool value)
{
    KIVO_MAIN_THREAD();
    if (m_notifyPathUpdates == value)
        return;
    m_notifyPathUpdates = value;
    emit notifyPathUpdatesChanged();
}

} // namespace kivo::library
