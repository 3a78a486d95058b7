#pragma once

// What the window knows of files' own audio: after every sync and quick refresh the library's audio
// files not heard yet are queued for the background analyser (idle priority, the rows in view
// first), whose database keeps results across runs and moves. Results are gathered on the main
// thread into snapshots the rows and filters read, a tempo's octave chosen by its folder's other
// files: their tempos from headers, names, folders and the user where they have one, else heard.

#include "analysis/AudioAnalysis.h"
#include "analysis/Duplicates.h"
#include "index/CacheIndexStore.h"
#include "index/MetadataOverrides.h"
#include "organise/AnalysedValues.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

namespace kivo::platform {
class TaskRunner;
}

namespace kivo::analysis {
class AnalysisStore;
class BackgroundAnalyser;
} // namespace kivo::analysis

namespace kivo::app {

class AnalysisService : public QObject {
    Q_OBJECT
public:
    // The database is opened in the background at `databasePath`; without one every file is heard
    // again each run.
    AnalysisService(platform::TaskRunner& tasks, std::string databasePath, QObject* parent = nullptr);
    ~AnalysisService() override;

    // The index changed: its audio files not heard yet are queued (listed in the background).
    void libraryChanged(index::SnapshotPtr snapshot);
    // The user's tempos, which vote on the octave of the tempos heard beside them.
    void setOverrides(std::shared_ptr<const index::MetadataOverrides> overrides);
    // These rows are in view: heard before the rest.
    void prioritise(const std::vector<std::string>& paths);
    void setPaused(bool paused);
    bool isPaused() const { return m_paused; }

    struct Progress {
        std::int64_t done = 0;
        std::int64_t total = 0;
    };
    // Files heard or found in the database since the start, of those queued.
    Progress progress() const;
    bool isWorking() const;

    // Files the analyser hears: every indexed file but MIDI.
    static bool hears(std::string_view path);

    struct DuplicatesAnswer {
        enum class State { notAnalysed, failed, found } state = State::notAnalysed;
        std::string error; // why the file could not be analysed
        std::vector<analysis::Duplicate> duplicates; // files that exist now
    };
    // The file's exact and near-identical duplicates among every file analysed, looked up in the
    // background; `done` is called on the main thread unless `context` is gone.
    void findDuplicates(
        const std::string& path, QObject* context, std::function<void(DuplicatesAnswer)> done);

    std::shared_ptr<const organise::AnalysedValues> values() const { return m_values; }
    // The file's whole result, none before it is heard.
    const analysis::AnalysisResult* result(const std::string& path) const;

signals:
    // values() has new results (at most a few times a second).
    void valuesChanged();
    void progressChanged();

private:
    void started(std::shared_ptr<analysis::AnalysisStore> store);
    void heard(const std::string& path, const analysis::AnalysisResult& result);
    void publish();

    platform::TaskRunner& m_tasks;
    std::shared_ptr<analysis::AnalysisStore> m_store; // none until open, or when it cannot be
    std::unique_ptr<analysis::BackgroundAnalyser> m_analyser;
    bool m_paused = false;
    std::vector<std::string> m_waiting; // queued before the database was open
    std::vector<std::string> m_urgent;
    // Results by folder, then by file name.
    std::unordered_map<std::string, std::unordered_map<std::string, analysis::AnalysisResult>> m_results;
    std::set<std::string> m_changedFolders;
    std::shared_ptr<const organise::AnalysedValues> m_values = std::make_shared<organise::AnalysedValues>();
    QTimer m_publish;
    std::uint64_t m_listing = 0; // the latest listing; an older one arriving late is dropped
    index::SnapshotPtr m_snapshot; // the files' own tempos, for the octave votes
    std::shared_ptr<const index::MetadataOverrides> m_overrides
        = std::make_shared<index::MetadataOverrides>();
};

} // namespace kivo::app
