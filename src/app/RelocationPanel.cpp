#include "app/RelocationPanel.h"

#include "library/SyncIssuePrompt.h"

#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QPointer>

namespace kivo::app {

RelocationPanel::RelocationPanel(
    const QString& missingRoot, qsizetype candidates, BackgroundCheck runCheck, QWidget* parent)
    : QFileDialog(parent)
    , m_name(library::folderName(missingRoot))
    , m_prompt(library::relocationMessage(m_name, candidates))
    , m_runCheck(std::move(runCheck))
{
    setObjectName(QStringLiteral("relocationPanel"));
    // The panel's own widgets, so that the message sits in it and a refusal keeps it open.
    setOption(QFileDialog::DontUseNativeDialog);
    setFileMode(QFileDialog::Directory);
    setOption(QFileDialog::ShowDirsOnly);
    setAcceptMode(QFileDialog::AcceptOpen);
    setLabelText(QFileDialog::Accept, QString::fromLatin1(library::kRelocateButton));
    setWindowTitle(QString::fromLatin1(library::kRelocateButton));
    setWindowModality(Qt::WindowModal);
    // Start beside where the folder was: it usually went somewhere near.
    QDir start(QFileInfo(missingRoot).path());
    while (!start.exists() && !start.isRoot())
        start.setPath(QFileInfo(start.path()).path());
    setDirectory(start);

    m_message = new QLabel(this);
    m_message->setObjectName(QStringLiteral("relocationMessage"));
    m_message->setWordWrap(true);
    m_message->setTextFormat(Qt::PlainText);
    if (auto* grid = qobject_cast<QGridLayout*>(layout())) {
        // Above everything else, across the whole panel.
        QList<std::tuple<QLayoutItem*, int, int, int, int>> items;
        while (grid->count() > 0) {
            int row = 0, column = 0, rows = 0, columns = 0;
            grid->getItemPosition(0, &row, &column, &rows, &columns);
            items.append({ grid->takeAt(0), row + 1, column, rows, columns });
        }
        for (const auto& [item, row, column, rows, columns] : items)
            grid->addItem(item, row, column, rows, columns);
        grid->addWidget(m_message, 0, 0, 1, grid->columnCount());
    }
    showMessage(m_prompt, false);
    connect(this, &QFileDialog::currentChanged, this, &RelocationPanel::browsed);
    connect(this, &QFileDialog::directoryEntered, this, &RelocationPanel::browsed);
    resize(720, 480);
}

QString RelocationPanel::message() const
{
    return m_message->text();
}

void RelocationPanel::showMessage(const QString& text, bool refusal)
{
    m_message->setText(text);
    m_message->setStyleSheet(refusal ? QStringLiteral("color: #F07676;") : QString());
}

void RelocationPanel::browsed(const QString& path)
{
    if (m_checking || path.isEmpty() || !QFileInfo(path).isDir())
        return;
    if (library::isRelocationTarget(path, m_name))
        showMessage(m_prompt, false);
    else
        showMessage(library::relocationBrowsingRefusal(m_name), true);
}

void RelocationPanel::accept()
{
    if (m_checking)
        return;
    // A typed path can come with the folder the panel shows; the one that fits is the choice.
    const QStringList chosen = selectedFiles();
    QString folder = chosen.isEmpty() ? directory().absolutePath() : chosen.first();
    for (const QString& path : chosen) {
        if (library::isRelocationTarget(path, m_name)) {
            folder = path;
            break;
        }
    }
    if (!library::isRelocationTarget(folder, m_name)) {
        showMessage(library::relocationNoFolderRefusal(m_name), true);
        return;
    }
    const QString scope = *library::relocationScope(folder, m_name);
    m_checking = true;
    showMessage(m_prompt, false);
    QPointer<RelocationPanel> self(this);
    m_runCheck([scope] { return library::holdsCompatibleFiles(scope); },
        [self, scope](bool holdsFiles) {
            if (!self)
                return;
            self->m_checking = false;
            if (!holdsFiles) {
                self->showMessage(library::relocationNoAudioRefusal(self->m_name), true);
                return;
            }
            emit self->relocationChosen(scope);
            self->QFileDialog::accept();
        });
}

} // namespace kivo::app
