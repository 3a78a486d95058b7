#include "app/KeyCapture.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

namespace kivo::app {

KeyRoute routeKey(const KeyContext& context)
{
    if (!context.browserWindowActive || context.textEditing)
        return KeyRoute::passOn;
    const auto mods = context.modifiers & ~Qt::KeypadModifier;
    if (mods & Qt::ControlModifier) {
        const bool selectAll
            = context.key == Qt::Key_A && !(mods & (Qt::ShiftModifier | Qt::AltModifier | Qt::MetaModifier));
        if (!selectAll)
            return KeyRoute::passOn;
    }
    // Focus moves by Tab in every window on this desktop; the browser has no use for it.
    if (context.key == Qt::Key_Tab || context.key == Qt::Key_Backtab)
        return KeyRoute::passOn;
    // Lone modifier presses carry no action and menus listen for them.
    switch (context.key) {
    case Qt::Key_Control:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_Shift:
    case Qt::Key_Meta:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
        return KeyRoute::passOn;
    default:
        return KeyRoute::capture;
    }
}

bool isTextEditor(const QWidget* widget)
{
    if (!widget)
        return false;
    if (auto* line = qobject_cast<const QLineEdit*>(widget))
        return !line->isReadOnly();
    if (auto* text = qobject_cast<const QTextEdit*>(widget))
        return !text->isReadOnly();
    if (auto* plain = qobject_cast<const QPlainTextEdit*>(widget))
        return !plain->isReadOnly();
    if (qobject_cast<const QAbstractSpinBox*>(widget))
        return true;
    if (auto* combo = qobject_cast<const QComboBox*>(widget))
        return combo->isEditable();
    return false;
}

bool handlesOwnKeys(const QWidget* widget)
{
    for (; widget; widget = widget->parentWidget())
        if (widget->property("handlesOwnKeys").toBool())
            return true;
    return false;
}

KeyCapture::KeyCapture(QWidget* browser, Handler handler, QObject* parent)
    : QObject(parent)
    , m_browser(browser)
    , m_handler(std::move(handler))
{
    qApp->installEventFilter(this);
}

KeyCapture::~KeyCapture()
{
    if (qApp)
        qApp->removeEventFilter(this);
}

bool KeyCapture::eventFilter(QObject* watched, QEvent* event)
{
    const bool press = event->type() == QEvent::KeyPress;
    if ((!press && event->type() != QEvent::ShortcutOverride) || !m_enabled || !m_browser || !m_handler)
        return false;
    // A key press is offered again to every parent of the widget that ignored it; the first look
    // decides for all of them.
    if (!watched->isWidgetType())
        return false;
    auto* key = static_cast<QKeyEvent*>(event);
    QWidget* window = m_browser->window();
    KeyContext context;
    context.browserWindowActive = window && window->isVisible() && QApplication::activeWindow() == window
        && !QApplication::activePopupWidget() && !QApplication::activeModalWidget();
    context.textEditing
        = isTextEditor(QApplication::focusWidget()) || handlesOwnKeys(QApplication::focusWidget());
    context.modifiers = key->modifiers();
    context.key = key->key();
    if (routeKey(context) == KeyRoute::passOn)
        return false;
    if (!press) {
        // Claimed before any shortcut sees it: Alt+letter would otherwise open a menu by its
        // mnemonic instead of reaching the browser.
        event->accept();
        return true;
    }
    m_handler(*key);
    return true;
}

} // namespace kivo::app
