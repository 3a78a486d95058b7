#include "app/SearchResultsModel.h"

#include "app/HideToggleButton.h"

#include "organise/LightweightNode.h"
#include "organise/SearchFilters.h"

namespace kivo::app {

SearchResultsModel::SearchResultsModel(QObject* parent)
    : QAbstractTableModel(parent)
{
}

void SearchResultsModel::setResults(const std::vector<index::FileInfo>& files)
{
    m_files = files;
    m_hits.reset();
    m_folders.clear();
    beginResetModel();
    resolveRows();
    endResetModel();
}

void SearchResultsModel::setResults(const organise::FilterResults& results)
{
    m_files = results.files;
    m_hits = results.hits;
    m_folders = results.folders;
    beginResetModel();
    resolveRows();
    endResetModel();
}

void SearchResultsModel::setMetadata(RowMetadata metadata)
{
    m_metadata = std::move(metadata);
    if (m_files.empty() && m_folders.empty())
        return;
    resolveRows();
    emit dataChanged(index(0, 0), index(int(m_rows.size()) - 1, kColumnCount - 1));
}

void SearchResultsModel::setAnalysed(std::shared_ptr<const organise::AnalysedValues> analysed)
{
    m_metadata.analysed = std::move(analysed);
    int first = -1, last = -1;
    for (std::size_t i = 0; i < m_rows.size(); ++i)
        if (refreshAnalysed(m_rows[i], m_metadata.analysed.get())) {
            first = first < 0 ? int(i) : first;
            last = int(i);
        }
    if (first >= 0)
        emit dataChanged(index(first, kBpmColumn), index(last, kKeyColumn));
}

void SearchResultsModel::resolveRows()
{
    m_rows.clear();
    m_rows.reserve(m_files.size() + m_folders.size());
    auto pass = m_metadata.pass();
    for (const auto& hit : m_folders) {
        BrowserRow row;
        row.path = hit.path;
        row.name = hit.name;
        row.isDirectory = true;
        row.bpm = organise::folderOwnBPM(hit.name);
        row.key = organise::folderOwnKey(hit.name);
        resolveRow(row, pass, m_metadata);
        m_rows.push_back(std::move(row));
    }
    resolveFileRows(0, pass);
}

void SearchResultsModel::resolveFileRows(std::size_t first, organise::MetadataInheritance& pass)
{
    for (std::size_t i = first; i < m_files.size(); ++i) {
        const index::FileInfo& f = m_files[i];
        BrowserRow row;
        row.path = f.path;
        row.name = m_hideExtensions ? std::string(organise::nameWithoutExtension(f.name)) : f.name;
        row.bpm = f.bpm;
        row.key = f.key;
        row.duration = f.duration;
        resolveRow(row, pass, m_metadata);
        m_rows.push_back(std::move(row));
    }
}

void SearchResultsModel::clear()
{
    m_query.clear();
    if (m_rows.empty())
        return;
    beginResetModel();
    m_rows.clear();
    m_files.clear();
    m_hits.reset();
    m_folders.clear();
    endResetModel();
}

const BrowserRow* SearchResultsModel::row(const QModelIndex& index) const
{
    if (!index.isValid() || index.model() != this || index.row() >= int(m_rows.size()))
        return nullptr;
    return &m_rows[std::size_t(index.row())];
}

int SearchResultsModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

bool SearchResultsModel::canFetchMore(const QModelIndex& parent) const
{
    return !parent.isValid() && m_hits && m_files.size() < m_hits->size();
}

void SearchResultsModel::fetchMore(const QModelIndex& parent)
{
    if (!canFetchMore(parent))
        return;
    auto more = m_hits->records(m_files.size(), organise::kFirstResultRecords);
    if (more.empty())
        return;
    const std::size_t first = m_files.size();
    beginInsertRows({}, int(m_rows.size()), int(m_rows.size() + more.size()) - 1);
    m_files.insert(m_files.end(), std::make_move_iterator(more.begin()), std::make_move_iterator(more.end()));
    auto pass = m_metadata.pass();
    resolveFileRows(first, pass);
    endInsertRows();
}

int SearchResultsModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant SearchResultsModel::data(const QModelIndex& index, int role) const
{
    const BrowserRow* r = row(index);
    if (!r)
        return {};
    if (role == kHideModeRole)
        return m_hidden.hideMode || m_hidden.showOnlyHidden;
    if (role == kRowMarksRole) {
        organise::RowMarks marks;
        marks.hidden = m_hidden.sets->isHidden(r->path);
        marks.skipped = r->isDirectory && m_hidden.sets->isSkipped(r->path);
        return packRowMarks(marks);
    }
    const QString missing = showsMissing(role) && m_isMissing ? m_isMissing(r->path) : QString();
    return browserData(*r, index.column(), role, missing, m_spelling);
}

void SearchResultsModel::setHiddenView(organise::HiddenView view)
{
    m_hidden = std::move(view);
    if (!m_rows.empty())
        emit dataChanged(index(0, 0), index(int(m_rows.size()) - 1, kColumnCount - 1));
}

void SearchResultsModel::setHiddenItems(std::vector<BrowserRow> rows)
{
    beginResetModel();
    m_files.clear();
    m_hits.reset();
    m_folders.clear();
    m_query.clear();
    m_rows = std::move(rows);
    endResetModel();
}

QVariant SearchResultsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    return orientation == Qt::Horizontal ? browserHeader(section, role) : QVariant();
}

Qt::ItemFlags SearchResultsModel::flags(const QModelIndex& index) const
{
    if (!row(index))
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled | Qt::ItemNeverHasChildren;
}

} // namespace kivo::app
