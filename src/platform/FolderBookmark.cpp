#include "platform/FolderBookmark.h"

#include "platform/PathProbe.h"

#include <QFile>
#include <QStringList>

#include <atomic>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace kivo::platform {

namespace {

// "KVBM", version 1, device, file number, path length, UTF-8 path; little-endian.
constexpr char kMagic[4] = { 'K', 'V', 'B', 'M' };
constexpr quint8 kVersion = 1;
constexpr int kHeaderSize = 4 + 1 + 8 + 8 + 4;

struct Record {
    quint64 device = 0;
    quint64 inode = 0;
    QString path;
};

void putU64(QByteArray& out, quint64 v)
{
    for (int i = 0; i < 8; ++i)
        out.append(char((v >> (8 * i)) & 0xff));
}

quint64 getU64(const char* p)
{
    quint64 v = 0;
    for (int i = 7; i >= 0; --i)
        v = (v << 8) | quint8(p[i]);
    return v;
}

std::optional<Record> decode(const QByteArray& blob)
{
    if (blob.size() < kHeaderSize || std::memcmp(blob.constData(), kMagic, 4) != 0
        || quint8(blob[4]) != kVersion)
        return std::nullopt;
    const char* p = blob.constData() + 5;
    Record r;
    r.device = getU64(p);
    r.inode = getU64(p + 8);
    quint32 length = 0;
    for (int i = 3; i >= 0; --i)
        length = (length << 8) | quint8(p[16 + i]);
    if (qsizetype(length) != blob.size() - kHeaderSize || length == 0)
        return std::nullopt;
    r.path = QString::fromUtf8(blob.constData() + kHeaderSize, length);
    if (!r.path.startsWith(QLatin1Char('/')))
        return std::nullopt;
    return r;
}

int systemStat(const char* path, struct stat* out)
{
    return ::stat(path, out);
}

std::atomic<FolderBookmark::StatFunction> g_stat { &systemStat };

enum class Answer { folder, absent, notAnswering };

// The question for one folder, as a probe job writing into `out` (which the job shares).
struct FolderQuestion {
    struct stat st { };
    bool isFolder = false;
};

std::function<void()> askFolder(const QString& path, const std::shared_ptr<FolderQuestion>& out)
{
    return [native = QFile::encodeName(path), out, fn = g_stat.load()] {
        out->isFolder = fn(native.constData(), &out->st) == 0 && S_ISDIR(out->st.st_mode);
    };
}

Answer statFolder(const QString& path, struct stat& st)
{
    auto question = std::make_shared<FolderQuestion>();
    if (!PathProbe::run(path, askFolder(path, question)))
        return Answer::notAnswering;
    st = question->st;
    return question->isFolder ? Answer::folder : Answer::absent;
}

QString notAnsweringText(const QString& path)
{
    return QStringLiteral("The folder \u201c%1\u201d isn\u2019t answering.").arg(path);
}

// A folder given a new name where it was keeps its device and file numbers: find it beside the
// recorded path, as a bookmark on the original platform follows a rename.
std::optional<QString> renamedInPlaceNow(const Record& record)
{
    const qsizetype slash = record.path.lastIndexOf(QLatin1Char('/'));
    if (slash <= 0 || record.inode == 0)
        return std::nullopt;
    const QString parent = record.path.left(slash);
    DIR* dir = ::opendir(QFile::encodeName(parent).constData());
    if (!dir)
        return std::nullopt;
    std::optional<QString> found;
    while (const dirent* e = ::readdir(dir)) {
        if (e->d_type != DT_DIR && e->d_type != DT_UNKNOWN)
            continue;
        if (quint64(e->d_ino) != record.inode && e->d_type == DT_DIR)
            continue; // d_ino equals st_ino except across mount points, which a root never is
        if (!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, ".."))
            continue;
        struct stat st { };
        if (::fstatat(::dirfd(dir), e->d_name, &st, 0) != 0 || !S_ISDIR(st.st_mode))
            continue;
        if (quint64(st.st_ino) == record.inode && quint64(st.st_dev) == record.device) {
            found = parent + QLatin1Char('/') + QFile::decodeName(e->d_name);
            break;
        }
    }
    ::closedir(dir);
    return found;
}

std::optional<QString> renamedInPlace(const Record& record)
{
    auto found = std::make_shared<std::optional<QString>>();
    const QString parent = record.path.section(QLatin1Char('/'), 0, -2);
    if (!PathProbe::run(parent.isEmpty() ? QStringLiteral("/") : parent,
            [record, found] { *found = renamedInPlaceNow(record); }))
        return std::nullopt;
    return *found;
}

void setError(QString* error, const QString& text)
{
    if (error)
        *error = text;
}

std::optional<ResolvedBookmark> resolved(
    const Record& record, Answer answer, const struct stat& st, QString* error)
{
    if (answer != Answer::folder) {
        setError(error,
            answer == Answer::notAnswering
                ? notAnsweringText(record.path)
                : QStringLiteral("The folder \u201c%1\u201d couldn\u2019t be found.").arg(record.path));
        return std::nullopt;
    }
    ResolvedBookmark out;
    out.path = record.path;
    // Device numbers can change across reboots for some file systems; the file number is what
    // tells a different folder now sitting at the same path.
    out.stale = quint64(st.st_ino) != record.inode;
    return out;
}

} // namespace

std::optional<QByteArray> FolderBookmark::create(const QString& path, QString* error)
{
    struct stat st { };
    const Answer answer = path.startsWith(QLatin1Char('/')) ? statFolder(path, st) : Answer::absent;
    if (answer != Answer::folder) {
        setError(error,
            answer == Answer::notAnswering
                ? notAnsweringText(path)
                : QStringLiteral("The folder \u201c%1\u201d doesn\u2019t exist.").arg(path));
        return std::nullopt;
    }
    QString clean = path;
    while (clean.size() > 1 && clean.endsWith(QLatin1Char('/')))
        clean.chop(1);
    const QByteArray utf8 = clean.toUtf8();
    QByteArray out;
    out.reserve(kHeaderSize + utf8.size());
    out.append(kMagic, 4);
    out.append(char(kVersion));
    putU64(out, quint64(st.st_dev));
    putU64(out, quint64(st.st_ino));
    const quint32 length = quint32(utf8.size());
    for (int i = 0; i < 4; ++i)
        out.append(char((length >> (8 * i)) & 0xff));
    out.append(utf8);
    return out;
}

std::optional<ResolvedBookmark> FolderBookmark::resolve(const QByteArray& bookmark, QString* error)
{
    std::optional<Record> record = decode(bookmark);
    if (!record) {
        setError(error, QStringLiteral("The bookmark data isn\u2019t in the correct format."));
        return std::nullopt;
    }
    struct stat st { };
    return resolved(*record, statFolder(record->path, st), st, error);
}

std::vector<std::optional<ResolvedBookmark>> FolderBookmark::resolveAll(
    const QList<QByteArray>& bookmarks, std::vector<bool>* notAnswering)
{
    std::vector<std::optional<Record>> records;
    std::vector<std::shared_ptr<FolderQuestion>> questions;
    std::vector<PathProbe::Job> jobs;
    for (const QByteArray& bookmark : bookmarks) {
        records.push_back(decode(bookmark));
        questions.push_back(std::make_shared<FolderQuestion>());
        if (records.back())
            jobs.emplace_back(records.back()->path, askFolder(records.back()->path, questions.back()));
    }
    const std::vector<bool> answered = PathProbe::runAll(std::move(jobs));
    std::vector<std::optional<ResolvedBookmark>> out;
    if (notAnswering)
        notAnswering->assign(records.size(), false);
    std::size_t job = 0;
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (!records[i]) {
            out.emplace_back();
            continue;
        }
        if (notAnswering)
            (*notAnswering)[i] = !answered[job];
        const FolderQuestion& q = *questions[i];
        const Answer answer = !answered[job++] ? Answer::notAnswering
            : q.isFolder                       ? Answer::folder
                                               : Answer::absent;
        out.push_back(resolved(*records[i], answer, q.st, nullptr));
    }
    return out;
}

std::optional<QString> FolderBookmark::findRenamed(const QByteArray& bookmark)
{
    std::optional<Record> record = decode(bookmark);
    struct stat st { };
    // A folder that does not answer may well be there: only one known to be gone is looked for.
    if (!record || statFolder(record->path, st) != Answer::absent)
        return std::nullopt;
    return renamedInPlace(*record);
}

std::optional<QString> FolderBookmark::storedPath(const QByteArray& bookmark)
{
    std::optional<Record> record = decode(bookmark);
    if (!record)
        return std::nullopt;
    return record->path;
}

namespace {

std::function<void()> askAccess(const QString& path, const std::shared_ptr<bool>& readable)
{
    return [native = QFile::encodeName(path), readable, fn = g_stat.load()] {
        struct stat st { };
        *readable = fn(native.constData(), &st) == 0 && ::access(native.constData(), R_OK | X_OK) == 0;
    };
}

} // namespace

bool FolderBookmark::startAccessing(const QString& path)
{
    auto readable = std::make_shared<bool>(false);
    return PathProbe::run(path, askAccess(path, readable)) && *readable;
}

void FolderBookmark::startAccessingAll(const QStringList& paths)
{
    // Nothing is kept open on Linux and nobody waits for the answers: asking early is what finds a
    // root that stalls before a sync plans it.
    std::vector<PathProbe::Job> jobs;
    for (const QString& path : paths)
        jobs.emplace_back(path, askAccess(path, std::make_shared<bool>(false)));
    PathProbe::inBackground(std::move(jobs));
}

void FolderBookmark::setStatFunction(StatFunction fn)
{
    g_stat.store(fn ? fn : &systemStat);
}

void FolderBookmark::stopAccessing(const QString&)
{
    // Plain permissions on Linux: nothing was opened, so there is nothing to give back.
}

} // namespace kivo::platform
