#pragma once

// The settings window: the browser, playback and syncing preferences, the theme colour, and the
// two reset commands. Every control shows the current value and follows changes made elsewhere
// (a workspace load, a reset); a change made here goes straight to the settings object, which
// stores it. One window at a time, beside the browser rather than in front of it.

#include <QDialog>

#include <functional>

class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QMenu;
class QPushButton;
class QSpinBox;
class QVBoxLayout;

namespace kivo::library {
class LibraryIndexManager;
class SyncSettings;
class UserSettings;
} // namespace kivo::library

namespace kivo::app {

class OutputDevices;

class SettingsWindow : public QDialog {
    Q_OBJECT
public:
    // With `output`, the window also offers the output device.
    SettingsWindow(library::UserSettings& settings, library::SyncSettings& syncSettings,
        library::LibraryIndexManager& library, QWidget* parent = nullptr, OutputDevices* output = nullptr);
    ~SettingsWindow() override;

    // Shows the settings window on these objects, building it on first use and bringing it forward
    // after; a window open on other objects is closed first.
    static SettingsWindow* open(library::UserSettings& settings, library::SyncSettings& syncSettings,
        library::LibraryIndexManager& library, QWidget* parent = nullptr, OutputDevices* output = nullptr);
    // The open window, if any.
    static SettingsWindow* current();
    // Adds "Settings…" (Ctrl+,) to `menu`; choosing it calls `open`.
    static QAction* addMenuAction(QMenu* menu, QWidget* parent, std::function<void()> open);

    // Window-modal confirmations; the command runs only after its button is pressed.
    void askRestoreDefaults();
    void askFactoryReset();

    QPushButton* syncNowButton() const { return m_syncNow; }
    QPushButton* defaultSettingsButton() const { return m_defaults; }
    QPushButton* factoryResetButton() const { return m_factoryReset; }
    QButtonGroup* themeButtons() const { return m_themes; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    QGroupBox* buildBrowser();
    QGroupBox* buildPlayback();
    QGroupBox* buildSyncing();
    QGroupBox* buildTheme();
    QWidget* buildResetRow();

    // A check box bound to one bool field of `owner`: it shows the field, follows its NOTIFY
    // signal, and writes through the setter (then `after`, if any).
    template <typename Owner, typename Signal>
    QCheckBox* addToggle(QVBoxLayout* layout, const char* label, const char* field, Owner& owner,
        bool (Owner::*get)() const, void (Owner::*set)(bool), Signal changed,
        std::function<void()> after = {});
    void showKeySpelling();
    void showTheme();
    void showSyncing();
    void confirm(const char* name, const char* title, const char* text, const char* button,
        std::function<void()> command);

    library::UserSettings& m_settings;
    library::SyncSettings& m_syncSettings;
    library::LibraryIndexManager& m_library;
    OutputDevices* m_output;

    QComboBox* m_keySpelling = nullptr;
    QComboBox* m_instrument = nullptr;
    QSpinBox* m_octaveShift = nullptr;
    QPushButton* m_syncNow = nullptr;
    QButtonGroup* m_themes = nullptr;
    QPushButton* m_defaults = nullptr;
    QPushButton* m_factoryReset = nullptr;
};

} // namespace kivo::app
