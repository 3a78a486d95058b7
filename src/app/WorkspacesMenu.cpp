#include "app/WorkspacesMenu.h"

#include "app/DialogTitle.h"
#include "library/WorkspaceManager.h"
#include "library/WorkspaceTexts.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace kivo::app {

namespace texts = library::workspaceTexts;

namespace {

QString text(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

constexpr char kDeleteButtonColor[] = "F07676";

// Dims the window's content while a workspace loads; clicks stop here.
class LoadingOverlay : public QWidget {
public:
    explicit LoadingOverlay(QWidget* parent)
        : QWidget(parent)
    {
        setObjectName(QStringLiteral("workspaceLoadingOverlay"));
        setAttribute(Qt::WA_StyledBackground);
        setStyleSheet(QStringLiteral("#workspaceLoadingOverlay { background: rgba(0, 0, 0, 110); }"
                                     "QLabel { color: white; font-size: 15px; }"));
        auto* box = new QVBoxLayout(this);
        box->addStretch();
        auto* label = new QLabel(text(texts::kLoadingText), this);
        label->setAlignment(Qt::AlignCenter);
        box->addWidget(label);
        auto* spinner = new QProgressBar(this);
        spinner->setRange(0, 0);
        spinner->setTextVisible(false);
        spinner->setFixedWidth(160);
        box->addWidget(spinner, 0, Qt::AlignHCenter);
        box->addStretch();
    }
};

} // namespace

WorkspacesMenu::WorkspacesMenu(library::WorkspaceManager& manager, QMainWindow& window)
    : QObject(&window)
    , m_manager(manager)
    , m_window(window)
{
    m_menu = new QMenu(text(texts::kMenuTitle), &window);
    m_menu->setObjectName(QStringLiteral("workspacesMenu"));
    connect(m_menu, &QMenu::aboutToShow, this, &WorkspacesMenu::rebuild);
    m_windowMenu = new QMenu(tr("Window"), &window);
    m_windowMenu->setObjectName(QStringLiteral("windowMenu"));
    connect(m_windowMenu, &QMenu::aboutToShow, this, &WorkspacesMenu::rebuildWindowMenu);

    QMenuBar* bar = window.menuBar();
    QAction* help = nullptr;
    for (QAction* action : bar->actions())
        if (action->menu() && action->text().remove(QLatin1Char('&')) == QStringLiteral("Help"))
            help = action;
    bar->insertMenu(help, m_menu);
    bar->insertMenu(help, m_windowMenu);
    rebuild();
    rebuildWindowMenu();

    connect(&m_manager, &library::WorkspaceManager::isLoadingChanged, this, &WorkspacesMenu::updateOverlay);
    connect(&m_manager, &library::WorkspaceManager::busyChanged, this, [this] {
        if (!m_pendingImport.isEmpty() && !m_manager.isBusy())
            importFile(std::exchange(m_pendingImport, QString()), true);
    });
    updateOverlay();
}

WorkspacesMenu::~WorkspacesMenu() = default;

void WorkspacesMenu::rebuild()
{
    m_menu->clear();
    const bool busy = m_manager.isBusy();
    for (const library::Workspace& w : m_manager.workspaces()) {
        QAction* item = m_menu->addAction(w.name);
        item->setCheckable(true);
        item->setChecked(w.id == m_manager.activeID());
        item->setEnabled(!busy);
        const QUuid id = w.id;
        connect(item, &QAction::triggered, this, [this, id] {
            if (!m_manager.switchTo(id))
                refuse();
            rebuild(); // the check mark stays on the active workspace until the switch happens
        });
    }
    m_menu->addSeparator();
    m_menu->addAction(text(texts::kNewItem), this, &WorkspacesMenu::askNew)->setEnabled(!busy);
    m_menu->addAction(text(texts::kDuplicateItem), this, &WorkspacesMenu::askDuplicate)->setEnabled(!busy);
    m_menu->addAction(text(texts::kRenameItem), this, &WorkspacesMenu::askRename);
    m_menu->addAction(text(texts::kDeleteItem), this, &WorkspacesMenu::askDelete)
        ->setEnabled(!busy && m_manager.workspaces().size() >= 2);
    m_menu->addSeparator();
    m_menu->addAction(text(texts::kImportItem), this, &WorkspacesMenu::chooseImport)->setEnabled(!busy);
    m_menu->addAction(text(texts::kExportItem), this, &WorkspacesMenu::chooseExport);
}

void WorkspacesMenu::rebuildWindowMenu()
{
    m_windowMenu->clear();
    QAction* minimise = m_windowMenu->addAction(tr("Minimize"), &m_window, &QWidget::showMinimized);
    minimise->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_M));
    m_windowMenu->addAction(tr("Zoom"), this, [this] {
        if (m_window.isMaximized())
            m_window.showNormal();
        else
            m_window.showMaximized();
    });
    m_windowMenu->addSeparator();
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (!top->isWindow() || !top->isVisible() || top->windowTitle().isEmpty()
            || top->windowType() == Qt::Popup || qobject_cast<QMenu*>(top))
            continue;
        QAction* item = m_windowMenu->addAction(top->windowTitle());
        item->setCheckable(true);
        item->setChecked(top == QApplication::activeWindow());
        QPointer<QWidget> target(top);
        connect(item, &QAction::triggered, this, [target] {
            if (!target)
                return;
            if (target->isMinimized())
                target->showNormal();
            target->raise();
            target->activateWindow();
        });
    }
}

void WorkspacesMenu::askName(const QString& title, const QString& initial, const QString& button,
    const char* objectName, std::function<void(const QString&)> then)
{
    auto* dialog = new QInputDialog(&m_window);
    dialog->setObjectName(QString::fromLatin1(objectName));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(title);
    dialog->setLabelText(tr("Name:"));
    dialog->setTextValue(initial);
    dialog->setOkButtonText(button);
    dialog->setCancelButtonText(text(texts::kCancelButton));
    if (auto* field = dialog->findChild<QLineEdit*>())
        field->setPlaceholderText(text(texts::kNamePlaceholder));
    leaveRoomForTitle(*dialog);
    connect(dialog, &QInputDialog::textValueSelected, this, [then = std::move(then)](const QString& value) {
        const QString name = value.trimmed();
        if (!name.isEmpty())
            then(name);
    });
    dialog->open();
}

void WorkspacesMenu::askNew()
{
    askName(text(texts::kNewTitle), text(texts::kNewDefaultName), text(texts::kCreateButton), "newWorkspace",
        [this](const QString& name) {
            if (!m_manager.newWorkspace(name))
                refuse();
        });
}

void WorkspacesMenu::askDuplicate()
{
    const auto active = m_manager.activeWorkspace();
    if (!active)
        return;
    const QUuid id = active->id;
    askName(text(texts::kDuplicateTitle), active->name + text(texts::kDuplicateSuffix),
        text(texts::kDuplicateButton), "duplicateWorkspace", [this, id](const QString& name) {
            if (m_manager.isBusy())
                return refuse();
            QPointer<WorkspacesMenu> self(this);
            m_manager.duplicateWorkspace(id, name, [self](bool copied) {
                if (self && !copied)
                    self->alert(
                        text(texts::kBusyTitle), text(texts::kDuplicateFailedText), "duplicateFailed");
            });
        });
}

void WorkspacesMenu::askRename()
{
    const auto active = m_manager.activeWorkspace();
    if (!active)
        return;
    const QUuid id = active->id;
    askName(text(texts::kRenameTitle), active->name, text(texts::kRenameButton), "renameWorkspace",
        [this, id](const QString& name) { m_manager.renameWorkspace(id, name); });
}

void WorkspacesMenu::askDelete()
{
    const auto active = m_manager.activeWorkspace();
    if (!active || m_manager.workspaces().size() < 2)
        return;
    // The question leads the sheet, as for collections; the frame's title stays short.
    auto* box = new QMessageBox(QMessageBox::Warning, tr("Delete workspace"),
        texts::deleteTitle(active->name), QMessageBox::NoButton, &m_window);
    box->setObjectName(QStringLiteral("deleteWorkspace"));
    box->setTextFormat(Qt::PlainText);
    box->setInformativeText(text(texts::kDeleteText));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->addButton(text(texts::kCancelButton), QMessageBox::RejectRole);
    QPushButton* del = box->addButton(text(texts::kDeleteButton), QMessageBox::DestructiveRole);
    del->setStyleSheet(QStringLiteral("QPushButton { color: white; background: #%1; border-radius: 4px; "
                                      "padding: 4px 14px; }")
                           .arg(QLatin1String(kDeleteButtonColor)));
    const QUuid id = active->id;
    connect(box, &QMessageBox::finished, this, [this, box, del, id] {
        if (box->clickedButton() == del && !m_manager.deleteWorkspace(id))
            refuse();
    });
    leaveRoomForTitle(*box);
    box->open();
}

void WorkspacesMenu::chooseImport()
{
    auto* panel = new QFileDialog(&m_window, text(texts::kImportPanelTitle), QDir::homePath());
    panel->setObjectName(QStringLiteral("importWorkspacePanel"));
    panel->setAttribute(Qt::WA_DeleteOnClose);
    panel->setOption(QFileDialog::DontUseNativeDialog);
    panel->setFileMode(QFileDialog::ExistingFile);
    panel->setAcceptMode(QFileDialog::AcceptOpen);
    panel->setNameFilter(text(texts::kFileFilter));
    panel->setLabelText(QFileDialog::Accept, text(texts::kImportButton));
    connect(panel, &QFileDialog::fileSelected, this, [this](const QString& path) { importFile(path); });
    panel->open();
}

void WorkspacesMenu::chooseExport()
{
    const auto active = m_manager.activeWorkspace();
    auto* panel = new QFileDialog(&m_window, text(texts::kExportPanelTitle), QDir::homePath());
    panel->setObjectName(QStringLiteral("exportWorkspacePanel"));
    panel->setAttribute(Qt::WA_DeleteOnClose);
    panel->setOption(QFileDialog::DontUseNativeDialog);
    panel->setAcceptMode(QFileDialog::AcceptSave);
    panel->setFileMode(QFileDialog::AnyFile);
    panel->setNameFilter(text(texts::kFileFilter));
    panel->setDefaultSuffix(QString::fromLatin1(library::kBackupExtension));
    panel->selectFile((active ? active->name : text(texts::kNewDefaultName)) + QStringLiteral(".kivo"));
    connect(panel, &QFileDialog::fileSelected, this, [this](const QString& path) {
        QPointer<WorkspacesMenu> self(this);
        m_manager.exportTo(path, [self](bool written) {
            if (self && !written)
                self->alert(text(texts::kBusyTitle), text(texts::kExportFailedText), "exportFailed");
        });
    });
    panel->open();
}

void WorkspacesMenu::importFile(const QString& path, bool waitForSync)
{
    if (m_manager.isBusy()) {
        if (waitForSync)
            m_pendingImport = path;
        else
            refuse();
        return;
    }
    QPointer<WorkspacesMenu> self(this);
    const QString name = QFileInfo(path).completeBaseName();
    m_manager.readBackupFile(path, [self, name, path, waitForSync](std::optional<QByteArray> bytes) {
        if (!self)
            return;
        if (!bytes)
            return self->alert(
                text(texts::kInvalidImportTitle), text(texts::kInvalidImportText), "importInvalid");
        if (self->m_manager.importWorkspace(*bytes, name))
            return;
        if (waitForSync)
            self->m_pendingImport = path;
        else
            self->refuse();
    });
}

void WorkspacesMenu::refuse()
{
    alert(text(texts::kBusyTitle), text(texts::kBusyText), "workspacesBusy");
}

void WorkspacesMenu::alert(const QString& title, const QString& message, const char* objectName)
{
    auto* box = new QMessageBox(QMessageBox::Information, title, message, QMessageBox::NoButton, &m_window);
    box->setObjectName(QString::fromLatin1(objectName));
    box->setTextFormat(Qt::PlainText);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->addButton(text(texts::kOKButton), QMessageBox::AcceptRole);
    leaveRoomForTitle(*box);
    box->open();
}

void WorkspacesMenu::updateOverlay()
{
    QWidget* centre = m_window.centralWidget();
    if (!m_manager.isLoading()) {
        if (m_overlay)
            m_overlay->hide();
        if (centre)
            centre->setEnabled(true);
        return;
    }
    if (!m_overlay) {
        m_overlay = new LoadingOverlay(&m_window);
        if (centre)
            centre->installEventFilter(this);
    }
    if (centre) {
        m_overlay->setGeometry(centre->geometry());
        centre->setEnabled(false);
    }
    m_overlay->show();
    m_overlay->raise();
}

bool WorkspacesMenu::eventFilter(QObject* watched, QEvent* event)
{
    const bool moved = event->type() == QEvent::Resize || event->type() == QEvent::Move;
    if (moved && m_overlay && watched == m_window.centralWidget())
        m_overlay->setGeometry(m_window.centralWidget()->geometry());
    return QObject::eventFilter(watched, event);
}

} // namespace kivo::app
