#pragma once

// The flat result list shown instead of the tree while the search field holds a query.

#include "app/BrowserColumns.h"
#include "app/RowMetadata.h"
#include "index/IndexRecords.h"
#include "organise/FilterResults.h"
#include "organise/HiddenRows.h"

#include <QAbstractTableModel>

#include <vector>

namespace kivo::app {

class SearchResultsModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit SearchResultsModel(QObject* parent = nullptr);

    // Rows show the files' effective values, resolved in one pass.
    void setResults(const std::vector<index::FileInfo>& files);
    // Files, or in folder mode folders, in result order. Counted hits show the records
    // that came with them, and more as the list is scrolled to its end.
    void setResults(const organise::FilterResults& results);
    // The query the rows answer (the caller's; empty for the hidden-items list).
    const QString& query() const { return m_query; }
    void setQuery(const QString& query) { m_query = query; }
    // The user's tempo, key or tags changed: the rows show the new values.
    void setMetadata(RowMetadata metadata);
    // Newer values heard from the audio, taken in place by rows showing none of their own.
    void setAnalysed(std::shared_ptr<const organise::AnalysedValues> analysed);
    // Names without their extensions (for the next results).
    void setHideExtensions(bool hide) { m_hideExtensions = hide; }
    void clear();
    const BrowserRow* row(const QModelIndex& index) const;
    void setMissingCheck(MissingCheck check) { m_isMissing = std::move(check); }
    // How keys are named; the views repaint to show it.
    void setKeySpelling(music::KeySpelling spelling) { m_spelling = spelling; }
    int size() const { return int(m_rows.size()); }
    // The marks the rows show in hide mode, and whether it is on.
    void setHiddenView(organise::HiddenView view);
    // The hidden-items list: these rows as they are, in place of results.
    void setHiddenItems(std::vector<BrowserRow> rows);

    int rowCount(const QModelIndex& parent = {}) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    void resolveRows();
    // Rows for m_files from `first` on.
    void resolveFileRows(std::size_t first, organise::MetadataInheritance& pass);

    MissingCheck m_isMissing;
    music::KeySpelling m_spelling = music::KeySpelling::automatic;
    RowMetadata m_metadata;
    organise::HiddenView m_hidden;
    std::vector<index::FileInfo> m_files;
    std::shared_ptr<organise::CountedHits> m_hits; // the records after m_files come from it
    std::vector<index::FolderHit> m_folders;
    std::vector<BrowserRow> m_rows;
    bool m_hideExtensions = false;
    QString m_query;
};

} // namespace kivo::app
