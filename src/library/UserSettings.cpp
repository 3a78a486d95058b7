#include "library/UserSettings.h"

#include "platform/MainThread.h"
#include "platform/NotificationCenter.h"
#include "platform/PreferenceStore.h"

#include <limits>

namespace kivo::library {

namespace {

constexpr char kSelectedTheme[] = "selectedTheme";
constexpr char kSelectedGroup[] = "selectedGroup";
constexpr char kSelectedPathIndex[] = "selectedPathIndex";
constexpr char kVolume[] = "volume";
constexpr char kMidiCatchNotes[] = "midiCatchNotes";
constexpr char kMidiOctaveShift[] = "midiOctaveShift";
constexpr char kMidiInstrument[] = "midiInstrument";
constexpr char kSeparateMIDIFiles[] = "separateMIDIFiles";
constexpr char kSortByBPM[] = "sortByBPM";
constexpr char kSortRomanNumerals[] = "sortRomanNumerals";
constexpr char kSkipNestedSubfolders[] = "skipNestedSubfolders";
constexpr char kHideFileExtensions[] = "hideFileExtensions";
constexpr char kAutoPauseWhenUnfocused[] = "autoPauseWhenUnfocused";
constexpr char kKeySpelling[] = "keySpelling";

constexpr float kDefaultVolume = 0.5f;

int validInstrument(qint64 value)
{
    return value >= 0 && value < kMidiPlaybackSoundCount ? int(value) : 0;
}

// Only an absent key (or one of another type) takes the default: a stored false stays false.
bool readBool(const platform::PreferenceStore& store, const char* key, bool fallback)
{
    return store.boolValue(QString::fromLatin1(key)).value_or(fallback);
}

std::optional<int> readOptionalInt(const platform::PreferenceStore& store, const char* key)
{
    const auto value = store.intValue(QString::fromLatin1(key));
    if (!value || *value < std::numeric_limits<int>::min() || *value > std::numeric_limits<int>::max())
        return std::nullopt;
    return int(*value);
}

int readInt(const platform::PreferenceStore& store, const char* key)
{
    return readOptionalInt(store, key).value_or(0);
}

struct StoredFields {
    int selectedTheme;
    int selectedGroup;
    std::optional<int> selectedPathIndex;
    float volume;
    bool midiCatchNotes;
    int midiOctaveShift;
    int midiInstrument;
    bool separateMIDIFiles;
    bool sortByBPM;
    bool sortRomanNumerals;
    bool skipNestedSubfolders;
    bool hideFileExtensions;
    bool autoPauseWhenUnfocused;
    music::KeySpelling keySpelling;
};

StoredFields readStoredFields(const platform::PreferenceStore& store)
{
    StoredFields f;
    f.selectedTheme = readInt(store, kSelectedTheme);
    f.selectedGroup = readInt(store, kSelectedGroup);
    f.selectedPathIndex = readOptionalInt(store, kSelectedPathIndex);
    f.volume = float(store.realValue(QString::fromLatin1(kVolume)).value_or(kDefaultVolume));
    f.midiCatchNotes = readBool(store, kMidiCatchNotes, true);
    f.midiOctaveShift = readInt(store, kMidiOctaveShift);
    f.midiInstrument = validInstrument(readInt(store, kMidiInstrument));
    f.separateMIDIFiles = readBool(store, kSeparateMIDIFiles, true);
    f.sortByBPM = readBool(store, kSortByBPM, true);
    f.sortRomanNumerals = readBool(store, kSortRomanNumerals, false);
    f.skipNestedSubfolders = readBool(store, kSkipNestedSubfolders, false);
    f.hideFileExtensions = readBool(store, kHideFileExtensions, false);
    f.autoPauseWhenUnfocused = readBool(store, kAutoPauseWhenUnfocused, true);
    f.keySpelling
        = music::keySpellingFromRaw(readInt(store, kKeySpelling)).value_or(music::KeySpelling::automatic);
    return f;
}

// Assigns and reports whether anything changed, so signals fire only on a real change.
template <typename T> bool assign(T& field, const T& value)
{
    if (field == value)
        return false;
    field = value;
    return true;
}

} // namespace

UserSettings::UserSettings(platform::PreferenceStore& store, QObject* parent)
    : QObject(parent)
    , m_store(store)
{
    const StoredFields f = readStoredFields(m_store);
    m_selectedTheme = f.selectedTheme;
    m_selectedGroup = f.selectedGroup;
    m_selectedPathIndex = f.selectedPathIndex;
    m_volume = f.volume;
    m_midiCatchNotes = f.midiCatchNotes;
    m_midiOctaveShift = f.midiOctaveShift;
    m_midiInstrument = f.midiInstrument;
    m_separateMIDIFiles = f.separateMIDIFiles;
    m_sortByBPM = f.sortByBPM;
    m_sortRomanNumerals = f.sortRomanNumerals;
    m_skipNestedSubfolders = f.skipNestedSubfolders;
    m_hideFileExtensions = f.hideFileExtensions;
    m_autoPauseWhenUnfocused = f.autoPauseWhenUnfocused;
    m_keySpelling = f.keySpelling;
    loadBookmarks(Repair::legacyNamesAndColors);
}

UserSettings::~UserSettings() = default;

void UserSettings::writeBool(const char* key, bool value)
{
    m_store.setValue(QString::fromLatin1(key), value);
}

void UserSettings::writeInt(const char* key, qint64 value)
{
    m_store.setValue(QString::fromLatin1(key), value);
}

void UserSettings::postSortingChanged()
{
    platform::NotificationCenter::shared().post(QString::fromLatin1(kSortingChangedNotification));
}

void UserSettings::setIsNamingGroup(bool value)
{
    KIVO_MAIN_THREAD();
    if (assign(m_isNamingGroup, value))
        emit isNamingGroupChanged();
}

void UserSettings::setSelectedTheme(int value)
{
    KIVO_MAIN_THREAD();
    writeInt(kSelectedTheme, value);
    if (assign(m_selectedTheme, value))
        emit selectedThemeChanged();
}

void UserSettings::setSelectedGroup(int value)
{
    KIVO_MAIN_THREAD();
    writeInt(kSelectedGroup, value);
    if (assign(m_selectedGroup, value))
        emit selectedGroupChanged();
}

void UserSettings::setSelectedPathIndex(std::optional<int> value)
{
    KIVO_MAIN_THREAD();
    if (value)
        writeInt(kSelectedPathIndex, *value);
    else
        m_store.remove(QString::fromLatin1(kSelectedPathIndex));
    if (assign(m_selectedPathIndex, value))
        emit selectedPathIndexChanged();
}

void UserSettings::setVolume(float value)
{
    KIVO_MAIN_THREAD();
    m_store.setValue(QString::fromLatin1(kVolume), double(value));
    if (assign(m_volume, value))
        emit volumeChanged();
}

void UserSettings::setMidiCatchNotes(bool value)
{
    KIVO_MAIN_THREAD();
    writeBool(kMidiCatchNotes, value);
    if (assign(m_midiCatchNotes, value))
        emit midiCatchNotesChanged();
}

void UserSettings::setMidiOctaveShift(int value)
{
    KIVO_MAIN_THREAD();
    writeInt(kMidiOctaveShift, value);
    if (assign(m_midiOctaveShift, value))
        emit midiOctaveShiftChanged();
}

void UserSettings::setMidiInstrument(int value)
{
    KIVO_MAIN_THREAD();
    value = validInstrument(value);
    writeInt(kMidiInstrument, value);
    if (assign(m_midiInstrument, value))
        emit midiInstrumentChanged();
}

// The sorting flags post on every set, even of the current value: a reset re-sorts the
// browser once per flag whatever the flags were before.
void UserSettings::setSeparateMIDIFiles(bool value)
{
    KIVO_MAIN_THREAD();
    writeBool(kSeparateMIDIFiles, value);
    if (assign(m_separateMIDIFiles, value))
        emit separateMIDIFilesChanged();
    postSortingChanged();
}

void UserSettings::setSortByBPM(bool value)
{
    KIVO_MAIN_THREAD();
    writeBool(kSortByBPM, value);
    if (assign(m_sortByBPM, value))
        emit sortByBPMChanged();
    postSortingChanged();
}

void UserSettings::setSortRomanNumerals(bool value)
{
    KIVO_MAIN_THREAD();
    writeBool(kSortRomanNumerals, value);
    if (assign(m_sortRomanNumerals, value))
        emit sortRomanNumeralsChanged();
    postSortingChanged();
}

void UserSettings::setSkipNestedSubfolders(bool value)
{
    KIVO_MAIN_THREAD();
    writeBool(kSkipNestedSubfolders, value);
    if (assign(m_skipNestedSubfolders, value))
        emit skipNestedSubfoldersChanged();
}

void UserSettings::setHideFileExtensions(bool value)
{
    KIVO_MAIN_THREAD();
    writeBool(kHideFileExtensions, value);
    if (assign(m_hideFileExtensions, value))
        emit hideFileExtensionsChanged();
}

void UserSettings::setAutoPauseWhenUnfocused(bool value)
{
    KIVO_MAIN_THREAD();
    writeBool(kAutoPauseWhenUnfocused, value);
    if (assign(m_autoPauseWhenUnfocused, value))
        emit autoPauseWhenUnfocusedChanged();
}

void UserSettings::setKeySpelling(music::KeySpelling value)
{
    KIVO_MAIN_THREAD();
    writeInt(kKeySpelling, music::rawValue(value));
    if (assign(m_keySpelling, value))
        emit keySpellingChanged();
}

void UserSettings::setIsSynced(bool value)
{
    if (assign(m_isSynced, value))
        emit isSyncedChanged();
}

void UserSettings::setIsSyncing(bool value)
{
    KIVO_MAIN_THREAD();
    if (assign(m_isSyncing, value))
        emit isSyncingChanged();
}

void UserSettings::setStartSyncAnimation(bool value)
{
    KIVO_MAIN_THREAD();
    if (assign(m_startSyncAnimation, value))
        emit startSyncAnimationChanged();
}

void UserSettings::setSyncAnimationProgress(double value)
{
    KIVO_MAIN_THREAD();
    if (assign(m_syncAnimationProgress, value))
        emit syncAnimationProgressChanged();
}

void UserSettings::reloadFromStore()
{
    KIVO_MAIN_THREAD();
    stopAccessingAllRoots();

    // Read everything before the first setter writes its key back.
    const StoredFields f = readStoredFields(m_store);
    setSelectedTheme(f.selectedTheme);
    setSelectedGroup(f.selectedGroup);
    setSelectedPathIndex(f.selectedPathIndex);
    setVolume(f.volume);
    setMidiCatchNotes(f.midiCatchNotes);
    setMidiOctaveShift(f.midiOctaveShift);
    setMidiInstrument(f.midiInstrument);
    setSeparateMIDIFiles(f.separateMIDIFiles);
    setSortByBPM(f.sortByBPM);
    setSortRomanNumerals(f.sortRomanNumerals);
    setSkipNestedSubfolders(f.skipNestedSubfolders);
    setHideFileExtensions(f.hideFileExtensions);
    setAutoPauseWhenUnfocused(f.autoPauseWhenUnfocused);
    setKeySpelling(f.keySpelling);

    loadBookmarks(Repair::none);
}

void UserSettings::restoreDefaultPreferences()
{
    KIVO_MAIN_THREAD();
    setSelectedTheme(0);
    setHideFileExtensions(false);
    setSkipNestedSubfolders(false);
    setSeparateMIDIFiles(true);
    setSortByBPM(true);
    setSortRomanNumerals(false);
    setKeySpelling(music::KeySpelling::automatic);
    setMidiInstrument(0);
    setMidiOctaveShift(0);
    setMidiCatchNotes(true);
    setAutoPauseWhenUnfocused(true);
}

void UserSettings::factoryReset()
{
    KIVO_MAIN_THREAD();
    stopAccessingAllRoots();
    setBookmarks({ defaultBookmarkGroup() });
    setSelectedGroup(0);
    setSelectedPathIndex(std::nullopt);
    setVolume(kDefaultVolume);
    restoreDefaultPreferences();
    setIsSynced(false);
}

} // namespace kivo::library
