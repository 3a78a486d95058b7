#pragma once

// The shortcut help panel: every key of the browser that works, with what it does. Alt stands
// where other desktops print Option. A key gets its row here when it starts to work.

#include <QDialog>
#include <QKeySequence>
#include <QList>
#include <QString>

#include <vector>

namespace kivo::app {

struct ShortcutRow {
    QString name;
    QString keys; // as the panel prints them
    QList<QKeySequence> presses; // every key press the row stands for
};

// In the panel's order.
std::vector<ShortcutRow> shortcutHelpRows();

class ShortcutHelp : public QDialog {
    Q_OBJECT
public:
    explicit ShortcutHelp(QWidget* parent = nullptr);
};

} // namespace kivo::app
