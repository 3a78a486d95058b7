#include "app/ShortcutHelp.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace kivo::app {

std::vector<ShortcutRow> shortcutHelpRows()
{
    return {
        { QStringLiteral("Play"), QStringLiteral("Space") },
        { QStringLiteral("Pause & Resume"), QStringLiteral("Alt + Space") },
        { QStringLiteral("Previous / Next sample"), QStringLiteral("↑ / ↓") },
        { QStringLiteral("Scrub playback"), QStringLiteral("← / →") },
        { QStringLiteral("Hotkeys"), QStringLiteral("1-9") },
        { QStringLiteral("Assign to hotkey"), QStringLiteral("Alt + 1-9") },
        { QStringLiteral("Tap tempo"), QStringLiteral("T") },
        { QStringLiteral("Hide mode"), QStringLiteral("H") },
        { QStringLiteral("Audit hidden"), QStringLiteral("Alt + H") },
        { QStringLiteral("Toggle search"), QStringLiteral("Alt + S") },
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
