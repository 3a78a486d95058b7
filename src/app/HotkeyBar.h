#pragma once

// The hotkey bar under the browser: nine slots "1" to "9" that fire their samples on a click,
// take files dropped from the browser or from other programs, and drag their files out; in
// chord mode the seven triads of the chosen key and the key picker instead. The TAP button sits
// at its end. Menus: a slot's "Locate" and "Clear", the bar's "Clear all" and "Change hotkey
// function".

#include <QAbstractButton>
#include <QString>
#include <QWidget>

#include <vector>

class QHBoxLayout;
class QLabel;
class QMenu;
class QMimeData;
class QToolButton;

namespace kivo::hotkeys {
class HotkeyManager;
class TapTempoManager;
} // namespace kivo::hotkeys

namespace kivo::app {

class TapTempoButton;

// One slot or chord of the bar.
class HotkeySlotButton : public QAbstractButton {
    Q_OBJECT
public:
    HotkeySlotButton(int slot, QWidget* parent = nullptr);

    int slot() const { return m_slot; }
    // The slot's file, empty when none; the title shown; whether the file's drive is away.
    void setContent(const QString& path, const QString& title, const QString& subtitle, bool missing);
    QString path() const { return m_path; }
    QString title() const { return m_title; }
    bool isMissing() const { return m_missing; }
    void setAcceptsFiles(bool on);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void filesDropped(int slot, const QStringList& paths);
    void menuRequested(int slot, const QPoint& globalPos);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    int m_slot;
    QString m_path;
    QString m_title;
    QString m_subtitle;
    bool m_missing = false;
    bool m_dropTarget = false;
    QPoint m_pressPos;
};

// The files of a drop that a slot takes: local files, folders left out, in the dropped order.
QStringList droppedFiles(const QMimeData* mime);

class HotkeyBar : public QWidget {
    Q_OBJECT
public:
    static constexpr const char* kMissingColor = "#F07676";

    HotkeyBar(hotkeys::HotkeyManager& hotkeys, hotkeys::TapTempoManager& tapTempo, QWidget* parent = nullptr);
    ~HotkeyBar() override;

    // Slot buttons 0 to 8 in slot mode, chord buttons 0 to 6 in chord mode; null otherwise.
    HotkeySlotButton* slotButton(int slot) const;
    int shownButtons() const { return int(m_buttons.size()); }
    QToolButton* keyButton() const { return m_keyButton; }
    TapTempoButton* tapButton() const { return m_tap; }
    bool chordBankOnScreen() const { return m_chordBankOnScreen; }

    // The bar's own menu ("Clear all", "Change hotkey function"), added to `menu`.
    void addBarActions(QMenu* menu);

signals:
    // A slot was clicked; the window fires it through its preview player.
    void fireRequested(int slot);
    // "Locate": reveal the file in the browser.
    void locateRequested(const QString& path);
    // The chord bank came on screen or left it.
    void chordBankOnScreenChanged(bool onScreen);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void rebuild();
    void refreshContents();
    void showSlotMenu(int slot, const QPoint& globalPos);
    void buildKeyMenu();
    void updateChordBankOnScreen();

    hotkeys::HotkeyManager& m_hotkeys;
    hotkeys::TapTempoManager& m_tapTempo;
    QHBoxLayout* m_row = nullptr;
    std::vector<HotkeySlotButton*> m_buttons;
    bool m_chordLayout = false;
    QLabel* m_keyLabel = nullptr;
    QToolButton* m_keyButton = nullptr;
    TapTempoButton* m_tap = nullptr;
    bool m_chordBankOnScreen = false;
};

} // namespace kivo::app
