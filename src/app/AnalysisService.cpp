#include "app/AnalysisService.h"

#include "analysis/AnalysisStore.h"
#include "analysis/BackgroundAnalyser.h"
#include "organise/MetadataInheritance.h"
#include "platform/TaskRunner.h"

#include <cmath>
#include <cstdio>

namespace kivo::app {

bool AnalysisService::hears(std::string_view path)
{
    const auto dot = path.rfind('.');
    if (dot == std::string_view::npos)
        return false;
    std::string extension(path.substr(dot + 1));
    for (char& c : extension)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return extension != "mid" && extension != "midi";
}

namespace {

std::pair<std::string, std::string> split(const std::string& path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return { std::string(), path };
    return { path.substr(0, slash), path.substr(slash + 1) };
}

// A folder of many files chooses its octave from all of them; the file's own vote is lost in them.
constexpr std::size_t kOwnVoteMatters = 64;

} // namespace

AnalysisService::AnalysisService(platform::TaskRunner& tasks, std::string databasePath, QObject* parent)
    : QObject(parent)
    , m_tasks(tasks)
{
    m_publish.setSingleShot(true);
    m_publish.setInterval(400);
    connect(&m_publish, &QTimer::timeout, this, &AnalysisService::publish);
    m_tasks.run(
        this,
        [databasePath]() -> std::shared_ptr<analysis::AnalysisStore> {
            std::string error;
            std::shared_ptr<analysis::AnalysisStore> store
                = analysis::AnalysisStore::open(databasePath, error);
            if (!store)
                std::printf("Error opening the analysis database: %s\n", error.c_str());
            return store;
        },
        [this](std::shared_ptr<analysis::AnalysisStore> store) { started(std::move(store)); });
}

AnalysisService::~AnalysisService() = default;

void AnalysisService::started(std::shared_ptr<analysis::AnalysisStore> store)
{
    m_store = store;
    m_analyser = std::make_unique<analysis::BackgroundAnalyser>(m_tasks, std::move(store),
        [this](const std::string& path, const analysis::AnalysisResult& result) { heard(path, result); });
    m_analyser->setPaused(m_paused);
    m_analyser->enqueue(m_waiting);
    m_analyser->prioritise(m_urgent);
    m_waiting.clear();
    m_urgent.clear();
    emit progressChanged();
}

void AnalysisService::findDuplicates(
    const std::string& path, QObject* context, std::function<void(DuplicatesAnswer)> done)
{
    m_tasks.run(
        context,
        [store = m_store, path] {
            DuplicatesAnswer answer;
            const auto identity = analysis::AnalysisStore::identify(path);
            const auto kept = store && identity ? store->find(*identity) : std::nullopt;
            if (!kept || (kept->ok() && !kept->fingerprinted))
                return answer;
            if (!kept->ok()) {
                answer.state = DuplicatesAnswer::State::failed;
                answer.error = kept->error;
                return answer;
            }
            answer.state = DuplicatesAnswer::State::found;
            const double margin = analysis::kDurationTolerance * kept->duration;
            auto library = store->fingerprints(
                kept->duration - margin, kept->duration / (1 - analysis::kDurationTolerance) + 1e-6);
            answer.duplicates = analysis::findDuplicates(
                { path, kept->duration, kept->audioHash, kept->fingerprint }, library);
            // The database outlives files deleted since they were heard.
            std::erase_if(answer.duplicates,
                [](const analysis::Duplicate& d) { return !analysis::AnalysisStore::identify(d.path); });
            return answer;
        },
        std::move(done));
}

void AnalysisService::setOverrides(std::shared_ptr<const index::MetadataOverrides> overrides)
{
    if (!overrides)
        overrides = std::make_shared<index::MetadataOverrides>();
    // The folders whose heard tempos may vote again: those holding a tempo that changed, or below a
    // folder whose tempo changed.
    std::set<std::string> touched;
    auto differ = [&](const auto& from, const auto& to) {
        for (const auto& [path, bpm] : from)
            if (const auto found = to.find(path); found == to.end() || found->second != bpm)
                touched.insert(path);
    };
    differ(m_overrides->bpmOverrides, overrides->bpmOverrides);
    differ(overrides->bpmOverrides, m_overrides->bpmOverrides);
    m_overrides = std::move(overrides);
    if (touched.empty())
        return;
    for (const auto& [folder, files] : m_results)
        for (const std::string& path : touched)
            if (folder == split(path).first || folder == path || folder.starts_with(path + '/')) {
                m_changedFolders.insert(folder);
                break;
            }
    if (!m_changedFolders.empty() && !m_publish.isActive())
        m_publish.start();
}

void AnalysisService::libraryChanged(index::SnapshotPtr snapshot)
{
    if (!snapshot)
        return;
    m_snapshot = snapshot;
    const std::uint64_t listing = ++m_listing;
    m_tasks.run(
        this,
        [snapshot] {
            // Folder after folder, as the index holds them: a folder's files are heard together.
            std::vector<std::string> paths;
            const index::CompactIndex& index = snapshot->index;
            for (std::size_t f = 0; f < index.folders.size(); ++f) {
                if (!index.isCurrent(f))
                    continue;
                for (const index::IndexedFile& file : index.filesOf(index.folders[f]))
                    if (const std::string_view path = index.path(file.path); hears(path))
                        paths.emplace_back(path);
            }
            return paths;
        },
        [this, listing](std::vector<std::string> paths) {
            if (listing != m_listing)
                return;
            std::erase_if(paths, [this](const std::string& path) {
                const auto [folder, name] = split(path);
                const auto found = m_results.find(folder);
                return found != m_results.end() && found->second.contains(name);
            });
            if (m_analyser)
                m_analyser->enqueue(paths);
            else
                m_waiting.insert(m_waiting.end(), paths.begin(), paths.end());
            emit progressChanged();
        });
}

void AnalysisService::prioritise(const std::vector<std::string>& paths)
{
    std::vector<std::string> wanted;
    for (const auto& path : paths)
        if (hears(path) && !result(path))
            wanted.push_back(path);
    if (wanted.empty())
        return;
    if (m_analyser)
        m_analyser->prioritise(wanted);
    else
        m_urgent = std::move(wanted);
    emit progressChanged();
}

void AnalysisService::setPaused(bool paused)
{
    m_paused = paused;
    if (m_analyser)
        m_analyser->setPaused(paused);
    emit progressChanged();
}

AnalysisService::Progress AnalysisService::progress() const
{
    if (!m_analyser)
        return { 0, std::int64_t(m_waiting.size()) };
    const auto p = m_analyser->progress();
    return { p.done, p.total };
}

bool AnalysisService::isWorking() const
{
    const Progress p = progress();
    return p.done < p.total;
}

const analysis::AnalysisResult* AnalysisService::result(const std::string& path) const
{
    const auto [folder, name] = split(path);
    const auto found = m_results.find(folder);
    if (found == m_results.end())
        return nullptr;
    const auto file = found->second.find(name);
    return file == found->second.end() ? nullptr : &file->second;
}

void AnalysisService::heard(const std::string& path, const analysis::AnalysisResult& result)
{
    auto [folder, name] = split(path);
    m_results[folder][name] = result;
    m_changedFolders.insert(std::move(folder));
    if (!m_publish.isActive())
        m_publish.start();
}

void AnalysisService::publish()
{
    auto next = std::make_shared<organise::AnalysedValues>(*m_values);
    organise::MetadataInheritance stated(m_overrides, nullptr);
    for (const std::string& folderPath : m_changedFolders) {
        const auto& files = m_results[folderPath];
        // Each file votes with the tempo it shows: its own, its folder's or the user's where it has
        // one, else the one heard from it.
        std::unordered_map<std::string, double> votes;
        if (const index::IndexedFolder* listed = m_snapshot ? m_snapshot->index.folder(folderPath) : nullptr)
            for (const index::IndexedFile& file : m_snapshot->index.filesOf(*listed)) {
                const std::string_view path = m_snapshot->index.path(file.path);
                if (const auto bpm = stated.effectiveBPM(
                        path, file.hasBpm ? std::optional<std::int64_t>(file.bpm) : std::nullopt))
                    votes.emplace(split(std::string(path)).second, double(*bpm));
            }
        for (const auto& [name, result] : files) {
            if (votes.contains(name))
                continue;
            if (const auto bpm = stated.effectiveBPM(folderPath + '/' + name, std::nullopt))
                votes.emplace(name, double(*bpm));
            else if (result.bpm)
                votes.emplace(name, *result.bpm);
        }
        auto folder = std::make_shared<organise::AnalysedValues::Folder>();
        for (const auto& [name, result] : files) {
            organise::AnalysedEntry entry;
            if (result.bpm) {
                std::vector<double> others;
                for (const auto& [voter, bpm] : votes)
                    if (voter != name || votes.size() > kOwnVoteMatters)
                        others.push_back(bpm);
                entry.bpm = std::llround(analysis::preferFolderOctave(*result.bpm, others));
            }
            if (result.key)
                entry.key = result.key->keyText();
            entry.isLoop = result.isLoop;
            if (entry.bpm || entry.key || entry.isLoop)
                folder->emplace(name, std::move(entry));
        }
        next->folders[folderPath] = std::move(folder);
    }
    m_changedFolders.clear();
    m_values = std::move(next);
    emit valuesChanged();
    emit progressChanged();
}

} // namespace kivo::app
