#include "app/MainWindow.h"

#include "app/SearchResultsModel.h"
#include "app/TagEditor.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QStackedWidget>
#include <QTreeView>

// The browser's own keys, handed over by the window-wide key capture.

namespace kivo::app {

bool MainWindow::moveSelection(int step)
{
    m_selectionStep = step;
    auto* view = static_cast<QTreeView*>(currentView());
    const QModelIndex current = view->currentIndex();
    QModelIndex next;
    if (!current.isValid())
        next = view->model()->index(0, 0);
    else if (!view->selectionModel()->isRowSelected(current.row(), current.parent()))
        next = current; // focus came without a selection (Tab, a new list): take the row it is on
    else
        next = step > 0 ? view->indexBelow(current) : view->indexAbove(current);
    if (!next.isValid())
        return false;
    view->setCurrentIndex(next);
    view->scrollTo(next);
    return true;
}

bool MainWindow::handleBrowserKey(const QKeyEvent& event)
{
    if (handleOwnKey(event))
        return true;
    for (const auto& handler : m_keyHandlers)
        if (handler(event))
            return true;
    return false;
}

bool MainWindow::handleOwnKey(const QKeyEvent& event)
{
    const auto mods = event.modifiers() & ~(Qt::KeypadModifier | Qt::ShiftModifier);
    const bool alt = mods & Qt::AltModifier;
    const bool plain = mods == Qt::NoModifier;
    switch (event.key()) {
    case Qt::Key_Space:
        // Shift+Space: most Linux desktops keep Alt+Space for the window menu.
        if (alt || (event.modifiers() & Qt::ShiftModifier)) {
            emit togglePlayPauseRequested();
        } else if (auto path = selectedFile()) {
            emit playRequested(*path);
        }
        return true;
    case Qt::Key_Up:
    case Qt::Key_Down:
        // Up from the first result goes back to the query that found it.
        if (event.key() == Qt::Key_Up && m_views->currentIndex() == kResultsPage
            && m_results->currentIndex().row() <= 0) {
            m_search->setFocus(Qt::OtherFocusReason);
            return true;
        }
        if (moveSelection(event.key() == Qt::Key_Down ? 1 : -1))
            if (auto path = selectedFile())
                emit playRequested(*path);
        return true;
    case Qt::Key_Left:
    case Qt::Key_Right:
        emit skipRequested(event.key() == Qt::Key_Right ? 1.0 : -1.0);
        return true;
    case Qt::Key_H:
        // H: hide mode; Alt+H: the hidden-items list.
        if (mods & (Qt::ControlModifier | Qt::MetaModifier))
            return false;
        if (alt)
            emit auditHiddenRequested();
        else
            emit hideModeRequested();
        return true;
    case Qt::Key_S:
        if (alt && !(mods & (Qt::ControlModifier | Qt::MetaModifier))) {
            toggleSearch();
            return true;
        }
        return false;
    case Qt::Key_E:
        if (plain) {
            editTempoAndKey();
            return true;
        }
        return false;
    case Qt::Key_T:
        if (mods == Qt::AltModifier) {
            editTags();
            return true;
        }
        return false;
    case Qt::Key_A:
        if (mods == Qt::ControlModifier) {
            currentView()->selectAll();
            return true;
        }
        return false;
    case Qt::Key_Escape:
        // The second Escape (the first left the field) drops the query.
        if (plain && !m_search->text().isEmpty()) {
            m_search->clear();
            m_tree->setFocus();
            return true;
        }
        return false;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (plain && m_views->currentIndex() == kTreePage && m_tree->currentIndex().isValid()) {
            const QModelIndex i = m_tree->currentIndex().siblingAtColumn(0);
            if (i.data(kIsDirectoryRole).toBool())
                m_tree->setExpanded(i, !m_tree->isExpanded(i));
            return true;
        }
        return false;
    default:
        return false;
    }
}

bool MainWindow::handleSearchFieldKey(const QKeyEvent& event)
{
    // Alt+S toggles back out of the field it led into (typing no "s" there).
    if (event.key() == Qt::Key_S && (event.modifiers() & ~Qt::KeypadModifier) == Qt::AltModifier) {
        if (m_search->text().isEmpty())
            currentView()->setFocus(Qt::OtherFocusReason);
        else
            toggleSearch();
        return true;
    }
    // Alt+H lists the hidden items from here too, rather than typing an "h".
    if (event.key() == Qt::Key_H && (event.modifiers() & ~Qt::KeypadModifier) == Qt::AltModifier) {
        emit auditHiddenRequested();
        return true;
    }
    if (event.modifiers() & ~Qt::KeypadModifier)
        return false;
    switch (event.key()) {
    case Qt::Key_Escape:
        currentView()->setFocus(Qt::OtherFocusReason);
        return true;
    case Qt::Key_Down:
    case Qt::Key_Return:
    case Qt::Key_Enter: {
        // To the first result (or the tree's row), selected and played as Down plays in the list.
        if (m_views->currentIndex() == kNoResultsPage)
            return true;
        auto* view = static_cast<QTreeView*>(currentView());
        view->setFocus(Qt::OtherFocusReason);
        if (view == m_results)
            view->setCurrentIndex(m_resultsModel->index(0, 0));
        else
            moveSelection(1);
        if (auto path = selectedFile())
            emit playRequested(*path);
        return true;
    }
    default:
        return false;
    }
}

void MainWindow::focusSearch()
{
    if (m_centre->currentIndex() != kBrowserPage)
        return;
    m_search->setFocus(Qt::ShortcutFocusReason);
    m_search->selectAll();
}

void MainWindow::toggleSearch()
{
    if (!m_search->text().isEmpty()) {
        m_search->clear();
        currentView()->setFocus();
    } else {
        focusSearch();
    }
}

} // namespace kivo::app
