#pragma once

// The missing-item pop-up: the first queued issue of the tracker with its title, line, counts and
// buttons. It follows the queue as it changes and closes itself when the queue is empty. What the
// buttons do beyond the queue (a re-sync, a relocation, a removal) is the controller's.

#include "library/SyncIssue.h"
#include "library/SyncIssuePrompt.h"

#include <QDialog>

#include <functional>

class QLabel;
class QHBoxLayout;

namespace kivo::library {
class MissingFileTracker;
}

namespace kivo::app {

struct IssueHandlers {
    std::function<void(const library::SyncIssue&)> attemptResync;
    std::function<void(const library::SyncIssue&)> relocate;
    std::function<void(const library::SyncIssue&)> removeFromBrowser; // after the user confirmed
    std::function<void(const library::SyncIssue&)> showInFileManager;
    std::function<QStringList()> roots; // the roots a missing folder may be (relocatable, removable)
};

class SyncIssuePopup : public QDialog {
    Q_OBJECT
public:
    SyncIssuePopup(library::MissingFileTracker& tracker, IssueHandlers handlers, QWidget* parent);

    const library::IssuePrompt& prompt() const { return m_prompt; }

private:
    void refresh();
    void act(library::IssueAction action);
    void confirmRemoval(const library::SyncIssue& issue);

    library::MissingFileTracker& m_tracker;
    IssueHandlers m_handlers;
    library::IssuePrompt m_prompt;
    QLabel* m_title = nullptr;
    QLabel* m_line = nullptr;
    QLabel* m_summary = nullptr;
    QLabel* m_more = nullptr;
    QHBoxLayout* m_buttons = nullptr;
};

} // namespace kivo::app
