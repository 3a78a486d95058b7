#pragma once

// The backup format shared by workspace files and exported workspaces: a property list whose root
// dictionary holds the format marker and every managed preference key the store holds, each with
// its stored type. Applying a backup replaces exactly the managed keys; the workspace registry and
// anything else in the store stay.

#include <QByteArray>
#include <QString>
#include <QVariantMap>

#include <array>
#include <functional>
#include <optional>

namespace kivo::platform {
class PreferenceStore;
}

namespace kivo::library {

inline constexpr char kBackupFormatKey[] = "__kivoBackupFormat";
inline constexpr char kBackupFormat[] = "KIVO.AppBackup.v1";
inline constexpr char kBackupExtension[] = "kivo";

// Settings, collections, sync settings, overrides, tags, hidden items, hotkeys, in this order.
inline constexpr std::array<const char*, 37> kManagedKeys { "selectedTheme", "volume", "midiCatchNotes",
    "midiOctaveShift", "midiInstrument", "separateMIDIFiles", "sortByBPM", "sortRomanNumerals",
    "skipNestedSubfolders", "hideFileExtensions", "autoPauseWhenUnfocused", "keySpelling", "bookmarks",
    "selectedGroup", "selectedPathIndex", "UseCacheFirstLaunch", "MaxCacheSize", "CheckDriveState",
    "DetectMissingItems", "NotifyPathUpdates", "FileBPMOverrides", "FileKeyOverrides", "FileBPMCleared",
    "FileKeyCleared", "SampleTags", "FileTagAssignments", "FileTagExclusions", "HiddenFilePaths",
    "HiddenCollectionIDs", "SkippedFolderPaths", "NestedSkipExemptPaths", "hotkeyGlobalSets",
    "hotkeyCollectionSets", "hotkeyMode", "hotkeyChordPitch", "hotkeyChordMinor", "sampleHotkeys" };
// The index once lived in the preferences; never carried in a backup, dropped on every apply.
inline constexpr std::array<const char*, 2> kLegacyBackupKeys { "KIVOCacheData", "KIVOCacheLastUpdate" };

using PathExists = std::function<bool(const QString&)>;

// The managed keys the store holds, with their values (no disk access: safe to hand to a
// background thread afterwards).
QVariantMap backupValues(const platform::PreferenceStore& store);
// The backup file's bytes for those values, as a binary property list. Paths in "FileBPMCleared"
// and "FileKeyCleared" whose file is gone while its folder is still there are left out (the mark
// can never apply again). Empty when encoding fails. Touches the disk through `exists` (the real
// file system when empty).
std::optional<QByteArray> encodeBackup(QVariantMap values, const PathExists& exists = {});
// backupValues then encodeBackup.
std::optional<QByteArray> snapshot(const platform::PreferenceStore& store, const PathExists& exists = {});

// The managed values of a backup: the bytes are a property list (binary or XML) whose root is a
// dictionary marked with the format, and every managed key it holds has the type its store reads.
// Empty for anything else. Keys that are not managed are dropped.
std::optional<QVariantMap> parseBackup(const QByteArray& bytes);
bool isValidBackup(const QByteArray& bytes);

// Stores each managed key the backup holds and deletes every other managed key and the legacy
// keys, then flushes. A backup that fails parseBackup changes nothing (false).
bool applyBackup(platform::PreferenceStore& store, const QByteArray& bytes);
void applyBackupValues(platform::PreferenceStore& store, const QVariantMap& values);
// Every store then reads its defaults.
void clearManagedKeys(platform::PreferenceStore& store);

} // namespace kivo::library
