#include "app/MainWindow.h"

#include "app/FilterPanel.h"
#include "app/SearchResultsModel.h"
#include "organise/TagStore.h"

#include <QAction>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QStackedWidget>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

#include <set>
#include <utility>

// The search strip: the search field, the filter panel under it, and the result list they make.

namespace kivo::app {

QWidget* MainWindow::buildSearchStrip(QWidget* page)
{
    auto* strip = new QWidget(page);
    auto* column = new QVBoxLayout(strip);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);
    auto* row = new QHBoxLayout;
    row->setSpacing(6);
    m_search = new QLineEdit(strip);
    m_search->setPlaceholderText(tr("Search samples"));
    m_search->setClearButtonEnabled(true);
    connect(m_search, &QLineEdit::textChanged, this, &MainWindow::searchTextChanged);
    // Down, Return and Escape lead from the field to the list.
    m_search->installEventFilter(this);
    row->addWidget(m_search, 1);
    // The chosen tags as chips beside the field; clicking one takes it out of the filter.
    m_tagChips = new QWidget(strip);
    m_tagChips->setObjectName(QStringLiteral("tagFilterChips"));
    auto* chips = new QHBoxLayout(m_tagChips);
    chips->setContentsMargins(0, 0, 0, 0);
    chips->setSpacing(4);
    m_tagChips->hide();
    row->addWidget(m_tagChips);
    auto* toggle = new QToolButton(strip);
    toggle->setObjectName(QStringLiteral("filterToggle"));
    toggle->setText(tr("Filters"));
    toggle->setCheckable(true);
    toggle->setToolTip(tr("Tempo, key, tags and shuffle (Ctrl+Shift+F)"));
    connect(toggle, &QToolButton::clicked, this, &MainWindow::toggleFilters);
    m_filterToggle = toggle;
    row->addWidget(toggle);
    column->addLayout(row);

    m_filterPanel = new FilterPanel(*m_searchState, strip);
    m_filterPanel->hide();
    // Keys typed in the panel are its own: Space presses a button there rather than playing.
    m_filterPanel->setProperty("handlesOwnKeys", true);
    auto* back = new QAction(m_filterPanel);
    back->setShortcut(Qt::Key_Escape);
    back->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(back, &QAction::triggered, this, [this] { currentView()->setFocus(); });
    m_filterPanel->addAction(back);
    column->addWidget(m_filterPanel);
    connect(m_searchState, &organise::SharedSearchState::filtersChanged, this, [this] {
        const auto& f = m_searchState->filters();
        m_filterToggle->setText(
            f.hasFilter() || f.mode == organise::FilterMode::folder ? tr("Filters •") : tr("Filters"));
        showTagChips();
        // The hidden-items list stays until it is left; the filters wait for the lists.
        if (m_hiddenView.showOnlyHidden)
            return;
        if (searchActive()) {
            runSearch();
        } else {
            m_runner->cancel();
            m_resultsModel->clear();
            m_views->setCurrentIndex(kTreePage);
            m_filterPanel->setResultCount(std::nullopt);
        }
    });
    connect(m_filterPanel, &FilterPanel::scopeChanged, this, [this] {
        if (searchActive())
            runSearch();
    });
    return strip;
}

void MainWindow::toggleFilters()
{
    if (m_centre->currentIndex() != kBrowserPage)
        return;
    const bool show = !m_filterPanel->isVisible() || !m_filterPanel->isAncestorOf(focusWidget());
    m_filterPanel->setVisible(show);
    m_filterToggle->setChecked(show);
    if (show)
        m_filterPanel->modeButton(m_searchState->filters().mode)->setFocus(Qt::ShortcutFocusReason);
    else
        currentView()->setFocus();
}

bool MainWindow::searchActive() const
{
    const auto& f = m_searchState->filters();
    return !m_search->text().trimmed().isEmpty() || f.hasFilter() || f.mode == organise::FilterMode::folder;
}

void MainWindow::searchTextChanged(const QString& text)
{
    m_filterPanel->setQuery(text);
    if (m_hiddenView.showOnlyHidden)
        return;
    if (!searchActive()) {
        m_runner->cancel();
        m_resultsModel->clear();
        m_views->setCurrentIndex(kTreePage);
        m_filterPanel->setResultCount(std::nullopt);
        return;
    }
    runSearch();
}

void MainWindow::runSearch()
{
    if (!searchActive() || m_hiddenView.showOnlyHidden || !m_services.makeSearch || m_selected < 0
        || m_selected >= int(m_collections.size()))
        return;
    m_resultsKeepPlace = false;
    organise::SearchRequest request;
    request.query = m_search->text().trimmed().toStdString();
    request.filters = m_searchState->filters();
    // The selected collection first, so a file shared with another keeps its place.
    request.groups.push_back(m_collections[std::size_t(m_selected)].id.toStdString());
    if (m_filterPanel->searchesAllCollections())
        for (const auto& c : m_collections)
            if (c.id != m_collections[std::size_t(m_selected)].id)
                request.groups.push_back(c.id.toStdString());
    m_runner->submit(QString::fromStdString(request.query), m_services.makeSearch(std::move(request)));
}

void MainWindow::rerunSearch()
{
    if (!searchActive())
        return;
    runSearch();
    m_resultsKeepPlace = true;
}

void MainWindow::showResults(const QString& query, const organise::FilterResults& results)
{
    if (!searchActive() || m_hiddenView.showOnlyHidden)
        return;
    // Answered again for newer values: the rows the user selected stay selected where they still
    // pass, the list where it was, and the previewed file is not loaded again.
    const bool keepPlace = std::exchange(m_resultsKeepPlace, false) && m_resultsModel->query() == query;
    std::set<std::string> selected;
    QString current;
    const int scroll = m_results->verticalScrollBar()->value();
    if (keepPlace) {
        for (const QModelIndex& index : m_results->selectionModel()->selectedRows())
            if (const BrowserRow* row = m_resultsModel->row(index))
                selected.insert(row->path);
        if (const BrowserRow* row = m_resultsModel->row(m_results->currentIndex()))
            current = QString::fromStdString(row->path);
        m_holdSelection = true;
    }
    m_resultsModel->setResults(results);
    if (keepPlace) {
        QItemSelection keep;
        for (int r = 0; r < m_resultsModel->rowCount(); ++r) {
            const QModelIndex at = m_resultsModel->index(r, 0);
            const BrowserRow* row = m_resultsModel->row(at);
            if (!row)
                continue;
            if (QString::fromStdString(row->path) == current)
                m_results->selectionModel()->setCurrentIndex(at, QItemSelectionModel::NoUpdate);
            if (selected.contains(row->path))
                keep.select(at, at.siblingAtColumn(kColumnCount - 1));
        }
        m_results->selectionModel()->select(keep, QItemSelectionModel::ClearAndSelect);
        m_results->doItemsLayout();
        m_results->verticalScrollBar()->setValue(scroll);
        m_holdSelection = false;
        selectionChanged();
    }
    // A new query's list starts at its top; the same query answered again keeps its place.
    if (m_resultsModel->query() != query)
        m_results->scrollToTop();
    m_resultsModel->setQuery(query);
    if (results.needsQueryForFolders) {
        m_filterPanel->setResultCount(std::nullopt);
        m_noResults->setText(tr(organise::kFolderSearchPrompt));
        m_views->setCurrentIndex(kNoResultsPage);
        return;
    }
    m_filterPanel->setResultCount(results.size());
    if (results.size() == 0) {
        const bool folders = results.mode == organise::FilterMode::folder;
        if (!query.isEmpty())
            m_noResults->setText(
                folders ? tr("No folders match “%1”").arg(query) : tr("No samples match “%1”").arg(query));
        else
            m_noResults->setText(
                folders ? tr("No folders pass the filters") : tr("No samples pass the filters"));
        m_views->setCurrentIndex(kNoResultsPage);
    } else {
        m_views->setCurrentIndex(kResultsPage);
    }
}

void MainWindow::showTagChips()
{
    // Later: the chip that was clicked may be the one asking.
    for (QWidget* chip : m_tagChips->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        chip->hide();
        chip->deleteLater();
    }
    const auto& chosen = m_searchState->filters().tags;
    int shown = 0;
    if (m_tags)
        for (const auto& tag : m_tags->tags()) {
            if (!chosen.contains(tag.id))
                continue;
            auto* chip = new QToolButton(m_tagChips);
            chip->setText(QString::fromStdString(tag.name) + QStringLiteral("  ✕"));
            chip->setToolTip(tr("Stop filtering by this tag"));
            chip->setAutoRaise(false);
            connect(chip, &QToolButton::clicked, this,
                [this, id = tag.id] { m_searchState->edit([&](auto& f) { f.tags.erase(id); }); });
            m_tagChips->layout()->addWidget(chip);
            ++shown;
        }
    m_tagChips->setVisible(shown > 0);
}

void MainWindow::tagsChanged()
{
    m_filterPanel->setTags(m_tags ? m_tags->tags() : std::vector<organise::SampleTag> {});
    showTagChips();
    if (!m_searchState->filters().tags.empty() && searchActive())
        runSearch();
}

} // namespace kivo::app
