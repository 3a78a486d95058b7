#include "app/BrowserController.h"

#include "app/MainWindow.h"
#include "app/RelocationPanel.h"
#include "app/SyncIssuePopup.h"
#include "hotkeys/HotkeyManager.h"
#include "index/MetadataOverrideStore.h"
#include "library/LibraryIndexManager.h"
#include "library/MissingFileTracker.h"
#include "library/SyncPlan.h"
#include "library/UserSettings.h"
#include "organise/HiddenFileManager.h"
#include "organise/TagStore.h"
#include "platform/FolderBookmark.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

namespace kivo::app {

namespace {

// The nearest folder of the path that is still there, for the file manager.
QString nearestExisting(QString path)
{
    while (!path.isEmpty() && path != u"/" && !QFileInfo(path).isDir())
        path = library::parentPath(path);
    return path;
}

} // namespace

void BrowserController::connectMissing()
{
    library::MissingFileTracker& tracker = *m_tracker;
    // Every store that keys by path follows a root that moved or was relocated.
    m_library.addPathRewriter([this](const QString& from, const QString& to) {
        m_overrides.remapPaths(from.toStdString(), to.toStdString());
        m_tags.remapPaths(from.toStdString(), to.toStdString());
        m_hiddenFiles.remapPaths(from.toStdString(), to.toStdString());
        m_hotkeys.remapPaths(from, to);
        remapOpenFolders(from, to);
    });
    connect(&m_library, &library::LibraryIndexManager::rootRelocated, this, [this] {
        m_window->libraryChanged();
        publish();
    });
    connect(&tracker, &library::MissingFileTracker::promptQueueChanged, this, &BrowserController::showIssues);
    connect(&m_library, &library::LibraryIndexManager::isInitializingChanged, this,
        &BrowserController::showIssues);
    connect(&tracker, &library::MissingFileTracker::missingPathsChanged, this, [this] { publish(); });
}

void BrowserController::showIssues()
{
    // One pop-up at a time, never over the sync's own progress.
    if (m_issuePopup || m_tracker->promptQueue().isEmpty() || m_library.isInitializing())
        return;
    IssueHandlers handlers;
    handlers.attemptResync = [this](const library::SyncIssue&) { m_library.syncNow(m_settings); };
    handlers.relocate = [this](const library::SyncIssue& issue) { relocateIssue(issue); };
    handlers.removeFromBrowser = [this](const library::SyncIssue& issue) { removeMissingRoot(issue.path); };
    handlers.showInFileManager = [](const library::SyncIssue& issue) {
        const QString target
            = issue.newPath ? *issue.newPath : nearestExisting(library::parentPath(issue.path));
        if (!target.isEmpty())
            QDesktopServices::openUrl(QUrl::fromLocalFile(target));
    };
    handlers.roots = [this] {
        QStringList roots;
        for (const library::BookmarkGroup& group : m_settings.bookmarks())
            for (const QByteArray& bookmark : group.paths)
                if (const auto stored = platform::FolderBookmark::storedPath(bookmark))
                    roots.append(*stored);
        return roots;
    };
    auto* popup = new SyncIssuePopup(*m_tracker, std::move(handlers), m_window.get());
    popup->setAttribute(Qt::WA_DeleteOnClose);
    m_issuePopup = popup;
    popup->open();
}

void BrowserController::relocateIssue(const library::SyncIssue& issue)
{
    const QString oldPath = issue.path;
    const QStringList candidates = m_library.relocationCandidates(oldPath);
    RelocationPanel::BackgroundCheck runCheck
        = [this](std::function<bool()> check, std::function<void(bool)> done) {
              m_library.inspectInBackground(std::move(check), std::move(done));
          };
    QWidget* parent = m_issuePopup ? static_cast<QWidget*>(m_issuePopup.data()) : m_window.get();
    auto* panel = new RelocationPanel(oldPath, candidates.size(), std::move(runCheck), parent);
    panel->setAttribute(Qt::WA_DeleteOnClose);
    connect(
        panel, &RelocationPanel::relocationChosen, this, [this, oldPath, candidates](const QString& folder) {
            m_library.relocate(m_settings, oldPath, folder, candidates);
        });
    panel->open();
}

void BrowserController::removeMissingRoot(const QString& path)
{
    const library::BookmarkGroupList groups = m_settings.bookmarks();
    for (int i = 0; i < int(groups.size()); ++i) {
        if (!m_settings.removeRootsWithStoredPaths(i, { path }).isEmpty())
            m_library.removeRoots({ path }, groups[i].id);
    }
    m_window->libraryChanged();
    publish();
}

void BrowserController::remapOpenFolders(const QString& from, const QString& to)
{
    TreeMemory memory = m_window->treeMemory();
    bool changed = false;
    auto remap = [&](QString& path) {
        if (library::isPathUnder(path, from)) {
            path = to + path.mid(from.size());
            changed = true;
        }
    };
    for (auto& [id, paths] : memory.openFolders)
        for (QString& path : paths)
            remap(path);
    for (auto& [id, path] : memory.focusedRow)
        remap(path);
    if (!changed)
        return;
    m_window->restoreTreeMemory(std::move(memory));
    saveTreeMemory();
}

} // namespace kivo::app
