#include "app/MainWindow.h"

#include "app/CollectionBar.h"
#include "app/HideModeBar.h"
#include "app/SearchResultsModel.h"
#include "index/FolderListing.h"
#include "index/IndexRecords.h"
#include "index/NaturalOrder.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QStackedWidget>
#include <QTreeView>

#include <algorithm>

// Hide mode and the hidden-items list in the window.

namespace kivo::app {

void MainWindow::setHiddenView(const organise::HiddenView& view)
{
    const bool wasAuditing = m_hiddenView.showOnlyHidden;
    m_hiddenView = view;
    m_treeModel->setHiddenView(view);
    restoreTreeState();
    m_resultsModel->setHiddenView(view);
    m_hideBar->setModes(view.hideMode, view.showOnlyHidden);
    m_bar->setHideMode(view.hideMode || view.showOnlyHidden);
    m_hideModeAction->setChecked(view.hideMode);
    m_auditAction->setChecked(view.showOnlyHidden);
    if (view.showOnlyHidden) {
        showHiddenItems();
        return;
    }
    if (wasAuditing) {
        m_resultsModel->clear();
        m_views->setCurrentIndex(kTreePage);
    }
    // The result list follows the marks and the mode too.
    if (searchActive())
        runSearch();
}

void MainWindow::showHiddenItems()
{
    std::vector<BrowserRow> rows;
    if (m_selected >= 0 && m_selected < int(m_collections.size())) {
        const QStringList& roots = m_collections[std::size_t(m_selected)].rootPaths;
        for (const std::string& path : m_hiddenView.sets->hiddenPaths()) {
            const bool inCollection = std::any_of(roots.begin(), roots.end(),
                [&path](const QString& root) { return index::isUnderRoot(path, root.toStdString()); });
            if (!inCollection)
                continue;
            BrowserRow row;
            row.path = path;
            // Only sample files are ever marked as files: anything else is a folder.
            const std::string name = path.substr(path.rfind('/') + 1);
            row.isDirectory = !index::hasCompatibleExtension(name);
            organise::LightweightNode node;
            node.name = name;
            node.isDirectory = row.isDirectory;
            row.name = m_treeModel->tree().displayName(node);
            rows.push_back(std::move(row));
        }
    }
    // Folders before files, each in the browser's natural name order of their paths.
    std::sort(rows.begin(), rows.end(), [](const BrowserRow& a, const BrowserRow& b) {
        if (a.isDirectory != b.isDirectory)
            return a.isDirectory;
        return index::naturalCompare(a.path, b.path) < 0;
    });
    const bool none = rows.empty();
    m_resultsModel->setHiddenItems(std::move(rows));
    if (none) {
        m_noResults->setText(tr("Nothing in this collection is hidden"));
        m_views->setCurrentIndex(kNoResultsPage);
    } else {
        m_views->setCurrentIndex(kResultsPage);
    }
}

} // namespace kivo::app
