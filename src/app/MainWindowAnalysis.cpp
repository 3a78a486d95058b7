#include "app/MainWindow.h"

#include "app/AnalysisService.h"
#include "app/FilterPanel.h"
#include "app/SearchResultsModel.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QScrollBar>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <utility>

// Values heard from files' own audio in the window: the rows that show them, the status bar's
// progress and pause, the rows in view heard first, and a file's duplicates.

namespace kivo::app {

void MainWindow::setAnalysis(AnalysisService* analysis)
{
    if (m_analysis)
        disconnect(m_analysis, nullptr, this, nullptr);
    m_analysis = analysis;
    if (!m_analysisText) {
        m_analysisText = new QLabel(this);
        m_analysisText->setObjectName(QStringLiteral("analysisProgress"));
        auto* pause = new QToolButton(this);
        pause->setObjectName(QStringLiteral("analysisPause"));
        pause->setCheckable(true);
        pause->setAutoRaise(true);
        m_analysisPause = pause;
        statusBar()->addPermanentWidget(m_analysisText);
        statusBar()->addPermanentWidget(pause);
        statusBar()->setSizeGripEnabled(false);
        connect(pause, &QToolButton::toggled, this, [this](bool paused) {
            if (m_analysis)
                m_analysis->setPaused(paused);
        });
        m_visibleRowsTimer = new QTimer(this);
        m_visibleRowsTimer->setSingleShot(true);
        m_visibleRowsTimer->setInterval(250);
        connect(m_visibleRowsTimer, &QTimer::timeout, this, &MainWindow::prioritiseVisibleRows);
        m_heardValuesTimer = new QTimer(this);
        m_heardValuesTimer->setSingleShot(true);
        m_heardValuesTimer->setInterval(1500);
        connect(m_heardValuesTimer, &QTimer::timeout, this, &MainWindow::applyHeardValues);
        watchVisibleRows(m_tree);
        watchVisibleRows(m_results);
    }
    if (m_analysis) {
        connect(m_analysis, &AnalysisService::valuesChanged, this, [this] {
            m_treeOrderStale = m_treeModel->setAnalysed(m_analysis->values()) || m_treeOrderStale;
            m_resultsModel->setAnalysed(m_analysis->values());
            // Not restarted on every batch: while analysis runs, the lists catch up every so often.
            if ((m_treeOrderStale || searchActive()) && !m_heardValuesTimer->isActive())
                m_heardValuesTimer->start();
        });
        connect(m_analysis, &AnalysisService::progressChanged, this, &MainWindow::analysisProgressChanged);
        m_visibleRowsTimer->start();
    }
    m_filterPanel->setUsesAnalysedValues(m_analysis != nullptr);
    metadataChanged();
    analysisProgressChanged();
}

void MainWindow::showDuplicates(const QString& path)
{
    if (!m_analysis)
        return;
    auto* dialog = new QDialog(this);
    dialog->setObjectName(QStringLiteral("duplicatesDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(tr("Duplicates of %1").arg(QFileInfo(path).fileName()));
    auto* status = new QLabel(tr("Looking for duplicates…"), dialog);
    status->setObjectName(QStringLiteral("duplicatesStatus"));
    status->setWordWrap(true);
    auto* list = new QTreeWidget(dialog);
    list->setObjectName(QStringLiteral("duplicatesList"));
    list->setHeaderLabels({ tr("File"), tr("Match") });
    list->setRootIsDecorated(false);
    list->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    list->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    list->header()->setStretchLastSection(false);
    list->hide();
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, dialog);
    connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::close);
    auto* layout = new QVBoxLayout(dialog);
    layout->addWidget(status);
    layout->addWidget(list, 1);
    layout->addWidget(buttons);
    dialog->resize(640, 320);
    m_analysis->findDuplicates(
        path.toStdString(), dialog, [this, status, list](AnalysisService::DuplicatesAnswer answer) {
            using State = AnalysisService::DuplicatesAnswer::State;
            if (answer.state == State::notAnalysed) {
                status->setText(
                    tr("Not analysed yet: duplicates are found once the file's audio has been heard in "
                       "the background. Try again when the analysis has reached it."));
                return;
            }
            if (answer.state == State::failed) {
                status->setText(
                    tr("This file could not be analysed: %1").arg(QString::fromStdString(answer.error)));
                return;
            }
            if (answer.duplicates.empty()) {
                status->setText(tr("No duplicates of this file among the files analysed so far."));
                return;
            }
            status->setText(answer.duplicates.size() == 1
                    ? tr("1 duplicate of this file among the files analysed so far:")
                    : tr("%1 duplicates of this file among the files analysed so far:")
                          .arg(answer.duplicates.size()));
            for (const analysis::Duplicate& duplicate : answer.duplicates) {
                const QString file = QString::fromStdString(duplicate.path);
                auto* item = new QTreeWidgetItem(list,
                    { file,
                        duplicate.exact ? tr("Exact copy")
                                        : tr("Near-identical (%1 %)")
                                              .arg(std::min(99L, std::lround(duplicate.similarity * 100))) });
                item->setData(0, Qt::UserRole, file);
                item->setToolTip(0, file);
            }
            list->setCurrentItem(nullptr);
            list->clearSelection();
            // As in the browser's lists: choosing a file plays it, a double-click shows it in the
            // tree. Connected once filled, so that nothing plays before the user chooses.
            connect(list, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
                if (item)
                    emit playRequested(item->data(0, Qt::UserRole).toString());
            });
            connect(list, &QTreeWidget::itemDoubleClicked, this,
                [this](QTreeWidgetItem* item) { revealFile(item->data(0, Qt::UserRole).toString()); });
            list->show();
        });
    dialog->show();
}

void MainWindow::analysisProgressChanged()
{
    if (!m_analysisText)
        return;
    const bool working = m_analysis && m_analysis->isWorking();
    statusBar()->setVisible(working);
    if (!working)
        return;
    const auto progress = m_analysis->progress();
    const QLocale locale;
    m_analysisText->setText(
        (m_analysis->isPaused() ? tr("Analysis paused: %1 of %2 files")
                                : tr("Analysing audio: %1 of %2 files"))
            .arg(locale.toString(qlonglong(progress.done)), locale.toString(qlonglong(progress.total))));
    m_analysisPause->setText(m_analysis->isPaused() ? tr("Resume") : tr("Pause"));
    m_analysisPause->setToolTip(m_analysis->isPaused() ? tr("Resume the analysis of tempo and key")
                                                       : tr("Pause the analysis of tempo and key"));
}

void MainWindow::applyHeardValues()
{
    if (std::exchange(m_treeOrderStale, false)) {
        const int scroll = m_tree->verticalScrollBar()->value();
        metadataChanged();
        m_tree->doItemsLayout();
        m_tree->verticalScrollBar()->setValue(scroll);
    }
    rerunSearch();
}

void MainWindow::watchVisibleRows(QTreeView* view)
{
    auto later = [this] {
        if (m_analysis)
            m_visibleRowsTimer->start();
    };
    connect(view->verticalScrollBar(), &QScrollBar::valueChanged, this, later);
    connect(view, &QTreeView::expanded, this, later);
    connect(view->model(), &QAbstractItemModel::modelReset, this, later);
    connect(view->model(), &QAbstractItemModel::rowsInserted, this, later);
    connect(view->model(), &QAbstractItemModel::layoutChanged, this, later);
}

void MainWindow::prioritiseVisibleRows()
{
    auto* view = qobject_cast<QTreeView*>(currentView());
    if (!m_analysis || !view)
        return;
    std::vector<std::string> paths;
    const int bottom = view->viewport()->height();
    for (QModelIndex index = view->indexAt(QPoint(0, 0));
         index.isValid() && view->visualRect(index).top() < bottom; index = view->indexBelow(index)) {
        if (index.data(kIsDirectoryRole).toBool())
            continue;
        const QString path = index.data(kPathRole).toString();
        if (!path.isEmpty())
            paths.push_back(path.toStdString());
        if (paths.size() > 200)
            break;
    }
    m_analysis->prioritise(paths);
}

} // namespace kivo::app
