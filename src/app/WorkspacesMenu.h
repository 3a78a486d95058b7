#pragma once

// The window's side of workspaces: the "Workspaces" menu (rebuilt each time it opens), the
// "Window" menu after it, their name prompts, confirmation and pop-ups, the import and export
// panels for ".kivo" files, and the "Loading workspace" overlay while a change is in progress.

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class QMainWindow;
class QMenu;
class QWidget;

namespace kivo::library {
class WorkspaceManager;
}

namespace kivo::app {

class WorkspacesMenu : public QObject {
    Q_OBJECT
public:
    // Adds both menus to the window's menu bar, before "Help" when there is one.
    WorkspacesMenu(library::WorkspaceManager& manager, QMainWindow& window);
    ~WorkspacesMenu() override;

    QMenu* menu() const { return m_menu; }
    QMenu* windowMenu() const { return m_windowMenu; }
    // Reads, checks and imports a backup file (the import panel's choice, or a file given on the
    // command line). With `waitForSync`, a change refused because a sync runs waits for the sync
    // instead of saying so.
    void importFile(const QString& path, bool waitForSync = false);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void rebuild();
    void rebuildWindowMenu();
    void askNew();
    void askDuplicate();
    void askRename();
    void askDelete();
    void chooseImport();
    void chooseExport();
    void refuse();
    void alert(const QString& title, const QString& text, const char* objectName);
    // A name prompt sheet; `then` gets the accepted text.
    void askName(const QString& title, const QString& initial, const QString& button, const char* objectName,
        std::function<void(const QString&)> then);
    void updateOverlay();

    library::WorkspaceManager& m_manager;
    QMainWindow& m_window;
    QMenu* m_menu = nullptr;
    QMenu* m_windowMenu = nullptr;
    QPointer<QWidget> m_overlay;
    QString m_pendingImport;
};

} // namespace kivo::app
