#pragma once

// The one owner of everything that lives as long as the program: the task runner, the preference
// store and the stores on it, the library index, the audio and MIDI engines, and the browser. Built
// in main() once the QApplication exists; each part gets references to what it needs, so every
// "shared" manager is single because this makes one. Tests build their own parts instead.

#include "hotkeys/HotkeyManager.h"
#include "hotkeys/TapTempoManager.h"
#include "index/MetadataOverrideStore.h"
#include "library/LibraryIndexManager.h"
#include "library/MissingFileTracker.h"
#include "library/SyncSettings.h"
#include "library/UserSettings.h"
#include "library/WorkspaceManager.h"
#include "organise/HiddenFileManager.h"
#include "organise/TagStore.h"
#include "platform/PreferenceStore.h"
#include "platform/TaskRunner.h"
#include "platform/VolumeMonitor.h"
#include "playback/AudioEngine.h"
#include "playback/Audition.h"
#include "playback/AuditionPreviewEngine.h"

#include <memory>

namespace kivo::app {

class AnalysisService;
class BrowserController;
class OutputDevices;
class WorkspacesMenu;

class Application {
public:
    Application();
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    BrowserController& browser() { return *m_browser; }
    platform::TaskRunner& tasks() { return m_tasks; }
    library::WorkspaceManager& workspaces() { return *m_workspaces; }

    // The files given on the command line: each ".kivo" file is imported as a workspace (once the
    // sync running at start-up is done). Call after the window is shown.
    void openFiles(const QStringList& paths);

    // When the event loop has ended: stops the preview, cancels running work and waits for it
    // within a bound, and writes the preferences. False when some work is still blocked in the
    // kernel (a stalled mount): the caller then leaves without waiting for it.
    bool prepareToQuit();

private:
    // Declared in the order they are built; destroyed in reverse.
    platform::TaskRunner m_tasks;
    platform::PreferenceStore m_preferences;
    library::UserSettings m_settings;
    library::SyncSettings m_syncSettings;
    library::MissingFileTracker m_tracker;
    platform::VolumeMonitor m_volumes;
    std::unique_ptr<library::LibraryIndexManager> m_library;
    std::unique_ptr<hotkeys::HotkeyManager> m_hotkeys;
    hotkeys::TapTempoManager m_tapTempo;
    index::MetadataOverrideStore m_overrides;
    organise::TagStore m_tags;
    organise::HiddenFileManager m_hidden;
    std::unique_ptr<library::WorkspaceManager> m_workspaces;
    playback::AudioEngine m_engine;
    playback::Audition m_audition;
    playback::AuditionPreviewEngine m_midi;
    std::unique_ptr<OutputDevices> m_output;
    std::unique_ptr<BrowserController> m_browser;
    std::unique_ptr<AnalysisService> m_analysis;
    WorkspacesMenu* m_workspacesMenu = nullptr; // owned by the window
};

} // namespace kivo::app
