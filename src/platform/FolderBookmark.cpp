#include "platform/FolderBookmark.h"

#include <QFile>

#include <cstring>
#include <dirent.h>
#include <fcntl.h>
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

bool statFolder(const QString& path, struct stat& st)
{
    const QByteArray native = QFile::encodeName(path);
    return ::stat(native.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

// A folder given a new name where it was keeps its device and file numbers: find it beside the
// recorded path, as a bookmark on the original platform follows a rename.
std::optional<QString> renamedInPlace(const Record& record)
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

void setError(QString* error, const QString& text)
{
    if (error)
        *error = text;
}

} // namespace

std::optional<QByteArray> FolderBookmark::create(const QString& path, QString* error)
{
    struct stat st { };
    if (!path.startsWith(QLatin1Char('/')) || !statFolder(path, st)) {
        setError(error, QStringLiteral("The folder \u201c%1\u201d doesn\u2019t exist.").arg(path));
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
    if (!statFolder(record->path, st)) {
        setError(
            error, QStringLiteral("The folder \u201c%1\u201d couldn\u2019t be found.").arg(record->path));
        return std::nullopt;
    }
    ResolvedBookmark out;
    out.path = record->path;
    // Device numbers can change across reboots for some file systems; the file number is what
    // tells a different folder now sitting at the same path.
    out.stale = quint64(st.st_ino) != record->inode;
    return out;
}

std::optional<QString> FolderBookmark::findRenamed(const QByteArray& bookmark)
{
    std::optional<Record> record = decode(bookmark);
    struct stat st { };
    if (!record || statFolder(record->path, st))
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

bool FolderBookmark::startAccessing(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    return ::access(native.constData(), R_OK | X_OK) == 0;
}

void FolderBookmark::stopAccessing(const QString&)
{
    // Plain permissions on Linux: nothing was opened, so there is nothing to give back.
}

} // namespace kivo::platform
