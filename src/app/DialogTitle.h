#pragma once

// Window managers set a dialog's title beside the frame's buttons and cut what does not fit
// ("Delete …lection"). These widen a small dialog's content so that its short title shows whole.

class QInputDialog;
class QMessageBox;
class QWidget;

namespace kivo::app {

// The width a dialog's content needs at least for its window title to show whole on the frame.
int titleRoom(const QWidget& dialog);

// Call after the title and texts are set.
void leaveRoomForTitle(QMessageBox& box);
void leaveRoomForTitle(QInputDialog& dialog);

} // namespace kivo::app
