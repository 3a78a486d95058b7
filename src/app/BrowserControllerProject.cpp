// The project tempo and key: kept in preference keys of the browser's own (a workspace switch
// leaves them as they are, like the window's place), shown in the preview strip and handed to the
// preview player, which asks here for each opened file's tempo and key.

#include "app/BrowserController.h"

#include "app/AnalysisService.h"
#include "app/MainWindow.h"
#include "app/PreviewStrip.h"
#include "app/ProjectSyncControl.h"
#include "hotkeys/HotkeyManager.h"
#include "hotkeys/TapTempoManager.h"
#include "index/CacheIndexStore.h"
#include "index/MetadataOverrideStore.h"
#include "library/LibraryIndexManager.h"
#include "library/UserSettings.h"
#include "music/BpmFromName.h"
#include "organise/AnalysedValues.h"
#include "organise/MetadataInheritance.h"
#include "organise/TagStore.h"
#include "platform/PreferenceStore.h"
#include "platform/TaskRunner.h"

#include <filesystem>

namespace kivo::app {

namespace {

constexpr char kProjectTempoKey[] = "projectTempo";
constexpr char kProjectKeyKey[] = "projectKey";
constexpr char kProjectTempoSyncKey[] = "projectTempoSync";
constexpr char kProjectKeySyncKey[] = "projectKeySync";

QString key(const char* name)
{
    return QString::fromLatin1(name);
}

} // namespace

playback::ProjectSync BrowserController::storedProjectSync(const platform::PreferenceStore& store)
{
    playback::ProjectSync project;
    if (auto bpm = store.realValue(key(kProjectTempoKey));
        bpm && *bpm >= playback::ProjectSync::kMinTempo && *bpm <= playback::ProjectSync::kMaxTempo)
        project.tempo = *bpm;
    if (auto text = store.stringValue(key(kProjectKeyKey)))
        project.key = music::MusicalKey::parse(text->toStdString());
    project.syncTempo = project.tempo && store.boolValue(key(kProjectTempoSyncKey)).value_or(false);
    project.syncKey = project.key && store.boolValue(key(kProjectKeySyncKey)).value_or(false);
    return project;
}

void BrowserController::storeProjectSync(const playback::ProjectSync& project)
{
    platform::PreferenceStore& store = m_settings.store();
    if (project.tempo)
        store.setValue(key(kProjectTempoKey), *project.tempo);
    else
        store.remove(key(kProjectTempoKey));
    if (project.key)
        store.setValue(key(kProjectKeyKey), QString::fromStdString(project.key->keyText()));
    else
        store.remove(key(kProjectKeyKey));
    store.setValue(key(kProjectTempoSyncKey), project.syncTempo);
    store.setValue(key(kProjectKeySyncKey), project.syncKey);
}

playback::AudioPlayerManager::Options::MusicLookup BrowserController::musicLookup() const
{
    // Everything the lookup reads is an immutable snapshot taken here, so the opening thread may
    // run it: the index's own values, the user's corrections, the folders' and the heard ones.
    auto state = m_library.store().current();
    auto pass = std::make_shared<organise::MetadataInheritance>(m_overrides.snapshot(), m_tags.maps());
    std::shared_ptr<const organise::AnalysedValues> heard;
    if (m_analysis) {
        heard = m_analysis->values();
        pass->useAnalysed(heard);
    }
    return [state, pass, heard](const std::string& path) {
        playback::SampleMusic music;
        std::optional<std::int64_t> ownBPM;
        std::optional<std::string> ownKey;
        if (const index::IndexedFile* file = state->index.file(path)) {
            const index::FileInfo info = state->index.fileInfo(*file);
            ownBPM = info.bpm;
            ownKey = info.key;
        } else {
            // A file outside the library (a hotkey's, say) tells what its name does.
            const std::string name = std::filesystem::path(path).filename().string();
            ownBPM = music::bpmFromName(name);
            if (auto key = music::MusicalKey::fromName(name, music::LoneAccidental::accept))
                ownKey = key->keyText();
        }
        if (auto bpm = pass->effectiveBPM(path, ownBPM))
            music.tempo = double(*bpm);
        if (auto text = pass->effectiveKey(path, ownKey))
            music.key = music::MusicalKey::parse(*text);
        // Only loops follow the project tempo; a file not heard yet is judged by its length.
        if (const organise::AnalysedEntry* entry = heard ? heard->find(path) : nullptr)
            music.isLoop = entry->isLoop;
        return music;
    };
}

void BrowserController::connectProject()
{
    ProjectSyncControl* control = m_window->previewStrip()->projectSync();
    control->setProject(m_player->projectSync());
    // Which stretcher keeps up is measured once, in the background, before the first preview needs it.
    auto measureSoon = [this](const playback::ProjectSync& project) {
        if (project.syncTempo || project.syncKey)
            m_tasks.run([] { playback::TimeStretcher::preferredEngine(); });
    };
    measureSoon(m_player->projectSync());
    connect(control, &ProjectSyncControl::projectEdited, this,
        [this, measureSoon](const playback::ProjectSync& project) {
            m_player->setProjectSync(project);
            storeProjectSync(project);
            measureSoon(project);
        });
    // The tap tempo shows for a few seconds only; the last one tapped stays on offer.
    connect(&m_tapTempo, &hotkeys::TapTempoManager::displayBPMChanged, control, [this, control] {
        if (auto bpm = m_tapTempo.displayBPM())
            control->setTapTempo(bpm);
    });
    auto chordKey = [this, control] {
        music::MusicalKey key;
        key.pitchClass = m_hotkeys.chordPitchClass();
        key.isMinor = m_hotkeys.chordIsMinor();
        key.spelling = music::MusicalKey::rootName(key.pitchClass, key.isMinor, m_settings.keySpelling());
        control->setChordKey(key);
    };
    connect(&m_hotkeys, &hotkeys::HotkeyManager::chordKeyChanged, control, chordKey);
    chordKey();
}

} // namespace kivo::app
