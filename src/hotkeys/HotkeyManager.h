#pragma once

// The owner of the hotkey banks, the mode, the chord key and the slots whose drive is away. It
// reads and writes them in the preference store, follows the selected collection, and keeps
// slots honest: files deleted on a connected drive leave their slots, files on a drive that is
// not connected stay and are flagged until the drive returns. Disk checks run in the background;
// everything else on the main thread.

#include "hotkeys/ChordTriads.h"
#include "hotkeys/HotkeyBanks.h"
#include "platform/Clock.h"

#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <vector>

namespace kivo::platform {
class PreferenceStore;
class VolumeMonitor;
} // namespace kivo::platform
namespace kivo::library {
class UserSettings;
}
namespace kivo::playback {
class AudioPlayerManager;
}

namespace kivo::hotkeys {

inline constexpr char kGlobalSetsKey[] = "hotkeyGlobalSets";
inline constexpr char kCollectionSetsKey[] = "hotkeyCollectionSets";
inline constexpr char kModeKey[] = "hotkeyMode";
inline constexpr char kChordPitchKey[] = "hotkeyChordPitch";
inline constexpr char kChordMinorKey[] = "hotkeyChordMinor";
inline constexpr char kLegacyHotkeysKey[] = "sampleHotkeys";

// A piece of work for a background thread; what it returns runs on the main thread after.
using HotkeyJob = std::function<std::function<void()>()>;

struct HotkeyManagerOptions {
    platform::Clock* clock = nullptr; // the system clock when null
    platform::VolumeMonitor* volumes = nullptr; // required
    std::function<bool(const std::string&)> exists; // the disk when empty
    // The shipped resources; the program's own when empty.
    std::function<std::optional<std::filesystem::path>()> resourceFolder;
    // Runs a job off the main thread (required; the application's task runner, tests run it in place).
    std::function<void(HotkeyJob)> background;
};

class HotkeyManager : public QObject {
    Q_OBJECT
    Q_PROPERTY(QStringList slotPaths READ slotPaths NOTIFY slotsChanged)
    Q_PROPERTY(QString mode READ modeText NOTIFY modeChanged)
    Q_PROPERTY(int chordPitchClass READ chordPitchClass NOTIFY chordKeyChanged)
    Q_PROPERTY(bool chordIsMinor READ chordIsMinor NOTIFY chordKeyChanged)
    Q_PROPERTY(QStringList missingSlotPaths READ missingSlotPathList NOTIFY missingSlotPathsChanged)
public:
    static constexpr double kFirstCheckDelay = 2.0;

    using Job = HotkeyJob;
    using Options = HotkeyManagerOptions;

    // `settings` may be null: then no collection is ever selected.
    HotkeyManager(platform::PreferenceStore& store, library::UserSettings* settings, Options options = {},
        QObject* parent = nullptr);
    ~HotkeyManager() override;

    const Bank& shownSlots() const { return m_slots; }
    QStringList slotPaths() const;
    HotkeyMode mode() const { return m_banks.mode; }
    QString modeText() const { return QString::fromStdString(m_banks.mode.text()); }
    int chordPitchClass() const { return m_chordPitchClass; }
    bool chordIsMinor() const { return m_chordIsMinor; }
    const std::vector<Triad>& chordTriads() const { return m_chordTriads; }
    const QSet<QString>& missingSlotPaths() const { return m_missingSlotPaths; }
    QStringList missingSlotPathList() const;
    const HotkeyBanks& banks() const { return m_banks; }
    std::optional<std::string> activeCollectionID() const { return m_banks.activeCollectionID; }

    void assign(const QString& path, int slot);
    void assignMany(const QStringList& paths, int startSlot, const std::function<void()>& completion = {});
    void clearSlot(int slot);
    void clearAll();
    // A folder moved or was relocated: slot files below it follow.
    void remapPaths(const QString& from, const QString& to);
    void setMode(HotkeyMode mode);
    void setChordKey(int pitchClass, bool isMinor);

    // The file a slot fires: a triad in chord mode, else the slot's file.
    std::optional<QString> slotFile(int slot) const;
    // "3" or "3  ·  Kick.wav", from the bank an assignment would fill.
    QString slotLabel(int slot) const;
    // Plays the slot's file from the start; false when the slot fires nothing.
    bool fire(int slot, playback::AudioPlayerManager& player) const;

    // After a workspace replaced the stored keys.
    void reloadFromStore();
    void refreshSlots();
    // Re-checks every slot's file (in the background) against the disk and the mounted drives.
    void refreshMissing();

signals:
    void slotsChanged();
    void modeChanged();
    void chordKeyChanged();
    void chordTriadsChanged();
    void missingSlotPathsChanged();

private:
    enum class Legacy { read, ignore };
    void readStore(Legacy legacy);
    void followSelectedCollection();
    void apply(int change);
    void saveBanks();
    void saveMode();
    void setSlots(const Bank& shown);
    void rebuildChordTriads();
    void run(Job job);
    void assertMainThread() const;

    platform::PreferenceStore& m_store;
    library::UserSettings* m_settings;
    Options m_options;
    platform::Clock& m_clock;

    HotkeyBanks m_banks;
    Bank m_slots {};
    int m_chordPitchClass = 0;
    bool m_chordIsMinor = false;
    std::vector<Triad> m_chordTriads;
    QSet<QString> m_missingSlotPaths;
    quint64 m_chordRequest = 0;
    std::shared_ptr<platform::Clock::Timer> m_firstCheck;
};

} // namespace kivo::hotkeys
