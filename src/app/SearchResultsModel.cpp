#include "app/SearchResultsModel.h"

#include "organise/LightweightNode.h"

namespace kivo::app {

SearchResultsModel::SearchResultsModel(QObject* parent)
    : QAbstractTableModel(parent)
{
}

void SearchResultsModel::setResults(const std::vector<index::FileInfo>& files)
{
    beginResetModel();
    m_rows.clear();
    m_rows.reserve(files.size());
    for (const auto& f : files) {
        std::string name = m_hideExtensions ? std::string(organise::nameWithoutExtension(f.name)) : f.name;
        m_rows.push_back(BrowserRow { f.path, std::move(name), false, f.bpm, f.key, f.duration });
    }
    endResetModel();
}

void SearchResultsModel::clear()
{
    if (m_rows.empty())
        return;
    beginResetModel();
    m_rows.clear();
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

int SearchResultsModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant SearchResultsModel::data(const QModelIndex& index, int role) const
{
    const BrowserRow* r = row(index);
    if (!r)
        return {};
    const bool missing = role == Qt::ForegroundRole && m_isMissing && m_isMissing(r->path);
    return browserData(*r, index.column(), role, missing, m_spelling);
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
