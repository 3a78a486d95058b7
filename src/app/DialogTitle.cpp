#include "app/DialogTitle.h"

#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>

#include <algorithm>

namespace kivo::app {

namespace {
constexpr int kLeastContentWidth = 300;
} // namespace

int titleRoom(const QWidget& dialog)
{
    // The frame sets the title in bold beside its icon and three buttons: twice the title's
    // width in the dialog's own font covers them on the usual themes.
    return std::max(kLeastContentWidth, dialog.fontMetrics().horizontalAdvance(dialog.windowTitle()) * 2);
}

void leaveRoomForTitle(QMessageBox& box)
{
    // A message box sizes itself to its layout's minimum, which its text label sets; a minimum
    // width on the box itself is overridden.
    if (auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label")))
        label->setMinimumWidth(titleRoom(box));
}

void leaveRoomForTitle(QInputDialog& dialog)
{
    // The same for the input dialog, whose field sets its width.
    if (auto* field = dialog.findChild<QLineEdit*>())
        field->setMinimumWidth(titleRoom(dialog));
}

} // namespace kivo::app
