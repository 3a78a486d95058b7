#pragma once

// The user's browser, playback and selection preferences and the collections list. Every
// stored field is read once when built and written under its key by the setter that changes
// it; the three sorting flags also post "UserSettingsSortingChanged". Main thread only.

#include "library/BookmarkGroup.h"
#include "music/KeySpelling.h"

#include <QObject>
#include <QString>
#include <QUuid>

#include <optional>
#include <vector>

namespace kivo::platform {
class PreferenceStore;
}

namespace kivo::library {

inline constexpr char kSortingChangedNotification[] = "UserSettingsSortingChanged";
inline constexpr char kPathsSyncedNotification[] = "UserSettingsPathsSynced";
// The MIDI preview offers this many sounds; a stored index outside them means the first.
inline constexpr int kMidiPlaybackSoundCount = 4;

class UserSettings : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isNamingGroup READ isNamingGroup WRITE setIsNamingGroup NOTIFY isNamingGroupChanged)
    Q_PROPERTY(int selectedTheme READ selectedTheme WRITE setSelectedTheme NOTIFY selectedThemeChanged)
    Q_PROPERTY(int selectedGroup READ selectedGroup WRITE setSelectedGroup NOTIFY selectedGroupChanged)
    Q_PROPERTY(kivo::library::BookmarkGroupList bookmarks READ bookmarks NOTIFY bookmarksChanged)
    // -1 when no root is selected.
    Q_PROPERTY(int selectedPathIndex READ selectedPathIndexOrNone NOTIFY selectedPathIndexChanged)
    Q_PROPERTY(float volume READ volume WRITE setVolume NOTIFY volumeChanged)
    Q_PROPERTY(bool midiCatchNotes READ midiCatchNotes WRITE setMidiCatchNotes NOTIFY midiCatchNotesChanged)
    Q_PROPERTY(
        int midiOctaveShift READ midiOctaveShift WRITE setMidiOctaveShift NOTIFY midiOctaveShiftChanged)
    Q_PROPERTY(int midiInstrument READ midiInstrument WRITE setMidiInstrument NOTIFY midiInstrumentChanged)
    Q_PROPERTY(bool separateMIDIFiles READ separateMIDIFiles WRITE setSeparateMIDIFiles NOTIFY
            separateMIDIFilesChanged)
    Q_PROPERTY(bool sortByBPM READ sortByBPM WRITE setSortByBPM NOTIFY sortByBPMChanged)
    Q_PROPERTY(bool sortRomanNumerals READ sortRomanNumerals WRITE setSortRomanNumerals NOTIFY
            sortRomanNumeralsChanged)
    Q_PROPERTY(bool skipNestedSubfolders READ skipNestedSubfolders WRITE setSkipNestedSubfolders NOTIFY
            skipNestedSubfoldersChanged)
    Q_PROPERTY(bool hideFileExtensions READ hideFileExtensions WRITE setHideFileExtensions NOTIFY
            hideFileExtensionsChanged)
    Q_PROPERTY(bool autoPauseWhenUnfocused READ autoPauseWhenUnfocused WRITE setAutoPauseWhenUnfocused NOTIFY
            autoPauseWhenUnfocusedChanged)
    // The raw spelling value: 0 auto, 1 flat, 2 sharp.
    Q_PROPERTY(int keySpelling READ keySpellingValue NOTIFY keySpellingChanged)
    Q_PROPERTY(bool isSynced READ isSynced NOTIFY isSyncedChanged)
    Q_PROPERTY(bool isSyncing READ isSyncing WRITE setIsSyncing NOTIFY isSyncingChanged)
    Q_PROPERTY(bool startSyncAnimation READ startSyncAnimation WRITE setStartSyncAnimation NOTIFY
            startSyncAnimationChanged)
    Q_PROPERTY(double syncAnimationProgress READ syncAnimationProgress WRITE setSyncAnimationProgress NOTIFY
            syncAnimationProgressChanged)

public:
    // Reads every stored field and loads the collections (repairing and rewriting them) from
    // `store`, then opens the roots' folder access.
    explicit UserSettings(platform::PreferenceStore& store, QObject* parent = nullptr);
    ~UserSettings() override;

    platform::PreferenceStore& store() const { return m_store; }

    bool isNamingGroup() const { return m_isNamingGroup; }
    int selectedTheme() const { return m_selectedTheme; }
    int selectedGroup() const { return m_selectedGroup; }
    const BookmarkGroupList& bookmarks() const { return m_bookmarks; }
    const BookmarkGroupList& syncedBookmarks() const { return m_syncedBookmarks; }
    std::optional<int> selectedPathIndex() const { return m_selectedPathIndex; }
    int selectedPathIndexOrNone() const { return m_selectedPathIndex.value_or(-1); }
    float volume() const { return m_volume; }
    bool midiCatchNotes() const { return m_midiCatchNotes; }
    int midiOctaveShift() const { return m_midiOctaveShift; }
    int midiInstrument() const { return m_midiInstrument; }
    bool separateMIDIFiles() const { return m_separateMIDIFiles; }
    bool sortByBPM() const { return m_sortByBPM; }
    bool sortRomanNumerals() const { return m_sortRomanNumerals; }
    bool skipNestedSubfolders() const { return m_skipNestedSubfolders; }
    bool hideFileExtensions() const { return m_hideFileExtensions; }
    bool autoPauseWhenUnfocused() const { return m_autoPauseWhenUnfocused; }
    music::KeySpelling keySpelling() const { return m_keySpelling; }
    int keySpellingValue() const { return music::rawValue(m_keySpelling); }
    bool isSynced() const { return m_isSynced; }
    bool isSyncing() const { return m_isSyncing; }
    bool startSyncAnimation() const { return m_startSyncAnimation; }
    double syncAnimationProgress() const { return m_syncAnimationProgress; }

    void setIsNamingGroup(bool value);
    void setSelectedTheme(int value);
    void setSelectedGroup(int value);
    void setSelectedPathIndex(std::optional<int> value);
    void setVolume(float value);
    void setMidiCatchNotes(bool value);
    void setMidiOctaveShift(int value);
    // An index outside the offered sounds selects the first.
    void setMidiInstrument(int value);
    void setSeparateMIDIFiles(bool value);
    void setSortByBPM(bool value);
    void setSortRomanNumerals(bool value);
    void setSkipNestedSubfolders(bool value);
    void setHideFileExtensions(bool value);
    void setAutoPauseWhenUnfocused(bool value);
    void setKeySpelling(music::KeySpelling value);
    void setIsSyncing(bool value);
    void setStartSyncAnimation(bool value);
    void setSyncAnimationProgress(double value);

    // Re-reads every field and the collections after a workspace was applied to the store.
    void reloadFromStore();
    // Every browser and playback preference back to its default; keeps the collections, the
    // selection and the volume.
    void restoreDefaultPreferences();
    // The single default collection, no selection, default volume and preferences.
    void factoryReset();

    // Collections.
    void addGroup(const QString& name, const QString& colorHex);
    void removeGroup(int index);
    void renameGroup(int index, const QString& name);
    void setGroupColor(int index, const QString& colorHex);
    // Drag reordering: `destination` is the gap (0...count) the collection is dropped into.
    void moveGroup(const QUuid& id, int destination);
    // Adds `folderPath` as a root of collection `index` unless it already is one; true when added.
    bool addPath(const QString& folderPath, int index);
    // Moves the roots at `sourceOffsets` to land before the root that was at `destination`.
    void movePaths(int index, const std::vector<int>& sourceOffsets, int destination);
    // Removes a root of the selected collection.
    void removePath(int pathIndex);
    std::optional<QUuid> groupID(int index) const;
    bool hasAnyPaths() const;
    QList<QByteArray> selectedGroupPaths() const;
    // Replaces the whole list (a workspace being applied) and writes it.
    void setBookmarks(const BookmarkGroupList& groups);
    // A sync completed: the current list is what the index holds.
    void markSynced();
    // A cancelled import: removes from collection `index` the roots whose recorded paths are
    // among `paths`, writes the list, and returns the recorded paths of the removed roots.
    QStringList removeRootsWithStoredPaths(int index, const QStringList& paths);
    void refreshIsSynced() { recomputeIsSynced(); }
    // A root folder moved: every bookmark recording `oldPath`, in any collection, becomes
    // `bookmark`. Returns how many were replaced.
    int replaceRootBookmarks(const QString& oldPath, const QByteArray& bookmark);
    void startAccessingAllRoots();
    void stopAccessingAllRoots();

signals:
    void isNamingGroupChanged();
    void selectedThemeChanged();
    void selectedGroupChanged();
    void bookmarksChanged();
    void selectedPathIndexChanged();
    void volumeChanged();
    void midiCatchNotesChanged();
    void midiOctaveShiftChanged();
    void midiInstrumentChanged();
    void separateMIDIFilesChanged();
    void sortByBPMChanged();
    void sortRomanNumeralsChanged();
    void skipNestedSubfoldersChanged();
    void hideFileExtensionsChanged();
    void autoPauseWhenUnfocusedChanged();
    void keySpellingChanged();
    void isSyncedChanged();
    void isSyncingChanged();
    void startSyncAnimationChanged();
    void syncAnimationProgressChanged();
    // Queued after movePaths reordered a collection's roots.
    void groupPathsMoved(const QUuid& id);

private:
    enum class Repair { legacyNamesAndColors, none };

    void loadBookmarks(Repair repair);
    void clampSelectedGroup();
    void writeBookmarks();
    void setIsSynced(bool value);
    void recomputeIsSynced();
    void postSortingChanged();
    void writeBool(const char* key, bool value);
    void writeInt(const char* key, qint64 value);

    platform::PreferenceStore& m_store;

    bool m_isNamingGroup = false;
    int m_selectedTheme = 0;
    int m_selectedGroup = 0;
    BookmarkGroupList m_bookmarks;
    BookmarkGroupList m_syncedBookmarks;
    std::optional<int> m_selectedPathIndex;
    float m_volume = 0.5f;
    bool m_midiCatchNotes = true;
    int m_midiOctaveShift = 0;
    int m_midiInstrument = 0;
    bool m_separateMIDIFiles = true;
    bool m_sortByBPM = true;
    bool m_sortRomanNumerals = false;
    bool m_skipNestedSubfolders = false;
    bool m_hideFileExtensions = false;
    bool m_autoPauseWhenUnfocused = true;
    music::KeySpelling m_keySpelling = music::KeySpelling::automatic;
    bool m_isSynced = true;
    bool m_isSyncing = false;
    bool m_startSyncAnimation = false;
    double m_syncAnimationProgress = 0.0;
};

} // namespace kivo::library
