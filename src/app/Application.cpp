#include "app/Application.h"

#include "analysis/AnalysisStore.h"
#include "app/AnalysisService.h"
#include "app/BrowserController.h"
#include "app/MainWindow.h"
#include "app/OutputDevices.h"
#include "app/WorkspaceStores.h"
#include "app/WorkspacesMenu.h"
#include "platform/Clock.h"

#include <QFileInfo>

namespace kivo::app {

namespace {

library::LibraryIndexManagerOptions libraryOptions(platform::PreferenceStore& preferences,
    library::SyncSettings& syncSettings, library::MissingFileTracker& tracker)
{
    library::LibraryIndexManagerOptions options;
    options.tracker = &tracker;
    options.syncSettings = &syncSettings;
    options.removeLegacyPreferences = [&preferences] {
        preferences.remove(
            QString::fromLatin1(index::kLegacyCacheDataKey.data(), index::kLegacyCacheDataKey.size()));
        preferences.remove(QString::fromLatin1(
            index::kLegacyCacheLastUpdateKey.data(), index::kLegacyCacheLastUpdateKey.size()));
    };
    return options;
}

} // namespace

Application::Application()
    : m_preferences(platform::PreferenceStore::defaultFilePath())
    , m_settings(m_preferences)
    , m_syncSettings(m_preferences)
    , m_library(std::make_unique<library::LibraryIndexManager>(
          m_tasks, libraryOptions(m_preferences, m_syncSettings, m_tracker)))
    , m_overrides(m_preferences)
    , m_tags(m_preferences)
    , m_hidden(m_preferences)
    , m_audition(m_engine, platform::Clock::system(), &m_tasks)
    , m_midi(m_audition)
{
    hotkeys::HotkeyManager::Options keys;
    keys.volumes = &m_volumes;
    keys.background = [this](hotkeys::HotkeyJob job) {
        m_tasks.run(m_hotkeys.get(), std::move(job), [](std::function<void()> done) {
            if (done)
                done();
        });
    };
    m_hotkeys = std::make_unique<hotkeys::HotkeyManager>(m_preferences, &m_settings, std::move(keys));

    // After every store has read (and repaired) its keys: on the first run they become Workspace 1.
    library::WorkspaceManagerOptions workspaces;
    workspaces.background = [this](library::WorkspaceJob job) {
        m_tasks.run(m_workspaces.get(), std::move(job), [](std::function<void()> done) {
            if (done)
                done();
        });
    };
    workspaces.reloadStores = [this] {
        WorkspaceStores { m_settings, m_syncSettings, m_hidden, m_overrides, m_tags, *m_hotkeys }.reload();
    };
    workspaces.resetMissingTracker = [this] { m_tracker.reset(); };
    workspaces.rebuildIndex = [this] { m_library->clearAndRebuild(m_settings, false); };
    m_workspaces = std::make_unique<library::WorkspaceManager>(m_preferences, std::move(workspaces));
    m_workspaces->setIndexBusy(m_library->isInitializing());
    QObject::connect(m_library.get(), &library::LibraryIndexManager::isInitializingChanged,
        m_workspaces.get(), [this] { m_workspaces->setIndexBusy(m_library->isInitializing()); });

    // The engine opens the remembered output device when it first starts.
    m_output = std::make_unique<OutputDevices>(m_tasks, m_preferences, m_engine);
    QObject::connect(m_output.get(), &OutputDevices::rateChanged, m_output.get(),
        [this] { m_audition.engineRateChanged(); });

    playback::AudioPlayerManager::Options player;
    player.engine = &m_engine;
    player.midiEngine = &m_midi;
    m_browser = std::make_unique<BrowserController>(
        BrowserContext { m_tasks, m_settings, m_syncSettings, *m_library, m_tracker, *m_hotkeys, m_tapTempo,
            m_overrides, m_tags, m_hidden },
        std::move(player));
    m_workspacesMenu = new WorkspacesMenu(*m_workspaces, *m_browser->window());
    m_analysis = std::make_unique<AnalysisService>(
        m_tasks, analysis::AnalysisStore::pathBeside(m_library->store().cacheFilePath()));
    m_browser->setAnalysis(m_analysis.get());
    m_browser->setOutputDevices(m_output.get());

    // Drives come and go: their roots are marked at once, and refreshed when they are back.
    library::LibraryIndexManager* driver = m_library.get();
    QObject::connect(&m_volumes, &platform::VolumeMonitor::volumeUnmounted, driver,
        [driver](const QString& volume) { driver->volumeUnmounted(volume); });
    QObject::connect(&m_volumes, &platform::VolumeMonitor::volumeMounted, driver,
        [this, driver](const QString& volume) { driver->volumeMounted(m_settings, volume); });
}

void Application::openFiles(const QStringList& paths)
{
    for (const QString& path : paths)
        if (path.endsWith(QStringLiteral(".kivo"), Qt::CaseInsensitive))
            m_workspacesMenu->importFile(QFileInfo(path).absoluteFilePath(), true);
}

Application::~Application()
{
    prepareToQuit();
    // The browser goes before the managers it points to; the engine's output stops with it.
    m_browser.reset();
    m_output.reset();
    m_analysis.reset();
    m_workspaces.reset();
    m_hotkeys.reset();
    m_library.reset();
}

bool Application::prepareToQuit()
{
    if (m_browser)
        m_browser->player().stop();
    if (m_library)
        m_library->cancelSync();
    const bool settled = m_tasks.shutdown();
    m_preferences.flush();
    return settled;
}

} // namespace kivo::app
