#pragma once

// What analysis heard, kept in a database of its own beside the cache file (SQLite, WAL), so
// that an unchanged file is never analysed twice. A file is known by its path, size and
// modification time; a file found under a new path with the same name, size and time (a moved
// folder) keeps its result. A damaged database is set aside and started afresh: everything in
// it can be heard again. Any thread; calls are serialised.

#include "AudioAnalysis.h"
#include "Duplicates.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

namespace kivo::analysis {

struct FileIdentity {
    std::string path;
    int64_t size = 0;
    int64_t modified = 0; // nanoseconds since the epoch
};

class AnalysisStore {
public:
    // Opens or creates the database; none with `error` when it can be neither opened nor made.
    static std::unique_ptr<AnalysisStore> open(const std::string& path, std::string& error);
    // "Analysis.sqlite" in the folder of the cache file at `cachePath`.
    static std::string pathBeside(const std::string& cachePath);
    ~AnalysisStore();
    AnalysisStore(const AnalysisStore&) = delete;
    AnalysisStore& operator=(const AnalysisStore&) = delete;

    // The result kept for the file if it has not changed since, or for the same file moved
    // from a path that no longer exists (which then moves with it).
    std::optional<AnalysisResult> find(const FileIdentity& file);
    // False when the database refused the write.
    bool save(const FileIdentity& file, const AnalysisResult& result);
    // Every result under folder `from` moves to the same place under `to`.
    bool moveFolder(const std::string& from, const std::string& to);
    bool remove(const std::string& path);
    int64_t count();
    // The fingerprinted, analysable files whose duration lies within [shortest, longest] seconds.
    std::vector<FingerprintedFile> fingerprints(double shortest, double longest);

    // The identity of the file on disk now; none when it cannot be read.
    static std::optional<FileIdentity> identify(const std::string& path);

private:
    explicit AnalysisStore(sqlite3* db);
    std::mutex m_lock;
    sqlite3* m_db = nullptr;
};

} // namespace kivo::analysis
