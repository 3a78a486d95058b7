#include "AnalysisStore.h"

#include <sqlite3.h>

#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <functional>

namespace kivo::analysis {

namespace {

// Raised whenever the analysers change what they hear, so that older results are heard again.
constexpr int kAnalyserVersion = 1;

constexpr const char* kSchema = R"(
PRAGMA journal_mode = WAL;
PRAGMA synchronous = NORMAL;
CREATE TABLE IF NOT EXISTS analysis (
    path BLOB PRIMARY KEY,
    name BLOB NOT NULL,
    size INTEGER NOT NULL,
    modified INTEGER NOT NULL,
    version INTEGER NOT NULL,
    bpm REAL,
    key TEXT,
    loudness REAL,
    true_peak REAL,
    is_loop INTEGER,
    duration REAL NOT NULL,
    error TEXT NOT NULL
);
CREATE INDEX IF NOT EXISTS analysis_identity ON analysis (name, size, modified);
)";

// Version 2 adds the fingerprint and the audio's hash. Rows from version 1 keep their values and
// read as not fingerprinted, so their files are heard again for the fingerprint alone. Version 3
// hashes the audio a word at a time: version 2's hashes are dropped the same way.
constexpr int kSchemaVersion = 3;
constexpr const char* kAddFingerprints = R"(
ALTER TABLE analysis ADD COLUMN fingerprint BLOB;
ALTER TABLE analysis ADD COLUMN audio_hash INTEGER;
CREATE INDEX IF NOT EXISTS analysis_duration ON analysis (duration);
)";

std::string fileName(const std::string& path)
{
    return std::filesystem::path(path).filename().string();
}

// One prepared statement, finalised on every way out.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &m_statement, nullptr); }
    ~Statement() { sqlite3_finalize(m_statement); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    bool ok() const { return m_statement != nullptr; }
    sqlite3_stmt* get() const { return m_statement; }
    void bind(int i, const std::string& bytes)
    {
        sqlite3_bind_blob(m_statement, i, bytes.data(), int(bytes.size()), SQLITE_TRANSIENT);
    }
    void bind(int i, int64_t value) { sqlite3_bind_int64(m_statement, i, value); }
    void bind(int i, const std::optional<double>& value)
    {
        if (value)
            sqlite3_bind_double(m_statement, i, *value);
        else
            sqlite3_bind_null(m_statement, i);
    }
    void bindText(int i, const std::string& text)
    {
        sqlite3_bind_text(m_statement, i, text.data(), int(text.size()), SQLITE_TRANSIENT);
    }
    std::optional<double> real(int column) const
    {
        if (sqlite3_column_type(m_statement, column) == SQLITE_NULL)
            return std::nullopt;
        return sqlite3_column_double(m_statement, column);
    }
    std::string blob(int column) const
    {
        const void* data = sqlite3_column_blob(m_statement, column);
        return data ? std::string(
                   static_cast<const char*>(data), std::size_t(sqlite3_column_bytes(m_statement, column)))
                    : std::string();
    }

private:
    sqlite3_stmt* m_statement = nullptr;
};

std::vector<uint32_t> words(const std::string& bytes);

AnalysisResult readResult(const Statement& row)
{
    AnalysisResult result;
    result.bpm = row.real(0);
    if (sqlite3_column_type(row.get(), 1) != SQLITE_NULL) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(row.get(), 1));
        if (auto key = music::MusicalKey::parse(text ? text : ""))
            result.key = key;
    }
    result.loudness = row.real(2);
    result.truePeak = row.real(3);
    if (sqlite3_column_type(row.get(), 4) != SQLITE_NULL)
        result.isLoop = sqlite3_column_int(row.get(), 4) != 0;
    result.duration = sqlite3_column_double(row.get(), 5);
    const auto* error = reinterpret_cast<const char*>(sqlite3_column_text(row.get(), 6));
    result.error = error ? error : "";
    if (sqlite3_column_type(row.get(), 9) != SQLITE_NULL) {
        result.fingerprinted = true;
        result.audioHash = uint64_t(sqlite3_column_int64(row.get(), 9));
        result.fingerprint = words(row.blob(8));
    }
    return result;
}

std::string bytesOf(const std::vector<uint32_t>& fingerprint)
{
    return std::string(
        reinterpret_cast<const char*>(fingerprint.data()), fingerprint.size() * sizeof(uint32_t));
}

std::vector<uint32_t> words(const std::string& bytes)
{
    std::vector<uint32_t> out(bytes.size() / sizeof(uint32_t));
    if (!out.empty())
        std::memcpy(out.data(), bytes.data(), out.size() * sizeof(uint32_t));
    return out;
}

int schemaVersion(sqlite3* db)
{
    Statement version(db, "PRAGMA user_version");
    return version.ok() && sqlite3_step(version.get()) == SQLITE_ROW ? sqlite3_column_int(version.get(), 0)
                                                                     : 0;
}

int migrate(sqlite3* db)
{
    if (schemaVersion(db) >= kSchemaVersion)
        return SQLITE_OK;
    bool hasFingerprint = false;
    {
        Statement columns(db, "PRAGMA table_info(analysis)");
        while (columns.ok() && sqlite3_step(columns.get()) == SQLITE_ROW)
            hasFingerprint |= columns.blob(1) == "fingerprint";
    }
    int rc = sqlite3_exec(db,
        hasFingerprint ? "UPDATE analysis SET fingerprint = NULL, audio_hash = NULL" : kAddFingerprints,
        nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(db, ("PRAGMA user_version = " + std::to_string(kSchemaVersion)).c_str(), nullptr,
            nullptr, nullptr);
    return rc;
}

sqlite3* openDatabase(const std::string& path, std::string& error)
{
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_busy_timeout(db, 2000);
        rc = sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr);
    }
    if (rc == SQLITE_OK)
        rc = migrate(db);
    if (rc == SQLITE_OK) {
        Statement check(db, "PRAGMA quick_check");
        if (!check.ok() || sqlite3_step(check.get()) != SQLITE_ROW
            || std::string(reinterpret_cast<const char*>(sqlite3_column_text(check.get(), 0))) != "ok")
            rc = SQLITE_CORRUPT;
    }
    if (rc != SQLITE_OK) {
        error = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
        if (rc == SQLITE_CORRUPT && error == "not an error")
            error = sqlite3_errstr(rc);
        sqlite3_close(db);
        return nullptr;
    }
    return db;
}

} // namespace

std::unique_ptr<AnalysisStore> AnalysisStore::open(const std::string& path, std::string& error)
{
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
    sqlite3* db = openDatabase(path, error);
    if (!db && std::filesystem::exists(path, ignored)) {
        // Damaged: set it aside (never deleted) and start again.
        std::filesystem::rename(path, path + ".damaged", ignored);
        for (const char* suffix : { "-wal", "-shm" })
            std::filesystem::remove(path + suffix, ignored);
        std::string retry;
        db = openDatabase(path, retry);
        if (db)
            error.clear();
    }
    if (!db)
        return nullptr;
    return std::unique_ptr<AnalysisStore>(new AnalysisStore(db));
}

std::string AnalysisStore::pathBeside(const std::string& cachePath)
{
    return (std::filesystem::path(cachePath).parent_path() / "Analysis.sqlite").string();
}

AnalysisStore::AnalysisStore(sqlite3* db)
    : m_db(db)
{
}

AnalysisStore::~AnalysisStore()
{
    sqlite3_close(m_db);
}

std::optional<FileIdentity> AnalysisStore::identify(const std::string& path)
{
    struct stat info { };
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    return FileIdentity { path, int64_t(info.st_size),
        int64_t(info.st_mtim.tv_sec) * 1000000000 + int64_t(info.st_mtim.tv_nsec) };
}

std::optional<AnalysisResult> AnalysisStore::find(const FileIdentity& file)
{
    std::lock_guard guard(m_lock);
    constexpr const char* columns
        = "bpm, key, loudness, true_peak, is_loop, duration, error, path, fingerprint, audio_hash";
    {
        Statement byPath(m_db,
            (std::string("SELECT ") + columns
                + " FROM analysis WHERE path = ?1 AND size = ?2 AND modified = ?3 AND version = ?4")
                .c_str());
        if (!byPath.ok())
            return std::nullopt;
        byPath.bind(1, file.path);
        byPath.bind(2, file.size);
        byPath.bind(3, file.modified);
        byPath.bind(4, int64_t(kAnalyserVersion));
        if (sqlite3_step(byPath.get()) == SQLITE_ROW)
            return readResult(byPath);
    }
    // Moved: the same name, size and time under a path that is gone.
    Statement byIdentity(m_db,
        (std::string("SELECT ") + columns
            + " FROM analysis WHERE name = ?1 AND size = ?2 AND modified = ?3 AND version = ?4 AND path != "
              "?5")
            .c_str());
    if (!byIdentity.ok())
        return std::nullopt;
    byIdentity.bind(1, fileName(file.path));
    byIdentity.bind(2, file.size);
    byIdentity.bind(3, file.modified);
    byIdentity.bind(4, int64_t(kAnalyserVersion));
    byIdentity.bind(5, file.path);
    while (sqlite3_step(byIdentity.get()) == SQLITE_ROW) {
        const std::string oldPath = byIdentity.blob(7);
        std::error_code ec;
        if (std::filesystem::exists(oldPath, ec) || ec)
            continue;
        AnalysisResult result = readResult(byIdentity);
        Statement move(m_db, "UPDATE OR REPLACE analysis SET path = ?1 WHERE path = ?2");
        move.bind(1, file.path);
        move.bind(2, oldPath);
        sqlite3_step(move.get());
        return result;
    }
    return std::nullopt;
}

bool AnalysisStore::save(const FileIdentity& file, const AnalysisResult& result)
{
    std::lock_guard guard(m_lock);
    Statement insert(m_db,
        "INSERT OR REPLACE INTO analysis (path, name, size, modified, version, bpm, key, loudness, "
        "true_peak, "
        "is_loop, duration, error, fingerprint, audio_hash) "
        "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14)");
    if (!insert.ok())
        return false;
    insert.bind(1, file.path);
    insert.bind(2, fileName(file.path));
    insert.bind(3, file.size);
    insert.bind(4, file.modified);
    insert.bind(5, int64_t(kAnalyserVersion));
    insert.bind(6, result.bpm);
    if (result.key)
        insert.bindText(7, result.key->keyText());
    insert.bind(8, result.loudness);
    insert.bind(9, result.truePeak);
    if (result.isLoop)
        insert.bind(10, int64_t(*result.isLoop));
    sqlite3_bind_double(insert.get(), 11, result.duration);
    insert.bindText(12, result.error);
    if (result.fingerprinted) {
        insert.bind(13, bytesOf(result.fingerprint));
        insert.bind(14, int64_t(result.audioHash));
    }
    return sqlite3_step(insert.get()) == SQLITE_DONE;
}

bool AnalysisStore::moveFolder(const std::string& from, const std::string& to)
{
    std::lock_guard guard(m_lock);
    // Paths under "from/": from "from/" up to, not including, "from0" ('0' follows '/').
    const std::string low = from + "/", high = from + "0";
    Statement move(m_db,
        "UPDATE OR REPLACE analysis SET path = CAST(?1 || substr(path, ?2) AS BLOB) "
        "WHERE path >= ?3 AND path < ?4");
    if (!move.ok())
        return false;
    move.bind(1, to + "/");
    move.bind(2, int64_t(low.size() + 1));
    move.bind(3, low);
    move.bind(4, high);
    return sqlite3_step(move.get()) == SQLITE_DONE;
}

bool AnalysisStore::remove(const std::string& path)
{
    std::lock_guard guard(m_lock);
    Statement erase(m_db, "DELETE FROM analysis WHERE path = ?1");
    if (!erase.ok())
        return false;
    erase.bind(1, path);
    return sqlite3_step(erase.get()) == SQLITE_DONE;
}

std::vector<FingerprintedFile> AnalysisStore::fingerprints(double shortest, double longest)
{
    std::lock_guard guard(m_lock);
    std::vector<FingerprintedFile> out;
    Statement rows(m_db,
        "SELECT path, duration, audio_hash, fingerprint FROM analysis "
        "WHERE duration >= ?1 AND duration <= ?2 AND audio_hash IS NOT NULL AND error = '' AND version = ?3");
    if (!rows.ok())
        return out;
    sqlite3_bind_double(rows.get(), 1, shortest);
    sqlite3_bind_double(rows.get(), 2, longest);
    rows.bind(3, int64_t(kAnalyserVersion));
    while (sqlite3_step(rows.get()) == SQLITE_ROW)
        out.push_back({ rows.blob(0), sqlite3_column_double(rows.get(), 1),
            uint64_t(sqlite3_column_int64(rows.get(), 2)), words(rows.blob(3)) });
    return out;
}

int64_t AnalysisStore::count()
{
    std::lock_guard guard(m_lock);
    Statement rows(m_db, "SELECT count(*) FROM analysis");
    return rows.ok() && sqlite3_step(rows.get()) == SQLITE_ROW ? sqlite3_column_int64(rows.get(), 0) : 0;
}

} // namespace kivo::analysis
