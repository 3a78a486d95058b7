#pragma once

// The words of the collection and settings pop-ups and of the settings window, kept beside
// the operations they confirm so the window only lays them out.

#include <QString>
#include <QStringList>

namespace kivo::library::texts {

// Deleting a collection.
inline QString deleteCollectionTitle(const QString& name)
{
    return QStringLiteral("Delete \"") + name + QStringLiteral("\"?");
}
inline QString deleteCollectionText(qsizetype rootCount)
{
    return QStringLiteral("This will remove the entire collection including ") + QString::number(rootCount)
        + QStringLiteral(" folder path") + (rootCount == 1 ? QString() : QStringLiteral("s"))
        + QStringLiteral(" and user made adjustments.");
}
inline constexpr char kCancelButton[] = "Cancel";
inline constexpr char kDeleteButton[] = "Delete";
inline constexpr char kDeleteButtonColor[] = "F07676";

// The two reset commands.
inline constexpr char kDefaultSettingsButton[] = "Default Settings";
inline constexpr char kDefaultSettingsTitle[] = "Restore default settings?";
inline constexpr char kDefaultSettingsText[]
    = "This resets every setting to its default. Your collections and folders are kept.";
inline constexpr char kFactoryResetButton[] = "Factory Reset";
inline constexpr char kFactoryResetTitle[] = "Factory reset?";
inline constexpr char kFactoryResetText[]
    = "This resets all settings and removes all collections and folder paths. This cannot be undone.";

// Settings window: sections and the label of each control.
inline constexpr char kBrowserSection[] = "Browser";
inline constexpr char kHideFileExtensionsLabel[] = "Hide file extensions";
inline constexpr char kSkipNestedSubfoldersLabel[] = "Auto-skip nested subfolders";
inline constexpr char kSeparateMIDIFilesLabel[] = "Force MIDI files to the bottom";
inline constexpr char kSortByBPMLabel[] = "Sort BPM and force to the top";
inline constexpr char kSortRomanNumeralsLabel[] = "Sort roman numeral notation";
inline constexpr char kKeySpellingLabel[] = "Accidentals preference";
inline constexpr char kKeySpellingSharp[] = "Sharp";
inline constexpr char kKeySpellingFlat[] = "Flat";
inline constexpr char kKeySpellingAuto[] = "Auto";

inline constexpr char kPlaybackSection[] = "Playback";
inline constexpr char kMidiInstrumentLabel[] = "MIDI playback sound";
inline constexpr char kMidiOctaveShiftLabel[] = "MIDI octave shift";
inline constexpr char kMidiCatchNotesLabel[] = "MIDI catch mode";
inline constexpr char kAutoPauseWhenUnfocusedLabel[] = "Auto-pause when unfocused";

inline constexpr char kSyncingSection[] = "Syncing";
inline constexpr char kCheckDriveStateLabel[] = "Detect disconnected drives";
inline constexpr char kDetectMissingItemsLabel[] = "Detect missing root folders";
inline constexpr char kNotifyPathUpdatesLabel[] = "Detect path updates";
inline constexpr char kSyncNowButton[] = "Sync now";

inline constexpr char kThemeColorLabel[] = "Theme Color";

} // namespace kivo::library::texts
