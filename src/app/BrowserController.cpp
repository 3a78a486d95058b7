#include "app/BrowserController.h"

#include "app/AnalysisService.h"
#include "app/HotkeyBar.h"
#include "app/LibraryAccess.h"
#include "app/MIDIRegion.h"
#include "app/MainWindow.h"
#include "app/OutputDevices.h"
#include "app/PreviewStrip.h"
#include "app/SeekBar.h"
#include "app/SettingsWindow.h"
#include "app/ThemePalette.h"
#include "app/WaveformLoader.h"
#include "hotkeys/HotkeyManager.h"
#include "hotkeys/KeyboardMap.h"
#include "hotkeys/TapTempoManager.h"
#include "index/IndexRecords.h"
#include "index/MetadataOverrideStore.h"
#include "library/BookmarkGroup.h"
#include "library/LibraryIndexManager.h"
#include "library/MissingFileTracker.h"
#include "library/RootEligibility.h"
#include "library/SyncPlan.h"
#include "library/UserSettings.h"
#include "organise/FolderContents.h"
#include "organise/HiddenFileManager.h"
#include "organise/TagStore.h"
#include "platform/FolderBookmark.h"
#include "platform/NotificationCenter.h"
#include "platform/PreferenceStore.h"
#include "platform/TaskRunner.h"

#include <QApplication>

#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QTimer>
#include <algorithm>

namespace kivo::app {

namespace {
// How long "Sync completed" stays up before the strip goes.
constexpr int kCompletedLingerMs = 1500;
// The window as it was left; keys of the window's own, not part of any workspace.
constexpr char kWindowGeometryKey[] = "browserWindowGeometry";
constexpr char kOpenFoldersKey[] = "browserOpenFolders";
constexpr char kFocusedRowsKey[] = "browserFocusedRows";
} // namespace

organise::SortingOptions sortingOptions(const library::UserSettings& settings)
{
    organise::SortingOptions sorting;
    sorting.separateMIDIFiles = settings.separateMIDIFiles();
    sorting.sortByBPM = settings.sortByBPM();
    sorting.sortRomanNumerals = settings.sortRomanNumerals();
    return sorting;
}

std::vector<CollectionEntry> collectionEntries(const library::UserSettings& settings)
{
    std::vector<CollectionEntry> out;
    for (const auto& group : settings.bookmarks()) {
        CollectionEntry c { library::canonicalIdText(group.id), group.name, group.colorHex, {} };
        for (const QByteArray& bookmark : group.paths) {
            // The recorded path, without asking the disk (a stalled share would hold the window up
            // at every change of the collections); a folder that is gone is shown as recorded and the
            // missing-root check speaks about it.
            if (const auto stored = platform::FolderBookmark::storedPath(bookmark))
                c.rootPaths << *stored;
        }
        out.push_back(std::move(c));
    }
    return out;
}

BrowserController::BrowserController(
    BrowserContext context, playback::AudioPlayerManager::Options player, QObject* parent)
    : QObject(parent)
    , m_tasks(context.tasks)
    , m_settings(context.settings)
    , m_syncSettings(context.syncSettings)
    , m_library(context.library)
    , m_hotkeys(context.hotkeys)
    , m_tapTempo(context.tapTempo)
    , m_overrides(context.overrides)
    , m_tags(context.tags)
    , m_hiddenFiles(context.hidden)
    , m_midiEngine(player.midiEngine)
{
    library::UserSettings& settings = m_settings;
    player.volume = settings.volume();
    player.autoPauseWhenUnfocused = settings.autoPauseWhenUnfocused();
    player.midiCatchNotes = settings.midiCatchNotes();
    player.midiOctaveShift = settings.midiOctaveShift();
    player.midiInstrument = settings.midiInstrument();
    player.storeVolume = [s = &settings](float v) { s->setVolume(v); };
    library::MissingFileTracker& tracker = context.tracker;
    player.tracker = &tracker;
    player.tasks = &m_tasks;
    player.project = storedProjectSync(settings.store());
    player.musicLookup = [this] { return musicLookup(); };
    m_player = std::make_unique<playback::AudioPlayerManager>(std::move(player));

    WindowServices services;
    // Reads and searches run on other threads and may still be running when the window and the
    // library go: they hold the store itself.
    std::shared_ptr<index::CacheIndexStore> store = m_library.sharedStore();
    services.loadFolder
        = [store](const std::string& path) { return organise::indexFolderContents(*store, path); };
    services.makeSearch = [this, store, &tracker](organise::SearchRequest request) {
        // The search thread gets copies of the marks and of the missing paths.
        organise::HiddenView hidden = m_hiddenFiles.view();
        hidden.isMissing = [missing = tracker.missingPaths()](const std::string& path) {
            return missing.contains(QString::fromStdString(path));
        };
        return SearchJob(
            [job = indexSearchJob(store, std::move(request), sortingOptions(m_settings),
                 m_overrides.snapshot(), m_tags.maps(), m_analysis ? m_analysis->values() : nullptr),
                hidden = std::move(hidden)](const index::CancelHandle& cancel) {
                auto results = job(cancel);
                if (results) {
                    std::erase_if(results->files,
                        [&hidden](const index::FileInfo& f) { return !hidden.keepsResult(f.path); });
                    std::erase_if(results->folders,
                        [&hidden](const index::FolderHit& f) { return !hidden.keepsResult(f.path); });
                }
                return results;
            });
    };
    services.searchState = &m_searchState;
    services.hotkeyLabels = [this] {
        QStringList labels;
        for (int slot = 0; slot < hotkeys::kSlotCount; ++slot)
            labels << m_hotkeys.slotLabel(slot);
        return labels;
    };
    m_window = std::make_unique<MainWindow>(m_tasks, std::move(services));

    m_refreshTimer = new QTimer(this);
    m_refreshTimer->setInterval(int(m_library.quickRefreshMinInterval() * 1000) + 2000);
    connect(m_refreshTimer, &QTimer::timeout, this, [this] { m_library.quickRefresh(m_settings); });

    m_window->setMissingCheck(
        [&tracker](const std::string& path) { return tracker.whyMissing(QString::fromStdString(path)); });
    connect(&tracker, &library::MissingFileTracker::missingPathsChanged, m_window.get(),
        &MainWindow::missingChanged);

    m_window->setOrganiseStores(&m_overrides, &m_tags);
    m_hiddenFiles.setMissingCheck(
        [&tracker](const std::string& path) { return tracker.isMissing(QString::fromStdString(path)); });
    m_tracker = &tracker;
    connectHidden();
    connectMissing();
    connectWindow();
    connectLibrary();
    connectPlayer();
    connectProject();
    connectHotkeys();
    restoreWindowState();
    publish();
}

void BrowserController::restoreWindowState()
{
    platform::PreferenceStore& store = m_settings.store();
    if (const auto geometry = store.dataValue(QString::fromLatin1(kWindowGeometryKey)))
        m_window->restoreGeometry(*geometry);
    TreeMemory memory;
    for (const auto& [id, paths] :
        store.dictValue(QString::fromLatin1(kOpenFoldersKey)).value_or(QVariantMap()).asKeyValueRange())
        memory.openFolders[id] = paths.toStringList();
    for (const auto& [id, path] :
        store.dictValue(QString::fromLatin1(kFocusedRowsKey)).value_or(QVariantMap()).asKeyValueRange())
        memory.focusedRow[id] = path.toString();
    m_window->restoreTreeMemory(std::move(memory));
    connect(m_window.get(), &MainWindow::treeMemoryChanged, this, &BrowserController::saveTreeMemory);
}

void BrowserController::saveTreeMemory()
{
    QVariantMap open;
    QVariantMap focused;
    for (const auto& [id, paths] : m_window->treeMemory().openFolders)
        if (!paths.isEmpty())
            open.insert(id, QVariant(paths).toList()); // an array of strings in the store
    for (const auto& [id, path] : m_window->treeMemory().focusedRow)
        focused.insert(id, path);
    m_settings.store().setValue(QString::fromLatin1(kOpenFoldersKey), open);
    m_settings.store().setValue(QString::fromLatin1(kFocusedRowsKey), focused);
}

void BrowserController::saveWindowState()
{
    m_settings.store().setValue(QString::fromLatin1(kWindowGeometryKey), m_window->saveGeometry());
}

void BrowserController::setOutputDevices(OutputDevices* output)
{
    if (m_output)
        disconnect(m_output, nullptr, this, nullptr);
    m_output = output;
    if (!output)
        return;
    auto notice
        = [this] { m_window->previewStrip()->setNotice(QString::fromStdString(m_output->status().message)); };
    notice();
    connect(output, &OutputDevices::statusChanged, this, notice);
    connect(output, &OutputDevices::rateChanged, this, [this] { m_player->outputRateChanged(); });
}

void BrowserController::setAnalysis(AnalysisService* analysis)
{
    if (m_analysis) {
        disconnect(&m_library, nullptr, m_analysis, nullptr);
        disconnect(&m_overrides, nullptr, m_analysis, nullptr);
    }
    m_analysis = analysis;
    m_window->setAnalysis(analysis);
    if (!analysis)
        return;
    auto giveOverrides = [this] { m_analysis->setOverrides(m_overrides.snapshot()); };
    connect(&m_overrides, &index::MetadataOverrideStore::changed, analysis, giveOverrides);
    giveOverrides();
    auto listFiles = [this] { m_analysis->libraryChanged(m_library.store().current()); };
    connect(&m_library, &library::LibraryIndexManager::cacheLoaded, analysis, listFiles);
    connect(&m_library, &library::LibraryIndexManager::syncFinished, analysis, listFiles);
    connect(
        &m_library, &library::LibraryIndexManager::quickRefreshFinished, analysis, [listFiles](bool changed) {
            if (changed)
                listFiles();
        });
    listFiles();
}

BrowserController::~BrowserController()
{
    m_player->stop();
    m_window.reset();
}

void BrowserController::connectWindow()
{
    MainWindow* w = m_window.get();
    connect(w, &MainWindow::collectionSelected, this, [this](int i) { m_settings.setSelectedGroup(i); });
    connect(
        w, &MainWindow::addCollectionRequested, this, [this](const QString& name) { addCollection(name); });
    connect(w, &MainWindow::renameCollectionRequested, this,
        [this](int i, const QString& name) { m_settings.renameGroup(i, name); });
    connect(w, &MainWindow::deleteCollectionConfirmed, this, &BrowserController::deleteCollection);
    connect(w, &MainWindow::moveCollectionRequested, this, [this](const QString& id, int destination) {
        m_settings.moveGroup(QUuid::fromString(id), destination);
    });
    connect(w, &MainWindow::addFoldersRequested, this, &BrowserController::addFolders);
    connect(w, &MainWindow::removeRootRequested, this, &BrowserController::removeRoot);
    connect(w, &MainWindow::moveRootRequested, this, [this](int source, int destination) {
        m_settings.movePaths(m_settings.selectedGroup(), { source }, destination);
    });
    connect(w, &MainWindow::firstShown, this, [this] { m_library.windowDidAppear(m_settings); });
    connect(w, &MainWindow::cancelSyncRequested, this, [this] { m_library.cancelSync(); });
    connect(w, &MainWindow::resyncRequested, this, [this] { m_library.syncNow(m_settings); });
    connect(w, &MainWindow::settingsRequested, this, &BrowserController::openSettings);

    // The player reports progress only while it plays; a load or a jump shows its time at once.
    // Only a single file loads; a folder row (or several rows) leaves the preview as it is.
    connect(w, &MainWindow::fileSelected, this, [this](const QString& path) {
        if (path.isEmpty())
            return;
        m_player->load(QUrl::fromLocalFile(path));
        showPlaybackTime();
    });
    connect(w, &MainWindow::fileAhead, this,
        [this](const QString& path) { m_player->prepareAhead(QUrl::fromLocalFile(path)); });
    connect(w, &MainWindow::playRequested, this, [this](const QString& path) {
        m_player->play(QUrl::fromLocalFile(path));
        showPlaybackTime();
    });
    connect(w, &MainWindow::togglePlayPauseRequested, this, [this] { m_player->togglePlayPause(); });
    connect(w, &MainWindow::skipRequested, this, [this](double seconds) {
        if (seconds >= 0)
            m_player->skipForward(seconds);
        else
            m_player->skipBackward(-seconds);
        showPlaybackTime();
    });
    connect(w, &MainWindow::seekRequested, this, &BrowserController::seekFromPreview);
    connect(w, &MainWindow::volumeEdited, this,
        [this](double p) { m_player->volumeControl().setPosition(float(p)); });
    // A reset or a workspace sets the stored volume: the knob (and what quitting stores) follows.
    connect(&m_settings, &library::UserSettings::volumeChanged, this, [this] {
        if (m_player->volumeControl().position() != m_settings.volume())
            m_player->volumeControl().setPosition(m_settings.volume());
    });

    CollectionBar* bar = w->collectionBar();
    connect(bar, &CollectionBar::colorChangeRequested, this,
        [this](int i, const QString& hex) { m_settings.setGroupColor(i, hex); });
    auto synced = [this, bar] { bar->setSynced(m_settings.isSynced()); };
    synced();
    connect(&m_settings, &library::UserSettings::isSyncedChanged, this, synced);
    connect(&m_settings, &library::UserSettings::startSyncAnimationChanged, this, [this, bar] {
        if (m_settings.startSyncAnimation())
            bar->pulse(themeColor(m_settings.selectedTheme()));
    });

    connect(&m_settings, &library::UserSettings::bookmarksChanged, this, &BrowserController::publish);
    connect(&m_settings, &library::UserSettings::selectedGroupChanged, this, &BrowserController::publish);
    auto presentation = [this] {
        organise::PresentationOptions options;
        options.sorting = sortingOptions(m_settings);
        options.hideFileExtensions = m_settings.hideFileExtensions();
        m_window->setPresentationOptions(options);
    };
    presentation();
    platform::NotificationCenter::shared().observe(QString::fromLatin1(library::kSortingChangedNotification),
        this, [presentation](const QVariantMap&) { presentation(); });
    connect(&m_settings, &library::UserSettings::hideFileExtensionsChanged, this, presentation);
    auto spelling = [this] { m_window->setKeySpelling(m_settings.keySpelling()); };
    spelling();
    connect(&m_settings, &library::UserSettings::keySpellingChanged, this, spelling);
    auto theme = [this] { m_window->previewStrip()->setThemeColor(themeColor(m_settings.selectedTheme())); };
    theme();
    connect(&m_settings, &library::UserSettings::selectedThemeChanged, this, theme);
    connect(&m_settings, &library::UserSettings::autoPauseWhenUnfocusedChanged, this,
        [this] { m_player->setAutoPauseWhenUnfocused(m_settings.autoPauseWhenUnfocused()); });
    connect(&m_settings, &library::UserSettings::midiCatchNotesChanged, this,
        [this] { m_player->setMidiCatchNotes(m_settings.midiCatchNotes()); });
    connect(&m_settings, &library::UserSettings::midiOctaveShiftChanged, this,
        [this] { m_player->setMidiOctaveShift(m_settings.midiOctaveShift()); });
    connect(&m_settings, &library::UserSettings::midiInstrumentChanged, this,
        [this] { m_player->setMidiInstrument(m_settings.midiInstrument()); });
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        connect(app, &QGuiApplication::applicationStateChanged, this,
            &BrowserController::applicationStateChanged);
        connect(app, &QCoreApplication::aboutToQuit, this, [this] {
            m_player->applicationWillTerminate();
            saveWindowState();
            m_settings.store().flush();
        });
    }
}

void BrowserController::connectLibrary()
{
    using library::LibraryIndexManager;
    connect(&m_library, &LibraryIndexManager::isInitializingChanged, this, &BrowserController::showSyncState);
    connect(&m_library, &LibraryIndexManager::indexProgressChanged, this, &BrowserController::showProgress);
    connect(&m_library, &LibraryIndexManager::canCancelSyncChanged, this, &BrowserController::showProgress);
    connect(&m_library, &LibraryIndexManager::cacheLoaded, this, [this] { m_window->libraryChanged(); });
    connect(&m_library, &LibraryIndexManager::syncFinished, this, [this] { m_window->libraryChanged(); });
    connect(&m_library, &LibraryIndexManager::quickRefreshFinished, this, [this](bool changed) {
        if (changed)
            m_window->libraryChanged();
    });
    // A "Sync now" with nothing to do still says that it ran.
    connect(&m_library, &LibraryIndexManager::syncFoundNothingToDo, this, [this] {
        index::IndexProgress done;
        done.fraction = 1.0;
        done.scanning = false;
        m_window->showSyncStatus(library::syncProgressText(done), 1.0, false);
        hideSyncStatusSoon();
    });
    connect(&m_library, &LibraryIndexManager::syncCancelled, this,
        [this](const library::SyncCancellationAlert& a) {
            m_window->libraryChanged();
            m_window->showSyncCancelled(a.title, a.text, a.offersResync);
        });
}

void BrowserController::connectPlayer()
{
    PreviewStrip* strip = m_window->previewStrip();
    auto& file = m_player->currentFile();
    auto& progress = m_player->playback();
    auto& levels = m_player->outputLevels();
    auto& volume = m_player->volumeControl();
    SeekBar* bar = strip->seekBar();
    m_waveform = new WaveformLoader(m_tasks, this);
    m_waveform->setSize(bar->waveformSize(), bar->devicePixelRatioF());
    connect(bar, &SeekBar::waveformSizeChanged, m_waveform, &WaveformLoader::setSize);
    connect(m_waveform, &WaveformLoader::changed, bar, [this, bar] {
        if (m_waveform->file().isEmpty())
            bar->clearWaveform();
        else
            bar->setWaveform(m_waveform->image(), m_waveform->isLoading());
    });
    connect(&file, &playback::CurrentFile::urlChanged, this, [this, strip, &file] {
        strip->setFile(file.hasFile() ? QFileInfo(file.path()).fileName() : QString());
        showPlaybackTime();
        loadMIDIRegion(file.path());
        m_waveform->setFile(file.path());
    });
    connect(
        &progress, &playback::PlaybackProgress::progressChanged, this, &BrowserController::showPlaybackTime);
    connect(m_player.get(), &playback::AudioPlayerManager::fileOpened, this,
        &BrowserController::showPlaybackTime);
    auto showLevels = [strip, &levels] { strip->setLevels(levels.left(), levels.right()); };
    connect(&levels, &playback::StereoLevels::leftChanged, this, showLevels);
    connect(&levels, &playback::StereoLevels::rightChanged, this, showLevels);
    connect(&volume, &playback::VolumeControl::positionChanged, this,
        [strip, &volume] { strip->setVolume(volume.position()); });
    strip->setVolume(volume.position());
}

void BrowserController::connectHotkeys()
{
    auto* bar = new HotkeyBar(m_hotkeys, m_tapTempo);
    connect(bar, &HotkeyBar::fireRequested, this, &BrowserController::fireSlot);
    connect(bar, &HotkeyBar::locateRequested, this, &BrowserController::locateFile);
    connect(bar, &HotkeyBar::chordBankOnScreenChanged, this, [this](bool on) {
        if (m_midiEngine)
            m_midiEngine->setKeepWarm(on);
    });
    m_window->setHotkeyBar(bar);
    connect(m_window.get(), &MainWindow::assignToHotkeyRequested, this,
        [this](const QStringList& paths, int slot) { m_hotkeys.assignMany(paths, slot); });
    m_window->addKeyHandler([this](const QKeyEvent& event) { return handleHotkeyKey(event); });
}

bool BrowserController::handleHotkeyKey(const QKeyEvent& event)
{
    hotkeys::KeyStroke stroke;
    stroke.key = event.key();
    // Where the platform numbers the physical keys (X11 and Wayland keycodes), the key's place
    // decides, whatever the layout types there.
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("xcb") || platform.startsWith(QLatin1String("wayland")))
        stroke.positionCode = event.nativeScanCode();
    const auto mods = event.modifiers();
    stroke.command = mods & Qt::ControlModifier;
    stroke.option = mods & Qt::AltModifier;
    stroke.control = mods & Qt::MetaModifier;
    stroke.keypad = mods & Qt::KeypadModifier;
    const hotkeys::HotkeyCommand command = hotkeys::hotkeyCommand(stroke);
    switch (command.action) {
    case hotkeys::HotkeyAction::fireSlot:
        fireSlot(command.slot);
        return true;
    case hotkeys::HotkeyAction::assignSlot:
        if (const auto path = m_window->selectedFile())
            m_hotkeys.assign(*path, command.slot);
        return true;
    case hotkeys::HotkeyAction::tapTempo:
        m_tapTempo.tap();
        return true;
    case hotkeys::HotkeyAction::none:
        break;
    }
    return false;
}

void BrowserController::locateFile(const QString& path)
{
    // A slot may hold a file of another collection: that collection is shown first.
    const auto entries = collectionEntries(m_settings);
    const int selected = m_settings.selectedGroup();
    auto holds = [&path](const CollectionEntry& c) {
        return std::any_of(c.rootPaths.begin(), c.rootPaths.end(), [&path](const QString& root) {
            return index::isUnderRoot(path.toStdString(), root.toStdString());
        });
    };
    if (selected < 0 || selected >= int(entries.size()) || !holds(entries[std::size_t(selected)])) {
        const auto it = std::find_if(entries.begin(), entries.end(), holds);
        if (it == entries.end())
            return;
        m_settings.setSelectedGroup(int(it - entries.begin()));
    }
    m_window->revealFile(path);
}

void BrowserController::fireSlot(int slot)
{
    if (m_hotkeys.fire(slot, *m_player))
        showPlaybackTime();
}

void BrowserController::loadMIDIRegion(const QString& path)
{
    SeekBar* bar = m_window->previewStrip()->seekBar();
    const quint64 request = ++m_regionRequest;
    if (path.isEmpty() || !isMIDIPath(path)) {
        bar->clearMIDIRegion();
        return;
    }
    bar->setMIDILoading();
    // Read and parsed off the main thread; only the answer for the file still shown is used.
    m_tasks.run(
        this,
        [path] {
            music::MIDIFileData data;
            QFile in(path);
            if (in.open(QIODevice::ReadOnly)) {
                const QByteArray bytes = in.readAll();
                if (auto parsed
                    = music::MIDIFileParser::parse(std::string_view(bytes.constData(), bytes.size())))
                    data = std::move(*parsed);
            }
            return data;
        },
        [this, request](music::MIDIFileData data) {
            if (m_regionRequest == request)
                m_window->previewStrip()->seekBar()->setMIDIRegion(data);
        });
}

void BrowserController::showPlaybackTime()
{
    const double d = m_player->duration();
    m_window->previewStrip()->setProgress(
        d > 0 ? m_player->playback().progress() * d : m_player->currentTime(), d);
}

void BrowserController::publish()
{
    auto entries = collectionEntries(m_settings);
    for (auto& entry : entries)
        entry.hidden = m_hiddenFiles.isGroupHidden(entry.id.toStdString());
    const int selected = m_settings.selectedGroup();
    const bool showsHidden = m_hiddenFiles.isHideModeActive() || m_hiddenFiles.isShowOnlyHiddenActive();
    if (!showsHidden && selected >= 0 && selected < int(entries.size())
        && entries[std::size_t(selected)].hidden) {
        // A hidden collection is not browsed outside hide mode: the first one shown takes its place.
        const auto shown
            = std::find_if(entries.begin(), entries.end(), [](const auto& e) { return !e.hidden; });
        if (shown != entries.end()) {
            m_settings.setSelectedGroup(int(shown - entries.begin())); // publishes again
            return;
        }
    }
    m_window->setCollections(entries, selected);
}

void BrowserController::connectHidden()
{
    MainWindow* w = m_window.get();
    auto show = [this] {
        m_hiddenFiles.setSkipNestedSubfolders(m_settings.skipNestedSubfolders());
        m_window->setHiddenView(m_hiddenFiles.view());
    };
    show();
    connect(&m_settings, &library::UserSettings::skipNestedSubfoldersChanged, this, show);
    connect(&m_hiddenFiles, &organise::HiddenFileManager::changed, this, [this, show] {
        show();
        publish();
    });
    connect(w, &MainWindow::hideModeRequested, &m_hiddenFiles, &organise::HiddenFileManager::toggleHideMode);
    connect(w, &MainWindow::auditHiddenRequested, &m_hiddenFiles,
        &organise::HiddenFileManager::toggleShowOnlyHidden);
    connect(w, &MainWindow::hideToggleRequested, this,
        [this](const QString& path, organise::HideToggleAction action) {
            const std::string p = path.toStdString();
            switch (action) {
            case organise::HideToggleAction::toggleHidden:
                m_hiddenFiles.setHidden({ p }, !m_hiddenFiles.hiddenPaths().contains(p));
                break;
            case organise::HideToggleAction::toggleSkipped:
                m_hiddenFiles.setSkipped({ p }, !m_hiddenFiles.skippedPaths().contains(p));
                break;
            case organise::HideToggleAction::toggleExempt:
                m_hiddenFiles.setNestedSkipExempt({ p }, !m_hiddenFiles.nestedSkipExemptPaths().contains(p));
                break;
            case organise::HideToggleAction::none:
                break;
            }
        });
    connect(w->collectionBar(), &CollectionBar::hiddenChangeRequested, this, [this](int index, bool hidden) {
        if (const auto id = m_settings.groupID(index))
            m_hiddenFiles.setGroupHidden(library::canonicalIdText(*id).toStdString(), hidden);
    });
}

void BrowserController::showSyncState()
{
    if (m_library.isInitializing()) {
        showProgress();
        return;
    }
    const auto& p = m_library.indexProgress();
    if (p && !p->scanning && p->fraction >= 1.0) {
        showProgress();
        hideSyncStatusSoon();
    } else {
        m_window->hideSyncStatus();
    }
}

void BrowserController::hideSyncStatusSoon()
{
    QTimer::singleShot(kCompletedLingerMs, m_window.get(), [this] {
        if (!m_library.isInitializing())
            m_window->hideSyncStatus();
    });
}

void BrowserController::showProgress()
{
    const auto& p = m_library.indexProgress();
    if (!m_library.isInitializing() && !(p && p->fraction >= 1.0))
        return;
    const double fraction = !p ? -1.0 : p->scanning ? -1.0 : p->fraction;
    m_window->showSyncStatus(m_library.progressText(), fraction, m_library.canCancelSync());
}

void BrowserController::addCollection(const QString& name)
{
    m_settings.addGroup(
        name.isEmpty() ? QStringLiteral("Collection %1").arg(m_settings.bookmarks().size() + 1) : name,
        QString());
}

void BrowserController::deleteCollection(int index)
{
    m_settings.removeGroup(index);
}

void BrowserController::openSettings()
{
    SettingsWindow::open(m_settings, m_syncSettings, m_library, m_window.get(), m_output);
}

void BrowserController::addFolders(const QStringList& paths)
{
    const library::RootEligibility eligibility;
    const auto screened = eligibility.screen(paths);
    const int group = m_settings.selectedGroup();
    QStringList added;
    for (const QString& path : screened.eligible)
        if (m_settings.addPath(path, group))
            added << library::RootEligibility::standardized(path);
    if (const auto alert = library::ineligibleAlert(screened.refused))
        m_window->showAlert(alert->title, alert->text);
    if (added.isEmpty())
        return;
    m_library.setPendingImport(added, group);
    m_library.rootsAdded(m_settings);
}

void BrowserController::removeRoot(const QString& rootPath)
{
    const int group = m_settings.selectedGroup();
    const auto entries = collectionEntries(m_settings);
    const auto id = m_settings.groupID(group);
    if (group < 0 || group >= int(entries.size()) || !id)
        return;
    const qsizetype position = entries[std::size_t(group)].rootPaths.indexOf(rootPath);
    if (position < 0)
        return;
    m_settings.removePath(int(position));
    m_library.removeRoots({ rootPath }, *id);
}

void BrowserController::seekFromPreview(double fraction)
{
    if (!m_player->isPlaying()) {
        if (m_player->hasPlayer())
            m_player->togglePlayPause();
        else if (m_player->currentFile().hasFile())
            m_player->play(m_player->currentFile().url());
        else
            return;
    }
    m_player->seek(fraction);
    showPlaybackTime();
}

void BrowserController::applicationStateChanged(Qt::ApplicationState state)
{
    const bool active = state == Qt::ApplicationActive;
    m_player->applicationActiveChanged(active);
    // Files saved into the library by other programs show while the browser is in use; the
    // driver itself keeps refreshes at least its interval apart.
    if (active) {
        m_library.quickRefresh(m_settings);
        m_refreshTimer->start();
    } else {
        m_refreshTimer->stop();
    }
}

} // namespace kivo::app
