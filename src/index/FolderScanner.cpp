#include "index/FolderScanner.h"

#include "index/FolderListing.h"
#include "music/BpmFromName.h"
#include "music/MusicalKey.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <unistd.h>

namespace kivo::index {

namespace {

std::string_view withoutLastComponent(std::string_view path)
{
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash);
}

std::string_view lastComponent(std::string_view path)
{
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string join(const std::string& folder, const std::string& name)
{
    std::string path;
    path.reserve(folder.size() + 1 + name.size());
    if (folder != "/")
        path += folder;
    path += '/';
    path += name;
    return path;
}

double systemReferenceNow()
{
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count() - kReferenceDateOffset;
}

} // namespace

FolderAccess platformFolderAccess()
{
    // On Linux a folder's scope is open when the folder can be read and entered.
    return { [](const std::string& path) { return ::access(path.c_str(), R_OK | X_OK) == 0; },
        [](const std::string&) {} };
}

ProgressObserver onMainThread(ProgressObserver observer)
{
    if (!observer)
        return {};
    return [observer = std::move(observer)](const IndexProgress& progress) {
        QCoreApplication* app = QCoreApplication::instance();
        if (!app) {
            observer(progress);
            return;
        }
        QMetaObject::invokeMethod(
            app, [observer, progress] { observer(progress); }, Qt::QueuedConnection);
    };
}

FolderScanner::FolderScanner(
    CancelHandle cancel, ProgressObserver progress, HeaderReader reader, ReferenceClock clock)
    : m_cancel(std::move(cancel))
    , m_progress(std::move(progress))
    , m_reader(std::move(reader))
    , m_clock(clock ? std::move(clock) : ReferenceClock(systemReferenceNow))
{
}

void FolderScanner::report(const IndexProgress& progress) const
{
    if (m_progress)
        m_progress(progress);
}

void FolderScanner::startIndexingPhase()
{
    m_counters.step = std::max<std::int64_t>(1, m_counters.total / 200);
    m_counters.nextReport = m_counters.step;
}

bool FolderScanner::revisits(const std::string& folder, std::optional<FolderIdentity> identity)
{
    if (!identity) {
        const auto stamp = folderStamp(folder);
        if (!stamp || !stamp->inode)
            return false;
        identity = FolderIdentity { stamp->device, *stamp->inode };
    }
    for (std::size_t i = 0; i < m_countPath.size(); ++i) {
        if (!m_countIds[i]) {
            const auto stamp = folderStamp(m_countPath[i]);
            m_countIds[i] = stamp && stamp->inode
                ? std::optional(FolderIdentity { stamp->device, *stamp->inode })
                : std::optional(FolderIdentity { ~0ull, ~0ull });
        }
        if (m_countIds[i]->device == identity->device && m_countIds[i]->inode == identity->inode)
            return true;
    }
    return false;
}

void FolderScanner::countFiles(const std::string& folder)
{
    if (cancelled())
        return;
    std::vector<FolderEntry> entries;
    if (!listFolder(folder, entries))
        return;
    m_countPath.push_back(folder);
    m_countIds.push_back(std::nullopt);
    for (const auto& entry : entries) {
        if (cancelled())
            break;
        if (entry.kind == EntryKind::folder) {
            ++m_counters.folders;
            if (m_progress && m_counters.folders % 50 == 0) {
                const double fraction = m_counters.total > 0
                    ? std::min(double(m_counters.indexed) / double(m_counters.total), 1.0)
                    : 0.0;
                report({ fraction, m_counters.indexed, m_counters.total, m_counters.folders, true });
            }
            const std::string path = join(folder, entry.name);
            // Only a link can lead back to a folder being counted; the identities are read lazily.
            if (!entry.viaLink || !revisits(path, std::nullopt))
                countFiles(path);
        } else if (hasCompatibleExtension(entry.name)) {
            ++m_counters.total;
        }
    }
    m_countPath.pop_back();
    m_countIds.pop_back();
}

FolderValues FolderScanner::folderMetadata(std::string_view filePath, std::string_view root)
{
    FolderValues values;
    const std::string_view parentOfRoot = withoutLastComponent(root);
    std::string_view folder = withoutLastComponent(filePath);
    if (folder.size() < 2 || folder == parentOfRoot)
        return values;
    while (true) {
        const std::string_view name = lastComponent(folder);
        if (!values.bpm)
            values.bpm = music::bpmFromNamePattern(name);
        if (!values.key) {
            if (auto key = music::MusicalKey::fromName(name, music::LoneAccidental::reject))
                values.key = key->keyText();
        }
        if (values.bpm && values.key)
            break;
        folder = withoutLastComponent(folder);
        if (folder == parentOfRoot || folder.size() < 2)
            break;
    }
    return values;
}

FileInfo FolderScanner::fileInfoFor(
    const std::string& path, const std::string& root, std::optional<FolderValues>& folderValues) const
{
    FileInfo file;
    file.id = stableFileID(path);
    file.path = path;
    file.name = displayNameOfPath(path);
    const HeaderValues header = m_reader ? m_reader(path) : HeaderValues();
    file.bpm = header.bpm;
    if (!file.bpm)
        file.bpm = music::bpmFromName(file.name);
    file.key = header.key;
    if (!file.key) {
        if (auto key = music::MusicalKey::fromName(file.name, music::LoneAccidental::accept))
            file.key = key->keyText();
    }
    if (!file.bpm || !file.key) {
        if (!folderValues)
            folderValues = folderMetadata(path, root);
        if (!file.bpm)
            file.bpm = folderValues->bpm;
        if (!file.key)
            file.key = folderValues->key;
    }
    file.duration = header.duration;
    return file;
}

void FolderScanner::indexDirectory(
    const std::string& folder, const GroupID& groupID, const std::string& root, IndexBuilder& builder)
{
    if (cancelled())
        return;
    const auto stamp = folderStamp(folder);
    if (stamp && stamp->inode) {
        // A folder link back to a folder being indexed would never end: it stays listed in its
        // parent's sub-folders but is not walked again.
        for (const auto& id : m_indexIds)
            if (id.device == stamp->device && id.inode == *stamp->inode)
                return;
    }
    std::vector<FolderEntry> entries;
    if (!listFolder(folder, entries)) {
        std::printf("Error indexing directory %s\n", folder.c_str());
        std::fflush(stdout);
        return;
    }
    m_indexIds.push_back(stamp && stamp->inode ? FolderIdentity { stamp->device, *stamp->inode }
                                               : FolderIdentity { ~0ull, ~0ull });

    DirectoryInfo info;
    info.path = folder;
    std::optional<FolderValues> folderValues;
    std::optional<std::vector<std::string>> keywords;
    bool stopped = false;
    for (const auto& entry : entries) {
        if (cancelled()) {
            stopped = true;
            break;
        }
        std::string path = join(folder, entry.name);
        if (entry.kind == EntryKind::folder) {
            info.subdirectories.push_back(path);
            indexDirectory(info.subdirectories.back(), groupID, root, builder);
            continue;
        }
        if (!hasCompatibleExtension(entry.name))
            continue; // alias files do not exist here, so every compatible file is indexed
        FileInfo file = fileInfoFor(path, root, folderValues);
        if (!keywords)
            keywords = keywordsForPath(path, root);
        builder.add(file, groupID, *keywords);
        info.files.push_back(std::move(file));
        if (m_progress) {
            ++m_counters.indexed;
            if (m_counters.indexed >= m_counters.nextReport) {
                m_counters.nextReport += m_counters.step;
                const double fraction = m_counters.total < 1
                    ? 1.0
                    : std::min(double(m_counters.indexed) / double(m_counters.total), 1.0);
                report({ fraction, m_counters.indexed, m_counters.total, m_counters.folders, false });
            }
        }
    }
    m_indexIds.pop_back();
    if (stopped || cancelled())
        return;
    info.lastModified = m_clock();
    if (stamp) {
        info.contentModified = stamp->contentModified;
        info.inode = stamp->inode;
    }
    builder.directoryIndex.insert_or_assign(folder, std::move(info));
}

} // namespace kivo::index
