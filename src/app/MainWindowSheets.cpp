#include "app/MainWindow.h"

#include "app/HideToggleButton.h"

#include "app/AnalysisService.h"
#include "app/CustomDragManager.h"
#include "app/DialogTitle.h"
#include "app/SearchResultsModel.h"

#include "library/SettingsTexts.h"
#include "library/SyncPlan.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QTreeView>
#include <QUrl>

#include <algorithm>

// The window's sheets and panels: alerts, the delete and rename questions, the open panel and
// folders dropped on the window.

namespace kivo::app {

namespace {
// The keyboard symbol beside "Assign to hotkey", drawn from the font so it matches the theme.
QIcon keyboardIcon(const QFont& font)
{
    const QIcon themed = QIcon::fromTheme(QStringLiteral("input-keyboard"));
    if (!themed.isNull())
        return themed;
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    QFont f = font;
    f.setPixelSize(26);
    p.setFont(f);
    p.setPen(QApplication::palette().color(QPalette::Text));
    p.drawText(pixmap.rect(), Qt::AlignCenter, QStringLiteral("⌨"));
    return QIcon(pixmap);
}
} // namespace

void MainWindow::showAlert(const QString& title, const QString& text)
{
    // A sheet on the window rather than a nested event loop: the window keeps painting and
    // nothing waits for the user.
    auto* box = new QMessageBox(QMessageBox::Warning, title, text, QMessageBox::Ok, this);
    box->setTextFormat(Qt::PlainText); // folder names as they are, never read as markup
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setObjectName(QStringLiteral("alert"));
    leaveRoomForTitle(*box);
    box->open();
}

void MainWindow::askDelete(int index)
{
    if (index < 0 || index >= int(m_collections.size()))
        return;
    const auto& c = m_collections[std::size_t(index)];
    namespace texts = library::texts;
    // The question leads the sheet; the window manager's title stays short whatever the name.
    auto* box = new QMessageBox(QMessageBox::Warning, tr("Delete collection"),
        texts::deleteCollectionTitle(c.name), QMessageBox::NoButton, this);
    box->setTextFormat(Qt::PlainText);
    box->setInformativeText(texts::deleteCollectionText(c.rootPaths.size()));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setObjectName(QStringLiteral("deleteConfirmation"));
    box->addButton(QString::fromUtf8(texts::kCancelButton), QMessageBox::RejectRole);
    QPushButton* del = box->addButton(QString::fromUtf8(texts::kDeleteButton), QMessageBox::DestructiveRole);
    del->setStyleSheet(QStringLiteral("QPushButton { color: white; background: #%1; border-radius: 4px; "
                                      "padding: 4px 14px; }")
                           .arg(QLatin1String(texts::kDeleteButtonColor)));
    // The collection is named by id: the list may change while the sheet is up.
    const QString id = c.id;
    connect(box, &QMessageBox::finished, this, [this, box, del, id] {
        if (box->clickedButton() != del)
            return;
        for (int i = 0; i < int(m_collections.size()); ++i)
            if (m_collections[std::size_t(i)].id == id)
                emit deleteCollectionConfirmed(i);
    });
    leaveRoomForTitle(*box);
    box->open();
}

void MainWindow::showSyncCancelled(const QString& title, const QString& text, bool offersResync)
{
    auto* box = new QMessageBox(QMessageBox::Information, title, text, QMessageBox::NoButton, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setObjectName(QStringLiteral("syncCancelled"));
    if (offersResync) {
        QPushButton* again
            = box->addButton(QString::fromUtf8(library::kAttemptResyncButton), QMessageBox::AcceptRole);
        box->addButton(QString::fromUtf8(library::kDismissButton), QMessageBox::RejectRole);
        connect(box, &QMessageBox::finished, this, [this, box, again] {
            if (box->clickedButton() == again)
                emit resyncRequested();
        });
    } else {
        box->addButton(QString::fromUtf8(library::kOKButton), QMessageBox::AcceptRole);
    }
    leaveRoomForTitle(*box);
    box->open();
}

namespace {
// A collection's name asked for in a small dialog. Empty when cancelled.
QString askCollectionName(QWidget* parent, const QString& title, const QString& initial)
{
    QInputDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("collectionName"));
    dialog.setWindowTitle(title);
    dialog.setLabelText(QObject::tr("Name:"));
    dialog.setTextValue(initial);
    leaveRoomForTitle(dialog);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.textValue().trimmed();
}
} // namespace

void MainWindow::askRename(int index)
{
    if (index < 0 || index >= int(m_collections.size()))
        return;
    const QString name
        = askCollectionName(this, tr("Rename collection"), m_collections[std::size_t(index)].name);
    if (!name.isEmpty())
        emit renameCollectionRequested(index, name);
}

void MainWindow::askNewCollection()
{
    const QString name
        = askCollectionName(this, tr("New collection"), tr("Collection %1").arg(m_collections.size() + 1));
    if (!name.isEmpty())
        emit addCollectionRequested(name);
}

QStringList MainWindow::chooseFolders()
{
    // Qt's own panel: the desktop's folder pickers choose one folder at a time.
    QFileDialog panel(this, tr("Add folders"), QDir::homePath());
    panel.setFileMode(QFileDialog::Directory);
    panel.setOptions(QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    panel.setLabelText(QFileDialog::Accept, tr("Add"));
    for (auto* view : panel.findChildren<QAbstractItemView*>())
        view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    if (panel.exec() != QDialog::Accepted)
        return {};
    return panel.selectedFiles();
}

void MainWindow::requestAddFolders()
{
    const QStringList folders = chooseFolders();
    if (!folders.isEmpty())
        emit addFoldersRequested(folders);
}

void MainWindow::showRowMenu(QTreeView* view, const QPoint& pos)
{
    const QModelIndex index = view->indexAt(pos).siblingAtColumn(0);
    if (!index.isValid())
        return;
    const QString path = index.data(kPathRole).toString();
    const bool isFolder = index.data(kIsDirectoryRole).toBool();
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("rowMenu"));
    menu.addAction(tr("Show in file manager"), this, [path, isFolder] {
        QDesktopServices::openUrl(QUrl::fromLocalFile(isFolder ? path : QFileInfo(path).absolutePath()));
    });
    if (!isFolder && m_analysis && AnalysisService::hears(path.toStdString()))
        menu.addAction(tr("Show duplicates"), this, [this, path] { showDuplicates(path); })
            ->setObjectName(QStringLiteral("showDuplicates"));
    if (!isFolder && m_services.hotkeyLabels) {
        // The selected files when the row is one of them, else the row alone.
        QStringList files;
        if (view->selectionModel()->isRowSelected(index.row(), index.parent()))
            for (const QUrl& url : selectedFileURLs(*view))
                files << url.toLocalFile();
        if (files.isEmpty())
            files << path;
        QMenu* assign = menu.addMenu(keyboardIcon(menu.font()), tr("Assign to hotkey"));
        const QStringList labels = m_services.hotkeyLabels();
        for (int slot = 0; slot < labels.size(); ++slot)
            assign->addAction(
                labels[slot], this, [this, files, slot] { emit assignToHotkeyRequested(files, slot); });
    }
    // The metadata commands act on the whole selection when the row is part of it.
    std::vector<BrowserRow> items;
    if (view->selectionModel()->isRowSelected(index.row(), index.parent()))
        items = selectedRows();
    else if (const BrowserRow* row = view == m_tree ? m_treeModel->row(index) : m_resultsModel->row(index))
        items.push_back(*row);
    addMetadataSection(menu, items);
    // Hiding and skipping from the row, for one item at a time, in any mode.
    const organise::RowMarks marks = unpackRowMarks(index.data(kRowMarksRole).toInt());
    menu.addSeparator();
    menu.addAction(marks.hidden ? tr("Show Again") : tr("Hide"), this,
        [this, path] { emit hideToggleRequested(path, organise::HideToggleAction::toggleHidden); });
    if (isFolder && !marks.hidden)
        menu.addAction(marks.skipped ? tr("Stop Skipping Folder") : tr("Skip Folder"), this,
            [this, path] { emit hideToggleRequested(path, organise::HideToggleAction::toggleSkipped); });
    // Rows of automatically skipped folders only show in hide mode.
    if (isFolder && !marks.skipped && (marks.autoSkipped || marks.exempt))
        menu.addAction(marks.exempt ? tr("Skip Automatically Again") : tr("Keep This Folder"), this,
            [this, path] { emit hideToggleRequested(path, organise::HideToggleAction::toggleExempt); });
    // A root's row (not a folder shown in place of a skipped root).
    const bool isRoot = view == m_tree && !index.parent().isValid() && m_selected >= 0
        && m_selected < int(m_collections.size())
        && m_collections[std::size_t(m_selected)].rootPaths.contains(path);
    if (isRoot) {
        menu.addSeparator();
        menu.addAction(tr("Remove from collection"), this, [this, path] { emit removeRootRequested(path); });
    }
    menu.exec(view->viewport()->mapToGlobal(pos));
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event)
{
    const auto urls = event->mimeData()->urls();
    const bool folders = !urls.isEmpty() && std::all_of(urls.begin(), urls.end(), [](const QUrl& u) {
        return u.isLocalFile() && QFileInfo(u.toLocalFile()).isDir();
    });
    if (folders)
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event)
{
    QStringList paths;
    for (const QUrl& u : event->mimeData()->urls())
        if (u.isLocalFile() && QFileInfo(u.toLocalFile()).isDir())
            paths << u.toLocalFile();
    if (paths.isEmpty())
        return;
    event->acceptProposedAction();
    emit addFoldersRequested(paths);
}

} // namespace kivo::app
