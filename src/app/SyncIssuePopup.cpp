#include "app/SyncIssuePopup.h"

#include "app/DialogTitle.h"
#include "library/MissingFileTracker.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace kivo::app {

using library::IssueAction;

SyncIssuePopup::SyncIssuePopup(library::MissingFileTracker& tracker, IssueHandlers handlers, QWidget* parent)
    : QDialog(parent)
    , m_tracker(tracker)
    , m_handlers(std::move(handlers))
{
    setObjectName(QStringLiteral("syncIssuePopup"));
    setWindowModality(Qt::WindowModal);
    auto* layout = new QVBoxLayout(this);
    m_title = new QLabel(this);
    m_title->setObjectName(QStringLiteral("issueTitle"));
    QFont bold = m_title->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.15);
    m_title->setFont(bold);
    m_line = new QLabel(this);
    m_line->setObjectName(QStringLiteral("issueLine"));
    m_summary = new QLabel(this);
    m_summary->setObjectName(QStringLiteral("issueSummary"));
    m_more = new QLabel(this);
    m_more->setObjectName(QStringLiteral("issueMore"));
    for (QLabel* label : { m_title, m_line, m_summary, m_more }) {
        label->setTextFormat(Qt::PlainText); // names as they are, never read as markup
        label->setWordWrap(true);
        layout->addWidget(label);
    }
    m_more->setForegroundRole(QPalette::PlaceholderText);
    m_buttons = new QHBoxLayout;
    m_buttons->addStretch();
    layout->addSpacing(8);
    layout->addLayout(m_buttons);
    setMinimumWidth(420);
    connect(&m_tracker, &library::MissingFileTracker::promptQueueChanged, this, &SyncIssuePopup::refresh);
    refresh();
}

void SyncIssuePopup::refresh()
{
    const QList<library::SyncIssue>& queue = m_tracker.promptQueue();
    if (queue.isEmpty()) {
        close();
        return;
    }
    m_prompt = library::issuePrompt(queue, m_handlers.roots ? m_handlers.roots() : QStringList());
    setWindowTitle(m_prompt.title);
    m_title->setText(m_prompt.title);
    m_line->setText(m_prompt.line);
    m_summary->setText(m_prompt.summary);
    m_summary->setVisible(!m_prompt.summary.isEmpty());
    m_more->setText(m_prompt.more);
    m_more->setVisible(!m_prompt.more.isEmpty());
    while (m_buttons->count() > 1) {
        QLayoutItem* item = m_buttons->takeAt(1);
        delete item->widget();
        delete item;
    }
    for (IssueAction action : m_prompt.actions) {
        auto* button = new QPushButton(library::issueActionText(action), this);
        button->setAutoDefault(false);
        connect(button, &QPushButton::clicked, this, [this, action] { act(action); });
        m_buttons->addWidget(button);
    }
}

void SyncIssuePopup::act(IssueAction action)
{
    if (m_tracker.promptQueue().isEmpty()) {
        close();
        return;
    }
    const library::SyncIssue issue = m_tracker.promptQueue().first();
    switch (action) {
    case IssueAction::attemptResync:
        // Off the queue but not skipped: the check after the sync asks again if it is still gone.
        m_tracker.resolve(issue.path);
        if (m_handlers.attemptResync)
            m_handlers.attemptResync(issue);
        return;
    case IssueAction::relocate:
        if (m_handlers.relocate)
            m_handlers.relocate(issue);
        return;
    case IssueAction::removeFromBrowser:
        confirmRemoval(issue);
        return;
    case IssueAction::showInFileManager:
        if (m_handlers.showInFileManager)
            m_handlers.showInFileManager(issue);
        return;
    case IssueAction::skip:
    case IssueAction::close:
        m_tracker.skipCurrent();
        return;
    case IssueAction::skipAll:
        m_tracker.skipAll();
        return;
    case IssueAction::closeAll:
        while (!m_tracker.promptQueue().isEmpty())
            m_tracker.skipAll();
        return;
    }
}

void SyncIssuePopup::confirmRemoval(const library::SyncIssue& issue)
{
    auto* box = new QMessageBox(QMessageBox::Warning, QString::fromLatin1(library::kRemoveFromBrowserTitle),
        library::removeFromBrowserText(library::folderName(issue.path)), QMessageBox::NoButton, this);
    box->setTextFormat(Qt::PlainText);
    box->setObjectName(QStringLiteral("removeFromBrowser"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    QPushButton* remove = box->addButton(QStringLiteral("Remove"), QMessageBox::DestructiveRole);
    connect(box, &QMessageBox::finished, this, [this, box, remove, issue] {
        if (box->clickedButton() != remove)
            return;
        if (m_handlers.removeFromBrowser)
            m_handlers.removeFromBrowser(issue);
        m_tracker.resolve(issue.path);
    });
    leaveRoomForTitle(*box);
    box->open();
}

} // namespace kivo::app
