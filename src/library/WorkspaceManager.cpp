#include "library/WorkspaceManager.h"

#include "library/UserSettings.h"
#include "platform/Clock.h"
#include "platform/NotificationCenter.h"
#include "platform/PreferenceStore.h"
#include "platform/StaleTemporaries.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <cassert>
#include <cstdio>

namespace kivo::library {

namespace {

constexpr char kFirstWorkspaceName[] = "Workspace 1";
// Far beyond any real workspace (the preference file itself has the same bound).
constexpr qint64 kMaxBackupBytes = qint64(256) << 20;

void logLine(const QString& line)
{
    std::fprintf(stdout, "%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

std::optional<QByteArray> readSmallFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxBackupBytes)
        return std::nullopt;
    QByteArray bytes = file.read(kMaxBackupBytes + 1);
    if (bytes.size() > kMaxBackupBytes || file.error() != QFileDevice::NoError)
        return std::nullopt;
    return bytes;
}

} // namespace

QString canonicalUuid(const QUuid& id)
{
    return id.toString(QUuid::WithoutBraces).toUpper();
}

QList<Workspace> decodeWorkspaceRegistry(const QByteArray& json)
{
    const QJsonDocument doc = QJsonDocument::fromJson(json);
    QList<Workspace> out;
    if (!doc.isArray())
        return out;
    for (const QJsonValue& item : doc.array()) {
        const QJsonObject object = item.toObject();
        const QUuid id = QUuid::fromString(object.value(QStringLiteral("id")).toString());
        const QJsonValue name = object.value(QStringLiteral("name"));
        if (id.isNull() || !name.isString())
            continue;
        const bool duplicate
            = std::any_of(out.cbegin(), out.cend(), [&](const Workspace& w) { return w.id == id; });
        if (!duplicate)
            out.append({ id, name.toString() });
    }
    return out;
}

QByteArray encodeWorkspaceRegistry(const QList<Workspace>& workspaces)
{
    QJsonArray array;
    for (const Workspace& w : workspaces)
        array.append(QJsonObject {
            { QStringLiteral("id"), canonicalUuid(w.id) }, { QStringLiteral("name"), w.name } });
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

bool writeFileAtomically(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        logLine(QStringLiteral("Error writing workspace file: ") + path + QStringLiteral(": ")
            + file.errorString());
        return false;
    }
    return true;
}

QString WorkspaceManager::defaultFolder()
{
    QString base;
    const QByteArray data = qgetenv("XDG_DATA_HOME");
    if (data.startsWith('/'))
        base = QFile::decodeName(data);
    else if (const QByteArray home = qgetenv("HOME"); !home.isEmpty())
        base = QFile::decodeName(home) + QStringLiteral("/.local/share");
    else
        return QDir::tempPath() + QStringLiteral("/KIVO Browser/Workspaces");
    return base + QStringLiteral("/KIVO Browser/Workspaces");
}

WorkspaceManager::WorkspaceManager(
    platform::PreferenceStore& store, WorkspaceManagerOptions options, QObject* parent)
    : QObject(parent)
    , m_store(store)
    , m_options(std::move(options))
    , m_clock(m_options.clock ? m_options.clock : &platform::Clock::system())
{
    assert(m_options.background);
    if (m_options.folder.isEmpty())
        m_options.folder = defaultFolder();

    const auto registry = m_store.dataValue(QString::fromLatin1(kWorkspaceRegistryKey));
    m_workspaces = registry ? decodeWorkspaceRegistry(*registry) : QList<Workspace>();
    if (m_workspaces.isEmpty()) {
        // The user's existing state becomes the first workspace, unchanged. The registry is on disk
        // before the file: a kill in between leaves a workspace whose file is written at the next
        // switch, never a stray file.
        m_workspaces = { { QUuid::createUuid(), QString::fromLatin1(kFirstWorkspaceName) } };
        m_activeID = m_workspaces.first().id;
        saveRegistry();
        m_store.flush();
        const QVariantMap values = liveValues();
        const QString path = filePath(m_activeID);
        const PathExists exists = m_options.exists;
        runDisk([values, path, exists]() -> std::function<void()> {
            if (const auto bytes = encodeBackup(values, exists))
                writeFileAtomically(path, *bytes);
            return {};
        });
        return;
    }
    const auto active = m_store.stringValue(QString::fromLatin1(kActiveWorkspaceIDKey));
    const QUuid id = active ? QUuid::fromString(*active) : QUuid();
    const bool known = !id.isNull()
        && std::any_of(
            m_workspaces.cbegin(), m_workspaces.cend(), [&](const Workspace& w) { return w.id == id; });
    m_activeID = known ? id : m_workspaces.first().id;
    saveRegistry();
    // Saves killed half-way leave their temporaries beside the workspace files.
    QStringList paths;
    for (const Workspace& w : std::as_const(m_workspaces))
        paths.append(filePath(w.id));
    runDisk([paths]() -> std::function<void()> {
        for (const QString& path : paths)
            platform::removeStaleTemporaries(QFile::encodeName(path).toStdString());
        return {};
    });
}

WorkspaceManager::~WorkspaceManager()
{
    *m_alive = false;
    QObject::disconnect(m_loadToken);
}

void WorkspaceManager::setIndexBusy(bool busy)
{
    if (m_indexBusy == busy)
        return;
    m_indexBusy = busy;
    emit busyChanged();
}

std::optional<Workspace> WorkspaceManager::activeWorkspace() const
{
    for (const Workspace& w : m_workspaces)
        if (w.id == m_activeID)
            return w;
    return std::nullopt;
}

QString WorkspaceManager::filePath(const QUuid& id) const
{
    return m_options.folder + QLatin1Char('/') + canonicalUuid(id) + QStringLiteral(".")
        + QString::fromLatin1(kBackupExtension);
}

QString WorkspaceManager::uniqueName(const QString& base) const
{
    const auto taken = [this](const QString& name) {
        return std::any_of(
            m_workspaces.cbegin(), m_workspaces.cend(), [&](const Workspace& w) { return w.name == name; });
    };
    if (!taken(base))
        return base;
    for (int n = 2;; ++n) {
        const QString candidate = base + QLatin1Char(' ') + QString::number(n);
        if (!taken(candidate))
            return candidate;
    }
}

void WorkspaceManager::saveRegistry()
{
    m_store.setValue(QString::fromLatin1(kWorkspaceRegistryKey), encodeWorkspaceRegistry(m_workspaces));
    m_store.setValue(QString::fromLatin1(kActiveWorkspaceIDKey), canonicalUuid(m_activeID));
    emit workspacesChanged();
}

QVariantMap WorkspaceManager::liveValues() const
{
    return backupValues(m_store);
}

void WorkspaceManager::applyOrClear(const std::optional<QVariantMap>& values)
{
    if (values)
        applyBackupValues(m_store, *values);
    else
        clearManagedKeys(m_store);
}

void WorkspaceManager::setLoading(bool loading)
{
    if (m_isLoading == loading)
        return;
    m_isLoading = loading;
    emit isLoadingChanged();
    emit busyChanged();
}

void WorkspaceManager::runDisk(WorkspaceJob job)
{
    m_diskJobs.push_back(std::move(job));
    if (!m_diskRunning)
        runNextDisk();
}

void WorkspaceManager::runNextDisk()
{
    if (m_diskJobs.empty()) {
        m_diskRunning = false;
        return;
    }
    m_diskRunning = true;
    WorkspaceJob job = std::move(m_diskJobs.front());
    m_diskJobs.pop_front();
    std::weak_ptr<bool> alive = m_alive;
    m_options.background([this, alive, job = std::move(job)]() -> std::function<void()> {
        std::function<void()> then = job();
        return [this, alive, then = std::move(then)] {
            if (alive.expired())
                return;
            if (then)
                then();
            runNextDisk();
        };
    });
}

bool WorkspaceManager::changeWorkspace(Body body)
{
    if (isBusy())
        return false;
    setLoading(true);
    platform::NotificationCenter::shared().post(QString::fromLatin1(kStopAudioNotification));
    // Playback gets a moment to stop before the stores change under it.
    std::weak_ptr<bool> alive = m_alive;
    m_clock->after(kBodyDelay, [this, alive, body = std::move(body)] {
        if (alive.expired())
            return;
        body([this, alive] {
            if (!alive.expired())
                afterBody();
        });
    });
    return true;
}

void WorkspaceManager::afterBody()
{
    if (m_options.reloadStores)
        m_options.reloadStores();
    if (m_options.resetMissingTracker)
        m_options.resetMissingTracker();

    QObject::disconnect(m_loadToken);
    const quint64 generation = ++m_loadGeneration;
    m_loadToken
        = platform::NotificationCenter::shared().observe(QString::fromLatin1(kPathsSyncedNotification), this,
            [this, generation](const QVariantMap&) { finishLoading(generation); });
    std::weak_ptr<bool> alive = m_alive;
    m_clock->after(kLoadTimeout, [this, alive, generation] {
        if (!alive.expired())
            finishLoading(generation);
    });
    if (m_options.rebuildIndex)
        m_options.rebuildIndex();
}

void WorkspaceManager::finishLoading(quint64 generation)
{
    // A timeout left over from an earlier load does nothing.
    if (generation != m_loadGeneration || !m_isLoading)
        return;
    QObject::disconnect(m_loadToken);
    m_loadToken = {};
    platform::NotificationCenter::shared().post(QString::fromLatin1(kWorkspaceDidLoadNotification));
    setLoading(false);
}

bool WorkspaceManager::switchTo(const QUuid& id)
{
    if (id == m_activeID)
        return true;
    if (!std::any_of(
            m_workspaces.cbegin(), m_workspaces.cend(), [&](const Workspace& w) { return w.id == id; }))
        return false;
    return changeWorkspace([this, id](std::function<void()> finished) {
        const QVariantMap values = liveValues();
        const QString activePath = filePath(m_activeID);
        const QString targetPath = filePath(id);
        const PathExists exists = m_options.exists;
        runDisk([=, this, finished = std::move(finished)]() -> std::function<void()> {
            if (const auto bytes = encodeBackup(values, exists))
                writeFileAtomically(activePath, *bytes);
            const auto bytes = readSmallFile(targetPath);
            std::optional<QVariantMap> target = bytes ? parseBackup(*bytes) : std::nullopt;
            if (!target)
                logLine(QStringLiteral("Workspace file missing or invalid, starting from defaults: ")
                    + targetPath);
            return [this, id, target = std::move(target), finished] {
                m_activeID = id;
                saveRegistry();
                applyOrClear(target);
                finished();
            };
        });
    });
}

bool WorkspaceManager::newWorkspace(const QString& name)
{
    return changeWorkspace([this, name](std::function<void()> finished) {
        const QVariantMap values = liveValues();
        const QString activePath = filePath(m_activeID);
        const PathExists exists = m_options.exists;
        runDisk([=, this, finished = std::move(finished)]() -> std::function<void()> {
            if (const auto bytes = encodeBackup(values, exists))
                writeFileAtomically(activePath, *bytes);
            return [this, name, finished] {
                const Workspace created { QUuid::createUuid(), uniqueName(name) };
                m_workspaces.append(created);
                m_activeID = created.id;
                saveRegistry();
                clearManagedKeys(m_store);
                finished();
            };
        });
    });
}

bool WorkspaceManager::importWorkspace(const QByteArray& data, const QString& name)
{
    std::optional<QVariantMap> imported = parseBackup(data);
    if (!imported)
        return false;
    return changeWorkspace([this, data, name, imported](std::function<void()> finished) {
        const QVariantMap values = liveValues();
        const QString activePath = filePath(m_activeID);
        const Workspace created { QUuid::createUuid(), uniqueName(name) };
        const QString newPath = filePath(created.id);
        const PathExists exists = m_options.exists;
        runDisk([=, this, finished = std::move(finished)]() -> std::function<void()> {
            if (const auto bytes = encodeBackup(values, exists))
                writeFileAtomically(activePath, *bytes);
            writeFileAtomically(newPath, data);
            return [this, created, imported, finished] {
                Workspace added = created;
                added.name = uniqueName(created.name);
                m_workspaces.append(added);
                m_activeID = added.id;
                saveRegistry();
                applyBackupValues(m_store, *imported);
                finished();
            };
        });
    });
}

void WorkspaceManager::duplicateWorkspace(
    const QUuid& id, const QString& name, std::function<void(bool)> done)
{
    const QVariantMap values = liveValues();
    const QString activePath = filePath(m_activeID);
    const QString sourcePath = filePath(id);
    const QUuid newID = QUuid::createUuid();
    const QString newPath = filePath(newID);
    const PathExists exists = m_options.exists;
    runDisk([=, this]() -> std::function<void()> {
        if (const auto bytes = encodeBackup(values, exists))
            writeFileAtomically(activePath, *bytes);
        const auto source = readSmallFile(sourcePath);
        const bool copied = source && writeFileAtomically(newPath, *source);
        return [this, copied, newID, name, done] {
            if (copied) {
                m_workspaces.append({ newID, uniqueName(name) });
                saveRegistry();
            }
            if (done)
                done(copied);
        };
    });
}

void WorkspaceManager::renameWorkspace(const QUuid& id, const QString& name)
{
    const QString trimmed = name.trimmed();
    if (trimmed.isEmpty())
        return;
    for (Workspace& w : m_workspaces)
        if (w.id == id) {
            w.name = trimmed;
            saveRegistry();
            return;
        }
}

bool WorkspaceManager::deleteWorkspace(const QUuid& id)
{
    if (m_workspaces.size() < 2)
        return true;
    const auto index = std::find_if(
        m_workspaces.cbegin(), m_workspaces.cend(), [&](const Workspace& w) { return w.id == id; });
    if (index == m_workspaces.cend())
        return true;
    const QString path = filePath(id);
    if (id != m_activeID) {
        m_workspaces.removeAt(index - m_workspaces.cbegin());
        saveRegistry();
        runDisk([path]() -> std::function<void()> {
            QFile::remove(path);
            return {};
        });
        return true;
    }
    return changeWorkspace([this, id, path](std::function<void()> finished) {
        const qsizetype at = std::find_if(m_workspaces.cbegin(), m_workspaces.cend(),
                                 [&](const Workspace& w) { return w.id == id; })
            - m_workspaces.cbegin();
        // The neighbour above takes over, or the one below when the first is deleted.
        const QUuid next = m_workspaces.at(at > 0 ? at - 1 : 1).id;
        const QString nextPath = filePath(next);
        runDisk([=, this, finished = std::move(finished)]() -> std::function<void()> {
            QFile::remove(path);
            const auto bytes = readSmallFile(nextPath);
            std::optional<QVariantMap> target = bytes ? parseBackup(*bytes) : std::nullopt;
            return [this, id, next, target = std::move(target), finished] {
                m_workspaces.removeIf([&](const Workspace& w) { return w.id == id; });
                m_activeID = next;
                saveRegistry();
                applyOrClear(target);
                finished();
            };
        });
    });
}

void WorkspaceManager::exportTo(const QString& path, std::function<void(bool)> done)
{
    const QVariantMap values = liveValues();
    const PathExists exists = m_options.exists;
    runDisk([=]() -> std::function<void()> {
        const auto bytes = encodeBackup(values, exists);
        const bool written = bytes && writeFileAtomically(path, *bytes);
        return [done, written] {
            if (done)
                done(written);
        };
    });
}

void WorkspaceManager::readBackupFile(
    const QString& path, std::function<void(std::optional<QByteArray>)> done)
{
    runDisk([=]() -> std::function<void()> {
        std::optional<QByteArray> bytes = readSmallFile(path);
        if (bytes && !isValidBackup(*bytes))
            bytes.reset();
        return [done, bytes] {
            if (done)
                done(bytes);
        };
    });
}

} // namespace kivo::library
