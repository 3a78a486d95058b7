#pragma once

// Connects the window to the rest of the program: the collections of the user settings, adding
// folders (screened by the root rules) and importing them through the sync driver, the sync's
// progress and its cancellation, the index for the tree and the search, and the window's preview
// player.

#include "app/CollectionBar.h"
#include "organise/BrowserFileOrder.h"
#include "organise/SharedSearchState.h"
#include "playback/AudioPlayerManager.h"

#include <QDialog>
#include <QObject>
#include <QPointer>

class QKeyEvent;
#include <QTimer>

#include <memory>
#include <vector>

namespace kivo::library {
class LibraryIndexManager;
class MissingFileTracker;
class SyncSettings;
class UserSettings;
struct SyncIssue;
} // namespace kivo::library
namespace kivo::platform {
class PreferenceStore;
} // namespace kivo::platform
namespace kivo::hotkeys {
class HotkeyManager;
class TapTempoManager;
} // namespace kivo::hotkeys
namespace kivo::index {
class MetadataOverrideStore;
}
namespace kivo::organise {
class HiddenFileManager;
class TagStore;
} // namespace kivo::organise

namespace kivo::platform {
class TaskRunner;
}

namespace kivo::app {

class AnalysisService;
class MainWindow;
class OutputDevices;
class WaveformLoader;

// The tree's and the result list's order options, as the settings hold them now.
organise::SortingOptions sortingOptions(const library::UserSettings& settings);
// The collections as the window shows them: names, colours and resolved root folders.
std::vector<CollectionEntry> collectionEntries(const library::UserSettings& settings);

// What the browser works with. The application owns all of it, and it outlives the controller.
struct BrowserContext {
    platform::TaskRunner& tasks;
    library::UserSettings& settings;
    library::SyncSettings& syncSettings;
    library::LibraryIndexManager& library;
    library::MissingFileTracker& tracker;
    hotkeys::HotkeyManager& hotkeys;
    hotkeys::TapTempoManager& tapTempo;
    index::MetadataOverrideStore& overrides;
    organise::TagStore& tags;
    organise::HiddenFileManager& hidden;
};

class BrowserController : public QObject {
    Q_OBJECT
public:
    // `player` names the engines the preview player uses; its stored settings and the tracker are
    // filled in here.
    BrowserController(
        BrowserContext context, playback::AudioPlayerManager::Options player, QObject* parent = nullptr);
    ~BrowserController() override;

    // Files' own audio is heard after every sync and quick refresh that changed the library, and the
    // window shows and filters by what it says. Null: none.
    void setAnalysis(AnalysisService* analysis);
    // The output device choice the settings window offers; its notices show in the preview strip
    // and a move to another rate reopens the previewed file. Null: the settings offer none.
    void setOutputDevices(OutputDevices* output);

    MainWindow* window() const { return m_window.get(); }
    playback::AudioPlayerManager& player() { return *m_player; }
    const WaveformLoader& waveform() const { return *m_waveform; }

    // What the window's requests do; public so tests can make them without pop-ups.
    void addFolders(const QStringList& paths);
    // Edit → Settings…: the settings window on this browser's objects.
    void openSettings();
    // An empty name gives "Collection" and the collection's number.
    void addCollection(const QString& name = {});
    void deleteCollection(int index);
    // Takes a root folder out of the selected collection and its files out of the index.
    void removeRoot(const QString& rootPath);
    // A click at `fraction` of the preview: plays from there, starting playback when it is paused.
    void seekFromPreview(double fraction);
    // The hotkey keys (1-9, Alt+1-9, T); true when the key was one of them.
    bool handleHotkeyKey(const QKeyEvent& event);
    void fireSlot(int slot);
    // "Locate" on a slot: shows the file in the tree, in whichever collection holds it.
    void locateFile(const QString& path);
    // Stores the window's size, place and maximised state (at quit) for the next start.
    void saveWindowState();

private:
    void connectWindow();
    void connectLibrary();
    void connectPlayer();
    void connectProject();
    void connectHotkeys();
    void connectHidden();
    // Missing roots, drives and files: the issue pop-up, relocation, removal, drive events, and the
    // path rewriting of every store when a root moves.
    void connectMissing();
    void showIssues();
    void relocateIssue(const library::SyncIssue& issue);
    void removeMissingRoot(const QString& path);
    void remapOpenFolders(const QString& from, const QString& to);
    void publish();
    void showPlaybackTime();
    void loadMIDIRegion(const QString& path);
    void showSyncState();
    void showProgress();
    void hideSyncStatusSoon();
    void applicationStateChanged(Qt::ApplicationState state);
    void restoreWindowState();
    void saveTreeMemory();
    static playback::ProjectSync storedProjectSync(const platform::PreferenceStore& store);
    void storeProjectSync(const playback::ProjectSync& project);
    playback::AudioPlayerManager::Options::MusicLookup musicLookup() const;

    platform::TaskRunner& m_tasks;
    library::UserSettings& m_settings;
    library::SyncSettings& m_syncSettings;
    library::LibraryIndexManager& m_library;
    hotkeys::HotkeyManager& m_hotkeys;
    hotkeys::TapTempoManager& m_tapTempo;
    index::MetadataOverrideStore& m_overrides;
    organise::TagStore& m_tags;
    organise::HiddenFileManager& m_hiddenFiles;
    // The filters outlive the window's panes; never persisted.
    organise::SharedSearchState m_searchState;
    playback::MIDIPreviewEngine* m_midiEngine = nullptr;
    std::unique_ptr<playback::AudioPlayerManager> m_player;
    std::unique_ptr<MainWindow> m_window;
    AnalysisService* m_analysis = nullptr;
    OutputDevices* m_output = nullptr;
    library::MissingFileTracker* m_tracker = nullptr;
    QPointer<QDialog> m_issuePopup;
    QTimer* m_refreshTimer = nullptr;
    WaveformLoader* m_waveform = nullptr;
    quint64 m_regionRequest = 0;
};

} // namespace kivo::app
