#include "app/KeyCapture.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeView>

#include "Printers.h"

#include <gtest/gtest.h>

#include <span>

using namespace kivo::app;

namespace {
struct Press {
    int key;
    Qt::KeyboardModifiers mods = {};
    bool editing = false;
    bool active = true;
};
} // namespace

TEST(KeyCapture, BrowserKeysAreTakenWhileTheWindowIsActiveAndNoTextIsEditedCommandKeysGoToMenus)
{
    const auto alt = Qt::AltModifier, control = Qt::ControlModifier;
    // Command+A alone selects every row; Control (Meta here) alone does not release a key.
    const Press captured[] { { Qt::Key_Space }, { Qt::Key_Space, alt }, { Qt::Key_Down }, { Qt::Key_Left },
        { Qt::Key_S, alt }, { Qt::Key_5 }, { Qt::Key_5, Qt::KeypadModifier }, { Qt::Key_H, Qt::MetaModifier },
        { Qt::Key_A, control } };
    // A text field being edited keeps every key, Space and arrows included.
    const Press passedOn[] { { Qt::Key_Space, {}, true }, { Qt::Key_Down, {}, true },
        { Qt::Key_A, control, true },
        // A dialog, a menu or another window in front.
        { Qt::Key_Space, {}, false, false },
        // Command keys go to the menus.
        { Qt::Key_F, control }, { Qt::Key_Q, control }, { Qt::Key_Space, control },
        { Qt::Key_A, control | Qt::ShiftModifier }, { Qt::Key_A, control | alt },
        { Qt::Key_A, control | Qt::MetaModifier },
        // Focus still moves by Tab; bare modifier presses stay with menus.
        { Qt::Key_Tab }, { Qt::Key_Backtab, Qt::ShiftModifier }, { Qt::Key_Alt, alt } };
    for (const auto& [presses, route] :
        { std::pair { std::span<const Press>(captured), KeyRoute::capture }, { passedOn, KeyRoute::passOn } })
        for (const Press& p : presses)
            EXPECT_EQ(routeKey(KeyContext { p.active, p.editing, p.mods, p.key }), route)
                << std::hex << p.key << " " << p.mods.toInt() << " editing " << p.editing << " active "
                << p.active;

    // Text editors are the widgets that take typing.
    QLineEdit line;
    QLineEdit readOnly;
    readOnly.setReadOnly(true);
    QPlainTextEdit plain;
    QSpinBox spin;
    QComboBox fixed;
    QComboBox editable;
    editable.setEditable(true);
    QTreeView tree;
    QPushButton button;

    for (QWidget* editor : std::initializer_list<QWidget*> { &line, &plain, &spin, &editable })
        EXPECT_TRUE(isTextEditor(editor)) << editor->metaObject()->className();
    for (QWidget* other : std::initializer_list<QWidget*> { &readOnly, &fixed, &tree, &button })
        EXPECT_FALSE(isTextEditor(other)) << other->metaObject()->className();
    EXPECT_FALSE(isTextEditor(nullptr));
}
