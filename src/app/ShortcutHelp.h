#pragma once

// The shortcut help panel: every key of the browser with what it does. Alt stands where other
// desktops print Option.

#include <QDialog>
#include <QString>

#include <vector>

namespace kivo::app {

struct ShortcutRow {
    QString name;
    QString keys;
};

// In the panel's order.
std::vector<ShortcutRow> shortcutHelpRows();

class ShortcutHelp : public QDialog {
    Q_OBJECT
public:
    explicit ShortcutHelp(QWidget* parent = nullptr);
};

} // namespace kivo::app
