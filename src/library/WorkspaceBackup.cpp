#include "library/WorkspaceBackup.h"

#include "platform/PreferenceStore.h"
#include "platform/PropertyList.h"
#include "platform/XmlPropertyList.h"

#include <QFileInfo>
#include <QHash>
#include <QMetaType>
#include <QVariantList>

#include <cmath>

namespace kivo::library {

namespace {

enum class Kind { boolean, integer, number, string, data, array, stringArray, dictionary };

// The type each managed key's owner reads; a value of another type would be read as absent
// (silently defaulted) after the switch, so such a backup is refused instead.
Kind kindOf(const QString& key)
{
    static const QHash<QString, Kind> kinds = [] {
        QHash<QString, Kind> k;
        for (const char* key :
            { "midiCatchNotes", "separateMIDIFiles", "sortByBPM", "sortRomanNumerals", "skipNestedSubfolders",
                "hideFileExtensions", "autoPauseWhenUnfocused", "UseCacheFirstLaunch", "CheckDriveState",
                "DetectMissingItems", "NotifyPathUpdates", "hotkeyChordMinor" })
            k.insert(QString::fromLatin1(key), Kind::boolean);
        for (const char* key : { "selectedTheme", "midiOctaveShift", "midiInstrument", "keySpelling",
                 "selectedGroup", "selectedPathIndex", "MaxCacheSize", "hotkeyChordPitch" })
            k.insert(QString::fromLatin1(key), Kind::integer);
        k.insert(QStringLiteral("volume"), Kind::number);
        k.insert(QStringLiteral("hotkeyMode"), Kind::string);
        k.insert(QStringLiteral("bookmarks"), Kind::data);
        for (const char* key : { "FileBPMCleared", "FileKeyCleared", "HiddenFilePaths", "HiddenCollectionIDs",
                 "SkippedFolderPaths", "NestedSkipExemptPaths" })
            k.insert(QString::fromLatin1(key), Kind::stringArray);
        for (const char* key : { "SampleTags", "hotkeyGlobalSets", "sampleHotkeys" })
            k.insert(QString::fromLatin1(key), Kind::array);
        for (const char* key : { "FileBPMOverrides", "FileKeyOverrides", "FileTagAssignments",
                 "FileTagExclusions", "hotkeyCollectionSets" })
            k.insert(QString::fromLatin1(key), Kind::dictionary);
        return k;
    }();
    return kinds.value(key, Kind::dictionary);
}

bool hasKind(const QVariant& value, Kind kind)
{
    const int id = value.typeId();
    switch (kind) {
    case Kind::boolean:
        return id == QMetaType::Bool;
    case Kind::integer:
        return id == QMetaType::LongLong;
    case Kind::number:
        // A volume of NaN would be stored and read back as a value unequal to itself.
        return id == QMetaType::LongLong || (id == QMetaType::Double && std::isfinite(value.toDouble()));
    case Kind::string:
        return id == QMetaType::QString;
    case Kind::data:
        return id == QMetaType::QByteArray;
    case Kind::array:
        return id == QMetaType::QVariantList;
    case Kind::stringArray: {
        if (id != QMetaType::QVariantList)
            return false;
        for (const QVariant& item : value.toList())
            if (item.typeId() != QMetaType::QString)
                return false;
        return true;
    }
    case Kind::dictionary:
        return id == QMetaType::QVariantMap;
    }
    return false;
}

bool realExists(const QString& path)
{
    return QFileInfo::exists(path);
}

// A mark on a file that is gone while its folder still exists can never apply again.
QVariantList prunedClearedPaths(const QVariantList& paths, const PathExists& exists)
{
    QVariantList kept;
    kept.reserve(paths.size());
    for (const QVariant& item : paths) {
        const QString path = item.toString();
        const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
        const QString folder = slash > 0 ? path.left(slash) : QString();
        if (item.typeId() == QMetaType::QString && folder.size() >= 2 && !exists(path) && exists(folder))
            continue;
        kept.append(item);
    }
    return kept;
}

} // namespace

QVariantMap backupValues(const platform::PreferenceStore& store)
{
    QVariantMap values;
    for (const char* key : kManagedKeys)
        if (auto value = store.value(QString::fromLatin1(key)))
            values.insert(QString::fromLatin1(key), *value);
    return values;
}

std::optional<QByteArray> encodeBackup(QVariantMap values, const PathExists& exists)
{
    const PathExists& check = exists ? exists : PathExists(realExists);
    for (const char* key : { "FileBPMCleared", "FileKeyCleared" }) {
        auto it = values.find(QString::fromLatin1(key));
        if (it != values.end() && it->typeId() == QMetaType::QVariantList)
            *it = prunedClearedPaths(it->toList(), check);
    }
    values.insert(QString::fromLatin1(kBackupFormatKey), QString::fromLatin1(kBackupFormat));
    return platform::encodeBinaryPlist(QVariant(values));
}

std::optional<QByteArray> snapshot(const platform::PreferenceStore& store, const PathExists& exists)
{
    return encodeBackup(backupValues(store), exists);
}

std::optional<QVariantMap> parseBackup(const QByteArray& bytes)
{
    const std::optional<QVariant> root = platform::decodeAnyPlist(bytes);
    if (!root || root->typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    const QVariantMap dict = root->toMap();
    const QVariant marker = dict.value(QString::fromLatin1(kBackupFormatKey));
    if (marker.typeId() != QMetaType::QString || marker.toString() != QLatin1String(kBackupFormat))
        return std::nullopt;
    QVariantMap values;
    for (const char* name : kManagedKeys) {
        const QString key = QString::fromLatin1(name);
        auto it = dict.constFind(key);
        if (it == dict.cend())
            continue;
        if (!hasKind(*it, kindOf(key)))
            return std::nullopt;
        values.insert(key, *it);
    }
    return values;
}

bool isValidBackup(const QByteArray& bytes)
{
    return parseBackup(bytes).has_value();
}

bool applyBackup(platform::PreferenceStore& store, const QByteArray& bytes)
{
    const auto values = parseBackup(bytes);
    if (!values)
        return false;
    applyBackupValues(store, *values);
    return true;
}

void applyBackupValues(platform::PreferenceStore& store, const QVariantMap& values)
{
    for (const char* name : kManagedKeys) {
        const QString key = QString::fromLatin1(name);
        auto it = values.constFind(key);
        if (it != values.cend())
            store.setValue(key, *it);
        else
            store.remove(key);
    }
    for (const char* key : kLegacyBackupKeys)
        store.remove(QString::fromLatin1(key));
    store.flush();
}

void clearManagedKeys(platform::PreferenceStore& store)
{
    applyBackupValues(store, {});
}

} // namespace kivo::library
