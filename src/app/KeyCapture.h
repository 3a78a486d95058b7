#pragma once

// The browser's window-wide key capture: every key press of the application is looked at before
// the focused widget gets it, and the ones meant for the browser go to its key handler instead.
// Ctrl plays the part of the Command key, Alt that of Option, Meta that of Control.

#include <QObject>
#include <QPointer>

#include <functional>

class QKeyEvent;
class QWidget;

namespace kivo::app {

enum class KeyRoute { passOn, capture };

struct KeyContext {
    bool browserWindowActive
        = false; // the browser's window is the active one (no dialog, menu, other window)
    bool textEditing = false; // the focused widget edits text
    Qt::KeyboardModifiers modifiers;
    int key = 0;
};

// Which way a key press goes. Presses with Ctrl held are left to menus and shortcuts, except Ctrl+A
// alone; a text field being edited keeps every key; Tab moves focus as everywhere else.
KeyRoute routeKey(const KeyContext& context);

// True for widgets in which typing edits text: line edits, text edits, spin boxes, editable combos.
bool isTextEditor(const QWidget* widget);
// Inside a part of the window marked with the property "handlesOwnKeys" (a panel of controls).
bool handlesOwnKeys(const QWidget* widget);

class KeyCapture : public QObject {
    Q_OBJECT
public:
    // Returns true when it handled the key.
    using Handler = std::function<bool(const QKeyEvent&)>;

    // Watches the whole application for key presses meant for `browser`'s window.
    KeyCapture(QWidget* browser, Handler handler, QObject* parent = nullptr);
    ~KeyCapture() override;

    void setEnabled(bool enabled) { m_enabled = enabled; }
    bool isEnabled() const { return m_enabled; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<QWidget> m_browser;
    Handler m_handler;
    bool m_enabled = true;
};

} // namespace kivo::app
