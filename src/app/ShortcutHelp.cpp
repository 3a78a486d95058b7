#include "app/ShortcutHelp.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace kivo::app {

std::vector<ShortcutRow> shortcutHelpRows()
{
    using K = QKeySequence;
    return {
        { QStringLiteral("Play"), QStringLiteral("Space"), { K(Qt::Key_Space) } },
        { QStringLiteral("Pause & Resume"), QStringLiteral("Shift + Space  (Alt + Space)"),
            { K(Qt::SHIFT | Qt::Key_Space), K(Qt::ALT | Qt::Key_Space) } },
        { QStringLiteral("Previous / Next sample"), QStringLiteral("↑ / ↓"),
            { K(Qt::Key_Up), K(Qt::Key_Down) } },
        { QStringLiteral("Scrub playback"), QStringLiteral("← / →"), { K(Qt::Key_Left), K(Qt::Key_Right) } },
        { QStringLiteral("Hotkeys"), QStringLiteral("1-9"),
            { K(Qt::Key_1), K(Qt::Key_2), K(Qt::Key_3), K(Qt::Key_4), K(Qt::Key_5), K(Qt::Key_6),
                K(Qt::Key_7), K(Qt::Key_8), K(Qt::Key_9) } },
        { QStringLiteral("Assign to hotkey"), QStringLiteral("Alt + 1-9"),
            { K(Qt::ALT | Qt::Key_1), K(Qt::ALT | Qt::Key_5), K(Qt::ALT | Qt::Key_9) } },
        { QStringLiteral("Tap tempo"), QStringLiteral("T"), { K(Qt::Key_T) } },
        { QStringLiteral("Open / close folder"), QStringLiteral("Return"), { K(Qt::Key_Return) } },
        { QStringLiteral("Toggle search"), QStringLiteral("Alt + S"), { K(Qt::ALT | Qt::Key_S) } },
        { QStringLiteral("Search"), QStringLiteral("Ctrl + F"), { K(Qt::CTRL | Qt::Key_F) } },
        { QStringLiteral("Filters"), QStringLiteral("Ctrl + Shift + F"),
            { K(Qt::CTRL | Qt::SHIFT | Qt::Key_F) } },
        { QStringLiteral("Leave search, then clear it"), QStringLiteral("Escape"), { K(Qt::Key_Escape) } },
        { QStringLiteral("Edit BPM & key"), QStringLiteral("E"), { K(Qt::Key_E) } },
        { QStringLiteral("Edit tags"), QStringLiteral("Alt + T"), { K(Qt::ALT | Qt::Key_T) } },
        { QStringLiteral("Select all"), QStringLiteral("Ctrl + A"), { K(Qt::CTRL | Qt::Key_A) } },
        { QStringLiteral("Add folder"), QStringLiteral("Ctrl + O"), { K(Qt::CTRL | Qt::Key_O) } },
        { QStringLiteral("Settings"), QStringLiteral("Ctrl + ,"), { K(Qt::CTRL | Qt::Key_Comma) } },
        { QStringLiteral("Quit"), QStringLiteral("Ctrl + Q"), { K(Qt::CTRL | Qt::Key_Q) } },
        { QStringLiteral("Hide mode"), QStringLiteral("H"), { K(Qt::Key_H) } },
        { QStringLiteral("Audit hidden"), QStringLiteral("Alt + H"), { K(Qt::ALT | Qt::Key_H) } },
    };
}

ShortcutHelp::ShortcutHelp(QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(tr("Keyboard Shortcuts"));
    setObjectName(QStringLiteral("shortcutHelp"));
    auto* column = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(24);
    grid->setVerticalSpacing(6);
    int row = 0;
    for (const auto& r : shortcutHelpRows()) {
        auto* keys = new QLabel(r.keys, this);
        QFont bold = keys->font();
        bold.setBold(true);
        keys->setFont(bold);
        keys->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        grid->addWidget(new QLabel(r.name, this), row, 0);
        grid->addWidget(keys, row, 1);
        ++row;
    }
    column->addLayout(grid);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
    column->addWidget(buttons);
}

} // namespace kivo::app
