#include "index/FolderScanner.h"

#include "index/FolderListing.h"
#include "music/BpmFromName.h"
#include "music/MusicalKey.h"
#include "platform/MainThread.h"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <thread>
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

// Files queued ahead of the walk at most: enough to keep the readers busy, little enough that a huge
// folder does not hold all its paths twice.
constexpr std::size_t kMaxAhead = 64;

// Entries the counting pass keeps for the walk at most (a few tens of megabytes): a larger library has
// its folders beyond that listed again by the walk.
constexpr std::size_t kMaxKeptEntries = 1 << 20;

double systemReferenceNow()
{
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count() - kReferenceDateOffset;
}

} // namespace

unsigned defaultReadAheadThreads()
{
    // One reader beside the walk fills a second core; more pay off only where there are more cores.
    const unsigned cores = std::thread::hardware_concurrency();
    return cores >= 4 ? 2 : 1;
}

// The records of one folder's files, made on whichever thread gets to them first. The folder values
// are the same for every file of the folder and are worked out once, when a file first needs them.
class FolderScanner::FolderFiles final : public FolderWork {
public:
    FolderFiles(const FolderScanner& scanner, const std::string& folder, const std::string& root)
        : m_scanner(scanner)
        , m_root(root)
        , m_folder(folder)
        , m_folderFd(scanner.m_reader ? ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC) : -1)
    {
    }
    ~FolderFiles()
    {
        if (m_folderFd >= 0)
            ::close(m_folderFd);
    }
    FolderFiles(const FolderFiles&) = delete;
    FolderFiles& operator=(const FolderFiles&) = delete;

    FileRecord make(const std::string& path) override
    {
        const FolderHandleScope folder(m_folderFd, m_folder);
        FileRecord record;
        record.file = m_scanner.makeFileInfo(path, m_root, [&]() -> const FolderValues& {
            std::call_once(m_once, [&] { m_values = folderMetadata(path, m_root); });
            return m_values;
        });
        record.tokens = tokenize(record.file.name, 1);
        return record;
    }

private:
    const FolderScanner& m_scanner;
    const std::string& m_root;
    const std::string m_folder;
    const int m_folderFd; // the folder's files are opened beside it
    std::once_flag m_once;
    FolderValues m_values;
};

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
        platform::queueCall(app, [observer, progress] { observer(progress); });
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
    Listing listing;
    listing.stamp = folderStamp(folder);
    if (!listFolder(folder, listing.entries))
        return;
    m_countPath.push_back(folder);
    m_countIds.push_back(listing.stamp && listing.stamp->inode
            ? std::optional(FolderIdentity { listing.stamp->device, *listing.stamp->inode })
            : std::optional(FolderIdentity { ~0ull, ~0ull }));
    for (const auto& entry : listing.entries) {
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
            // Only a link can lead back to a folder being counted.
            if (!entry.viaLink || !revisits(path, std::nullopt))
                countFiles(path);
        } else if (hasCompatibleExtension(entry.name)) {
            ++m_counters.total;
        }
    }
    m_countPath.pop_back();
    m_countIds.pop_back();
    if (!cancelled() && m_listedEntries + listing.entries.size() <= kMaxKeptEntries) {
        m_listedEntries += listing.entries.size();
        m_listed.insert_or_assign(folder, std::move(listing));
    }
}

std::optional<FolderScanner::Listing> FolderScanner::takeListing(const std::string& folder)
{
    const auto kept = m_listed.find(folder);
    if (kept == m_listed.end())
        return std::nullopt;
    Listing listing = std::move(kept->second);
    m_listedEntries -= listing.entries.size();
    m_listed.erase(kept);
    return listing;
}

FolderValues FolderScanner::folderMetadata(std::string_view filePath, std::string_view root)
{
    FolderValues values;
    while (root.size() > 1 && root.back() == '/')
        root.remove_suffix(1); // "/Samples/" is the folder "/Samples"
    const std::string_view parentOfRoot = withoutLastComponent(root);
    std::string_view folder = withoutLastComponent(filePath);
    if (folder.size() < 2 || folder == parentOfRoot)
        return values;
    while (true) {
        const std::string composed = toNFC(lastComponent(folder));
        const std::string_view name = composed;
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
    return makeFileInfo(path, root, [&]() -> const FolderValues& {
        if (!folderValues)
            folderValues = folderMetadata(path, root);
        return *folderValues;
    });
}

template <typename Folder>
FileInfo FolderScanner::makeFileInfo(const std::string& path, const std::string& root, Folder&& folder) const
{
    FileInfo file;
    file.id = stableFileID(path);
    file.path = path;
    file.name = displayNameOfPath(path);
    const HeaderValues header = m_reader ? m_reader(path) : HeaderValues();
    file.bpm = header.bpm;
    file.key = header.key;
    if (!file.bpm || !file.key) {
        // Parsed in composed form, as names are tokenized.
        const std::string name = toNFC(file.name);
        if (!file.bpm)
            file.bpm = music::bpmFromName(name);
        if (!file.key) {
            if (auto key = music::MusicalKey::fromName(name, music::LoneAccidental::accept))
                file.key = key->keyText();
        }
    }
    if (!file.bpm || !file.key) {
        const FolderValues& values = folder();
        if (!file.bpm)
            file.bpm = values.bpm;
        if (!file.key)
            file.key = values.key;
    }
    file.duration = header.duration;
    return file;
}

void FolderScanner::indexDirectory(
    const std::string& folder, const GroupID& groupID, const std::string& root, IndexBuilder& builder)
{
    if (m_readAhead || !m_reader || m_readAheadThreads == 0) {
        walkFolder(folder, groupID, root, builder);
        return;
    }
    // The outermost call owns the reader threads; they are gone again when it returns.
    m_readAhead = std::make_unique<FileReadAhead>(m_readAheadThreads);
    walkFolder(folder, groupID, root, builder);
    m_readAhead.reset();
    m_prefetch.reset();
}

// After a folder of files the walk goes on to the next folder, and the readers would wait while it
// lists that one. So the walk lists it as soon as the last file of the folder before it is queued, and
// queues its first files behind those: the readers go on without a pause, in the order the walk takes
// them.
struct FolderScanner::Prefetch {
    std::string path;
    std::optional<FolderStamp> stamp;
    bool listed = false;
    std::vector<FolderEntry> entries;
    std::unique_ptr<FolderFiles> work;
    std::size_t queuedEnd = 0;
};

FolderScanner::~FolderScanner() = default;

std::size_t FolderScanner::queueFiles(
    const std::string& folder, const std::vector<FolderEntry>& entries, std::size_t from, FolderWork& work)
{
    std::vector<std::string> queue;
    std::size_t end = from;
    for (; end < entries.size() && entries[end].kind != EntryKind::folder
         && m_readAhead->queued() + queue.size() < kMaxAhead;
         ++end)
        if (hasCompatibleExtension(entries[end].name))
            queue.push_back(join(folder, entries[end].name));
    m_readAhead->submit(std::move(queue), work);
    return end;
}

void FolderScanner::prefetch(const std::string& folder, const std::string& root)
{
    auto next = std::make_unique<Prefetch>();
    next->path = folder;
    if (auto kept = takeListing(folder)) {
        next->stamp = kept->stamp;
        next->entries = std::move(kept->entries);
        next->listed = true;
    } else {
        next->stamp = folderStamp(folder);
        next->listed = listFolder(folder, next->entries);
    }
    next->work = std::make_unique<FolderFiles>(*this, folder, root);
    if (next->listed)
        next->queuedEnd = queueFiles(folder, next->entries, 0, *next->work);
    m_prefetch = std::move(next);
}

void FolderScanner::walkFolder(const std::string& folder, const GroupID& groupID, const std::string& root,
    IndexBuilder& builder, const std::string* nextFolder)
{
    std::unique_ptr<Prefetch> early = std::move(m_prefetch);
    // Files queued for a folder that is not walked (next, or at all) are dropped.
    auto drop = [&] {
        if (early && m_readAhead->queued())
            m_readAhead->discard();
    };
    if (early && early->path != folder) {
        drop();
        early.reset();
    }
    if (cancelled())
        return drop();
    std::optional<Listing> kept = early ? std::nullopt : takeListing(folder);
    const auto stamp = early ? early->stamp : kept ? kept->stamp : folderStamp(folder);
    if (stamp && stamp->inode) {
        // A folder link back to a folder being indexed would never end: it stays listed in its
        // parent's sub-folders but is not walked again.
        for (const auto& id : m_indexIds)
            if (id.device == stamp->device && id.inode == *stamp->inode)
                return drop();
    }
    std::vector<FolderEntry> entries;
    if (early ? !early->listed : !kept && !listFolder(folder, entries)) {
        std::printf("Error indexing directory %s\n", folder.c_str());
        std::fflush(stdout);
        return;
    }
    if (early)
        entries = std::move(early->entries);
    else if (kept)
        entries = std::move(kept->entries);
    m_indexIds.push_back(stamp && stamp->inode ? FolderIdentity { stamp->device, *stamp->inode }
                                               : FolderIdentity { ~0ull, ~0ull });

    IndexBuilder::Folder done;
    DirectoryInfo& info = done.info;
    info.path = folder;
    const std::unique_ptr<FolderFiles> work
        = early ? std::move(early->work) : std::make_unique<FolderFiles>(*this, folder, root);
    std::optional<IndexBuilder::FolderSlots> targets;
    // Entries before this one have been queued for the readers (files) or are folders; the queue only
    // ever holds files up to the next folder entry, so the walk takes them in the order they were queued.
    std::size_t queuedEnd = early ? early->queuedEnd : 0;
    const bool onlyFiles = std::none_of(
        entries.begin(), entries.end(), [](const FolderEntry& e) { return e.kind == EntryKind::folder; });
    std::string subfolder;
    std::string nextSubfolder;
    bool stopped = false;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const FolderEntry& entry = entries[i];
        if (cancelled()) {
            stopped = true;
            break;
        }
        if (entry.kind == EntryKind::folder) {
            subfolder = nextSubfolder.empty() ? join(folder, entry.name) : std::move(nextSubfolder);
            nextSubfolder.clear();
            const bool siblingFollows = m_readAhead && i + 1 < entries.size()
                && entries[i + 1].kind == EntryKind::folder && !entries[i + 1].viaLink;
            if (siblingFollows)
                nextSubfolder = join(folder, entries[i + 1].name);
            info.subdirectories.push_back(subfolder);
            // The last entry is followed by whatever follows this folder.
            const std::string* after
                = siblingFollows ? &nextSubfolder : (i + 1 == entries.size() ? nextFolder : nullptr);
            walkFolder(subfolder, groupID, root, builder, after);
            continue;
        }
        if (!hasCompatibleExtension(entry.name))
            continue; // alias files do not exist here, so every compatible file is indexed
        FileRecord record;
        if (m_readAhead) {
            if (queuedEnd <= i || m_readAhead->queued() < kMaxAhead / 2) {
                queuedEnd = queueFiles(folder, entries, std::max(queuedEnd, i), *work);
                if (onlyFiles && queuedEnd == entries.size() && nextFolder && !m_prefetch)
                    prefetch(*nextFolder, root);
            }
            record = m_readAhead->next();
        } else {
            record = work->make(join(folder, entry.name));
        }
        if (!targets)
            targets = builder.slotsFor(groupID, keywordsForPath(record.file.path, root));
        builder.add(std::move(record.file), std::move(record.tokens), *targets, done);
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
    if (stopped || cancelled()) {
        // The records queued beyond a cancellation are dropped before the work they belong to goes.
        if (m_readAhead && m_readAhead->queued())
            m_readAhead->discard();
        m_prefetch.reset();
        return;
    }
    info.lastModified = m_clock();
    if (stamp) {
        info.contentModified = stamp->contentModified;
        info.inode = stamp->inode;
    }
    builder.addFolder(std::move(done));
}

} // namespace kivo::index
