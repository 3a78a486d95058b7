#include "app/MainWindow.h"

#include "app/AnalysisService.h"
#include "app/FilterPanel.h"

#include "app/RowMetadata.h"
#include "app/SearchResultsModel.h"
#include "app/TagEditor.h"
#include "index/MetadataOverrideStore.h"
#include "organise/MetadataMenuInfo.h"
#include "organise/TagStore.h"

#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMenu>
#include <QStackedWidget>
#include <QTreeView>
#include <cmath>
#include <set>

// The user's tempo, key and tags in the window: what rows show, the row menu's metadata section and
// the two pop-ups that edit them.

namespace kivo::app {

void MainWindow::setOrganiseStores(index::MetadataOverrideStore* overrides, organise::TagStore* tags)
{
    if (m_overrides)
        disconnect(m_overrides, nullptr, this, nullptr);
    if (m_tags)
        disconnect(m_tags, nullptr, this, nullptr);
    m_overrides = overrides;
    m_tags = tags;
    if (m_overrides)
        connect(m_overrides, &index::MetadataOverrideStore::changed, this, [this] {
            metadataChanged();
            // Results are ordered by effective BPM when the search makes them.
            rerunSearch();
        });
    if (m_tags)
        connect(m_tags, &organise::TagStore::changed, this, [this] {
            metadataChanged();
            tagsChanged();
        });
    metadataChanged();
    tagsChanged();
}

void MainWindow::metadataChanged()
{
    RowMetadata metadata;
    if (m_overrides)
        metadata.overrides = m_overrides->snapshot();
    if (m_tags) {
        metadata.tagMaps = m_tags->maps();
        metadata.tags = m_tags->tags();
    }
    if (m_analysis)
        metadata.analysed = m_analysis->values();
    // The tree is made again (rows may move); the rows the user had selected stay selected, and the
    // file in the preview is not loaded again on the way.
    m_holdSelection = true;
    std::vector<std::string> selected;
    for (const QModelIndex& index : m_tree->selectionModel()->selectedRows())
        if (const BrowserRow* row = m_treeModel->row(index))
            selected.push_back(row->path);
    m_treeModel->setMetadata(metadata);
    restoreTreeState();
    if (selected.size() > 1) {
        QItemSelection keep;
        for (const auto& path : selected)
            if (const QModelIndex index = m_treeModel->indexForPath(path); index.isValid())
                keep.select(index, index.siblingAtColumn(kColumnCount - 1));
        m_tree->selectionModel()->select(keep, QItemSelectionModel::ClearAndSelect);
    }
    m_holdSelection = false;
    selectionChanged();
    m_resultsModel->setMetadata(std::move(metadata));
}

std::vector<BrowserRow> MainWindow::selectedRows() const
{
    std::vector<BrowserRow> out;
    const bool tree = m_views->currentIndex() == kTreePage;
    const QAbstractItemView* view = currentView();
    auto rowAt = [&](const QModelIndex& index) -> const BrowserRow* {
        return tree ? m_treeModel->row(index) : m_resultsModel->row(index);
    };
    QModelIndexList indexes = view->selectionModel()->selectedRows();
    if (indexes.isEmpty() && view->currentIndex().isValid())
        indexes << view->currentIndex().siblingAtColumn(0);
    for (const QModelIndex& index : indexes)
        if (const BrowserRow* row = rowAt(index))
            out.push_back(*row);
    return out;
}

void MainWindow::addMetadataSection(QMenu& menu, const std::vector<BrowserRow>& items)
{
    if (!m_overrides || !m_tags || items.empty())
        return;
    std::vector<organise::MetadataMenuItem> entries;
    for (const auto& row : items)
        entries.push_back({ row.bpm, row.key, row.tags });
    const organise::MetadataMenuInfo info = organise::metadataMenuInfo(entries, m_spelling);
    auto entry = [](const std::string& title, const std::optional<std::string>& value) {
        // The value sits where a menu shows a shortcut: right-aligned, dimmed.
        return QString::fromStdString(title)
            + (value ? QLatin1Char('\t') + QString::fromStdString(*value) : QString());
    };
    menu.addSeparator();
    QAction* bpm = menu.addAction(entry(info.bpmTitle, info.bpmValue), this,
        [this, items] { editTempoAndKey(items, MetadataEditor::Field::bpm); });
    bpm->setObjectName(QStringLiteral("editBPM"));
    QAction* key = menu.addAction(entry(info.keyTitle, info.keyValue), this,
        [this, items] { editTempoAndKey(items, MetadataEditor::Field::key); });
    key->setObjectName(QStringLiteral("editKey"));
    QAction* tags
        = menu.addAction(entry(info.tagsTitle, info.tagsValue), this, [this, items] { editTags(items); });
    tags->setObjectName(QStringLiteral("editTags"));
    // A tempo heard or read at half or double, put right for the files or every listed file of
    // the folders; kept as the user's own tempo.
    const std::vector<BrowserRow> withTempo = tempoTargets(items);
    if (!withTempo.empty()) {
        QAction* twice
            = menu.addAction(tr("Tempo ×2"), this, [this, withTempo] { scaleTempo(withTempo, 2.0); });
        twice->setObjectName(QStringLiteral("doubleTempo"));
        QAction* half
            = menu.addAction(tr("Tempo ÷2"), this, [this, withTempo] { scaleTempo(withTempo, 0.5); });
        half->setObjectName(QStringLiteral("halveTempo"));
    }
}

std::vector<BrowserRow> MainWindow::tempoTargets(const std::vector<BrowserRow>& items) const
{
    std::vector<BrowserRow> out;
    std::set<std::string> seen;
    auto add = [&](const BrowserRow& row) {
        if (!row.isDirectory && row.bpm && seen.insert(row.path).second)
            out.push_back(row);
    };
    for (const BrowserRow& item : items) {
        if (!item.isDirectory) {
            add(item);
            continue;
        }
        // A folder's files as the tree lists them, at any depth already opened.
        std::vector<QModelIndex> stack { m_treeModel->indexForPath(item.path) };
        while (!stack.empty()) {
            const QModelIndex at = stack.back();
            stack.pop_back();
            if (!at.isValid())
                continue;
            for (int r = 0; r < m_treeModel->rowCount(at); ++r) {
                const QModelIndex child = m_treeModel->index(r, 0, at);
                if (const BrowserRow* row = m_treeModel->row(child))
                    row->isDirectory ? stack.push_back(child) : add(*row);
            }
        }
    }
    return out;
}

void MainWindow::scaleTempo(const std::vector<BrowserRow>& rows, double factor)
{
    if (!m_overrides)
        return;
    // One change for each new tempo, so the rows are made again as few times as the values differ.
    std::map<std::int64_t, std::vector<std::string>> byTempo;
    for (const BrowserRow& row : rows) {
        const auto bpm = std::llround(double(*row.bpm) * factor);
        if (bpm >= 1 && bpm <= 999)
            byTempo[bpm].push_back(row.path);
    }
    for (const auto& [bpm, paths] : byTempo)
        m_overrides->setBPM(bpm, paths);
}

MetadataEditor* MainWindow::editTempoAndKey(MetadataEditor::Field focus)
{
    return editTempoAndKey(selectedRows(), focus);
}

TagEditor* MainWindow::editTags()
{
    return editTags(selectedRows());
}

MetadataEditor* MainWindow::editTempoAndKey(const std::vector<BrowserRow>& items, MetadataEditor::Field focus)
{
    if (!m_overrides || items.empty())
        return nullptr;
    MetadataEditorItems start;
    start.firstName = items.front().name;
    start.bpm = items.front().bpm;
    start.key = items.front().key;
    for (const auto& row : items) {
        start.paths.push_back(row.path);
        start.anyFolder = start.anyFolder || row.isDirectory;
        // A value is offered for editing only when every item has it.
        start.bpmDiffers = start.bpmDiffers || row.bpm != items.front().bpm;
        start.keyDiffers = start.keyDiffers || row.key != items.front().key;
    }
    if (start.bpmDiffers)
        start.bpm.reset();
    if (start.keyDiffers)
        start.key.reset();
    auto sharedSource = [&](int column) {
        const QString first = valueSource(items.front(), column);
        for (const auto& row : items)
            if (valueSource(row, column) != first)
                return std::string();
        return first.toStdString();
    };
    start.bpmSource = sharedSource(kBpmColumn);
    start.keySource = sharedSource(kKeyColumn);
    auto* editor = new MetadataEditor(*m_overrides, std::move(start), m_spelling, focus, this);
    editor->setAttribute(Qt::WA_DeleteOnClose);
    editor->open();
    return editor;
}

TagEditor* MainWindow::editTags(const std::vector<BrowserRow>& items)
{
    if (!m_tags || items.empty())
        return nullptr;
    std::vector<std::string> paths;
    for (const auto& row : items)
        paths.push_back(row.path);
    auto* editor = new TagEditor(*m_tags, std::move(paths), items.front().name, this);
    editor->setAttribute(Qt::WA_DeleteOnClose);
    editor->open();
    return editor;
}

} // namespace kivo::app
