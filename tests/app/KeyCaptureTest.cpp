#include "app/KeyCapture.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeView>

#include "Printers.h"

#include <gtest/gtest.h>

using namespace kivo::app;

namespace {
KeyRoute route(int key, Qt::KeyboardModifiers mods = {}, bool active = true, bool editing = false)
{
    return routeKey(KeyContext { active, editing, mods, key });
}
} // namespace

TEST(KeyCapture, BrowserKeysAreTakenOnlyWhileTheBrowserWindowIsActiveAndNoTextIsEdited)
{
    EXPECT_EQ(route(Qt::Key_Space), KeyRoute::capture);
    EXPECT_EQ(route(Qt::Key_Space, Qt::AltModifier), KeyRoute::capture);
    EXPECT_EQ(route(Qt::Key_Down), KeyRoute::capture);
    EXPECT_EQ(route(Qt::Key_Left), KeyRoute::capture);
    EXPECT_EQ(route(Qt::Key_S, Qt::AltModifier), KeyRoute::capture);
    EXPECT_EQ(route(Qt::Key_5), KeyRoute::capture);
    EXPECT_EQ(route(Qt::Key_5, Qt::KeypadModifier), KeyRoute::capture);
    // Control (Meta here) alone does not release a key: only the Command key does.
    EXPECT_EQ(route(Qt::Key_H, Qt::MetaModifier), KeyRoute::capture);

    // A text field being edited keeps every key, Space and arrows included.
    EXPECT_EQ(route(Qt::Key_Space, {}, true, true), KeyRoute::passOn);
    EXPECT_EQ(route(Qt::Key_Down, {}, true, true), KeyRoute::passOn);
    EXPECT_EQ(route(Qt::Key_A, Qt::ControlModifier, true, true), KeyRoute::passOn);
    // A dialog, a menu or another window in front.
    EXPECT_EQ(route(Qt::Key_Space, {}, false), KeyRoute::passOn);
}

TEST(KeyCapture, CommandKeysGoToMenusExceptSelectAll)
{
    EXPECT_EQ(route(Qt::Key_F, Qt::ControlModifier), KeyRoute::passOn);
    EXPECT_EQ(route(Qt::Key_Q, Qt::ControlModifier), KeyRoute::passOn);
    EXPECT_EQ(route(Qt::Key_Space, Qt::ControlModifier), KeyRoute::passOn);
    EXPECT_EQ(route(Qt::Key_A, Qt::ControlModifier), KeyRoute::capture);
    EXPECT_EQ(route(Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier), KeyRoute::passOn);
    EXPECT_EQ(route(Qt::Key_A, Qt::ControlModifier | Qt::AltModifier), KeyRoute::passOn);
    EXPECT_EQ(route(Qt::Key_A, Qt::ControlModifier | Qt::MetaModifier), KeyRoute::passOn);
    // Focus still moves by Tab; bare modifier presses stay with menus.
    EXPECT_EQ(route(Qt::Key_Tab), KeyRoute::passOn);
    EXPECT_EQ(route(Qt::Key_Backtab, Qt::ShiftModifier), KeyRoute::passOn);
    EXPECT_EQ(route(Qt::Key_Alt, Qt::AltModifier), KeyRoute::passOn);
}

TEST(KeyCapture, TextEditorsAreWidgetsThatTakeTyping)
{
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

    EXPECT_TRUE(isTextEditor(&line));
    EXPECT_FALSE(isTextEditor(&readOnly));
    EXPECT_TRUE(isTextEditor(&plain));
    EXPECT_TRUE(isTextEditor(&spin));
    EXPECT_FALSE(isTextEditor(&fixed));
    EXPECT_TRUE(isTextEditor(&editable));
    EXPECT_FALSE(isTextEditor(&tree));
    EXPECT_FALSE(isTextEditor(&button));
    EXPECT_FALSE(isTextEditor(nullptr));
}
