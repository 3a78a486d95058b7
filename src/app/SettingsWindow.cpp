#include "app/SettingsWindow.h"

#include "app/DialogTitle.h"
#include "app/OutputDeviceBox.h"
#include "app/ThemePalette.h"
#include "library/LibraryIndexManager.h"
#include "library/SettingsTexts.h"
#include "library/SyncSettings.h"
#include "library/UserSettings.h"
#include "platform/NotificationCenter.h"
#include "playback/MIDIInstrument.h"

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QShowEvent>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>

namespace kivo::app {

namespace texts = library::texts;

namespace {

// The preview player listens for this: nothing keeps sounding while preferences change.
constexpr char kStopAudioNotification[] = "stopAudioNotification";
// The transposition the MIDI preview applies is limited to two octaves either way.
constexpr int kMaxOctaveShift = 2;

QPointer<SettingsWindow> s_window;

QString text(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

// Shows "+1" for an upward shift, so the direction reads at a glance.
class OctaveShiftBox : public QSpinBox {
public:
    using QSpinBox::QSpinBox;

protected:
    QString textFromValue(int value) const override
    {
        return value > 0 ? QStringLiteral("+") + QString::number(value) : QString::number(value);
    }
};

QString swatchStyle(const char* hex)
{
    return QStringLiteral(
        "QToolButton { background: #%1; border: 2px solid transparent; border-radius: 11px; }"
        "QToolButton:hover { border-color: palette(mid); }"
        "QToolButton:checked { border-color: palette(text); }")
        .arg(QLatin1String(hex));
}

} // namespace

SettingsWindow::SettingsWindow(library::UserSettings& settings, library::SyncSettings& syncSettings,
    library::LibraryIndexManager& library, QWidget* parent, OutputDevices* output)
    : QDialog(parent)
    , m_settings(settings)
    , m_syncSettings(syncSettings)
    , m_library(library)
    , m_output(output)
{
    setObjectName(QStringLiteral("settingsWindow"));
    setWindowTitle(tr("Settings"));
    setModal(false);
    setSizeGripEnabled(false);

    // Two columns of about equal height, each group only as tall as its rows.
    auto* left = new QVBoxLayout;
    left->setSpacing(12);
    left->addWidget(buildBrowser());
    left->addWidget(buildTheme());
    left->addStretch(1);
    auto* right = new QVBoxLayout;
    right->setSpacing(12);
    right->addWidget(buildPlayback());
    if (m_output)
        right->addWidget(new OutputDeviceBox(*m_output, this));
    right->addWidget(buildSyncing());
    right->addStretch(1);
    auto* sections = new QHBoxLayout;
    sections->setSpacing(16);
    sections->addLayout(left, 1);
    sections->addLayout(right, 1);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(18, 18, 18, 14);
    column->setSpacing(16);
    column->addLayout(sections);
    column->addWidget(buildResetRow());

    showKeySpelling();
    showTheme();
    showSyncing();
    layout()->setSizeConstraint(QLayout::SetFixedSize);
}

SettingsWindow::~SettingsWindow() = default;

SettingsWindow* SettingsWindow::open(library::UserSettings& settings, library::SyncSettings& syncSettings,
    library::LibraryIndexManager& library, QWidget* parent, OutputDevices* output)
{
    if (s_window
        && (&s_window->m_settings != &settings || &s_window->m_syncSettings != &syncSettings
            || &s_window->m_library != &library || s_window->m_output != output))
        delete s_window.data();
    if (!s_window) {
        s_window = new SettingsWindow(settings, syncSettings, library, parent, output);
        s_window->setAttribute(Qt::WA_DeleteOnClose);
    }
    s_window->show();
    s_window->raise();
    s_window->activateWindow();
    return s_window;
}

SettingsWindow* SettingsWindow::current()
{
    return s_window;
}

QAction* SettingsWindow::addMenuAction(QMenu* menu, QWidget* parent, std::function<void()> open)
{
    QAction* action = menu->addAction(tr("Settings…"), parent, [open = std::move(open)] { open(); });
    // Not every desktop names a preferences key; Ctrl+, is the common one.
    QList<QKeySequence> keys = QKeySequence::keyBindings(QKeySequence::Preferences);
    if (!keys.contains(QKeySequence(Qt::CTRL | Qt::Key_Comma)))
        keys.prepend(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    action->setShortcuts(keys);
    action->setMenuRole(QAction::PreferencesRole);
    return action;
}

void SettingsWindow::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        platform::NotificationCenter::shared().post(QString::fromLatin1(kStopAudioNotification));
}

template <typename Owner, typename Signal>
QCheckBox* SettingsWindow::addToggle(QVBoxLayout* layout, const char* label, const char* field, Owner& owner,
    bool (Owner::*get)() const, void (Owner::*set)(bool), Signal changed, std::function<void()> after)
{
    auto* box = new QCheckBox(text(label));
    box->setObjectName(QString::fromLatin1(field));
    box->setChecked((owner.*get)());
    connect(box, &QCheckBox::toggled, this, [&owner, set, after](bool on) {
        (owner.*set)(on);
        if (after)
            after();
    });
    connect(&owner, changed, box, [box, &owner, get] {
        const QSignalBlocker quiet(box);
        box->setChecked((owner.*get)());
    });
    layout->addWidget(box);
    return box;
}

QGroupBox* SettingsWindow::buildBrowser()
{
    using library::UserSettings;
    auto* group = new QGroupBox(text(texts::kBrowserSection), this);
    auto* rows = new QVBoxLayout(group);
    rows->setSpacing(6);
    addToggle(rows, texts::kHideFileExtensionsLabel, "hideFileExtensions", m_settings,
        &UserSettings::hideFileExtensions, &UserSettings::setHideFileExtensions,
        &UserSettings::hideFileExtensionsChanged);
    addToggle(rows, texts::kSkipNestedSubfoldersLabel, "skipNestedSubfolders", m_settings,
        &UserSettings::skipNestedSubfolders, &UserSettings::setSkipNestedSubfolders,
        &UserSettings::skipNestedSubfoldersChanged);
    addToggle(rows, texts::kSeparateMIDIFilesLabel, "separateMIDIFiles", m_settings,
        &UserSettings::separateMIDIFiles, &UserSettings::setSeparateMIDIFiles,
        &UserSettings::separateMIDIFilesChanged);
    addToggle(rows, texts::kSortByBPMLabel, "sortByBPM", m_settings, &UserSettings::sortByBPM,
        &UserSettings::setSortByBPM, &UserSettings::sortByBPMChanged);
    addToggle(rows, texts::kSortRomanNumeralsLabel, "sortRomanNumerals", m_settings,
        &UserSettings::sortRomanNumerals, &UserSettings::setSortRomanNumerals,
        &UserSettings::sortRomanNumeralsChanged);

    m_keySpelling = new QComboBox(group);
    m_keySpelling->setObjectName(QStringLiteral("keySpelling"));
    using music::KeySpelling;
    m_keySpelling->addItem(text(texts::kKeySpellingSharp), music::rawValue(KeySpelling::sharp));
    m_keySpelling->addItem(text(texts::kKeySpellingFlat), music::rawValue(KeySpelling::flat));
    m_keySpelling->addItem(text(texts::kKeySpellingAuto), music::rawValue(KeySpelling::automatic));
    connect(m_keySpelling, &QComboBox::activated, this, [this](int row) {
        const auto spelling = music::keySpellingFromRaw(m_keySpelling->itemData(row).toInt());
        m_settings.setKeySpelling(spelling.value_or(KeySpelling::automatic));
    });
    connect(&m_settings, &UserSettings::keySpellingChanged, this, &SettingsWindow::showKeySpelling);
    auto* form = new QFormLayout;
    form->setContentsMargins(0, 6, 0, 0);
    form->addRow(text(texts::kKeySpellingLabel), m_keySpelling);
    rows->addLayout(form);
    return group;
}

QGroupBox* SettingsWindow::buildPlayback()
{
    using library::UserSettings;
    auto* group = new QGroupBox(text(texts::kPlaybackSection), this);
    auto* rows = new QVBoxLayout(group);
    rows->setSpacing(6);

    m_instrument = new QComboBox(group);
    m_instrument->setObjectName(QStringLiteral("midiInstrument"));
    for (const playback::MIDIInstrument& sound : playback::MIDIInstrument::all())
        m_instrument->addItem(QString::fromStdString(sound.name));
    auto showInstrument = [this] {
        const QSignalBlocker quiet(m_instrument);
        m_instrument->setCurrentIndex(m_settings.midiInstrument());
    };
    showInstrument();
    connect(m_instrument, &QComboBox::activated, &m_settings, &UserSettings::setMidiInstrument);
    connect(&m_settings, &UserSettings::midiInstrumentChanged, m_instrument, showInstrument);

    m_octaveShift = new OctaveShiftBox(group);
    m_octaveShift->setObjectName(QStringLiteral("midiOctaveShift"));
    m_octaveShift->setRange(-kMaxOctaveShift, kMaxOctaveShift);
    m_octaveShift->setAlignment(Qt::AlignRight);
    auto showShift = [this] {
        const QSignalBlocker quiet(m_octaveShift);
        m_octaveShift->setValue(m_settings.midiOctaveShift());
    };
    showShift();
    connect(m_octaveShift, &QSpinBox::valueChanged, &m_settings, &UserSettings::setMidiOctaveShift);
    connect(&m_settings, &UserSettings::midiOctaveShiftChanged, m_octaveShift, showShift);

    auto* form = new QFormLayout;
    form->setContentsMargins(0, 0, 0, 6);
    form->addRow(text(texts::kMidiInstrumentLabel), m_instrument);
    form->addRow(text(texts::kMidiOctaveShiftLabel), m_octaveShift);
    rows->addLayout(form);

    addToggle(rows, texts::kMidiCatchNotesLabel, "midiCatchNotes", m_settings, &UserSettings::midiCatchNotes,
        &UserSettings::setMidiCatchNotes, &UserSettings::midiCatchNotesChanged);
    addToggle(rows, texts::kAutoPauseWhenUnfocusedLabel, "autoPauseWhenUnfocused", m_settings,
        &UserSettings::autoPauseWhenUnfocused, &UserSettings::setAutoPauseWhenUnfocused,
        &UserSettings::autoPauseWhenUnfocusedChanged);
    return group;
}

QGroupBox* SettingsWindow::buildSyncing()
{
    using library::SyncSettings;
    auto* group = new QGroupBox(text(texts::kSyncingSection), this);
    auto* rows = new QVBoxLayout(group);
    rows->setSpacing(6);
    const auto save = [this] { m_syncSettings.save(); };
    addToggle(rows, texts::kCheckDriveStateLabel, "checkDriveState", m_syncSettings,
        &SyncSettings::checkDriveState, &SyncSettings::setCheckDriveState,
        &SyncSettings::checkDriveStateChanged, save);
    addToggle(rows, texts::kDetectMissingItemsLabel, "detectMissingItems", m_syncSettings,
        &SyncSettings::detectMissingItems, &SyncSettings::setDetectMissingItems,
        &SyncSettings::detectMissingItemsChanged, save);
    addToggle(rows, texts::kNotifyPathUpdatesLabel, "notifyPathUpdates", m_syncSettings,
        &SyncSettings::notifyPathUpdates, &SyncSettings::setNotifyPathUpdates,
        &SyncSettings::notifyPathUpdatesChanged, save);

    m_syncNow = new QPushButton(text(texts::kSyncNowButton), group);
    m_syncNow->setObjectName(QStringLiteral("syncNow"));
    m_syncNow->setAutoDefault(false);
    connect(m_syncNow, &QPushButton::clicked, this, [this] { m_library.syncNow(m_settings); });
    connect(
        &m_library, &library::LibraryIndexManager::isInitializingChanged, this, &SettingsWindow::showSyncing);
    auto* buttonRow = new QHBoxLayout;
    buttonRow->setContentsMargins(0, 6, 0, 0);
    buttonRow->addWidget(m_syncNow);
    buttonRow->addStretch(1);
    rows->addLayout(buttonRow);
    return group;
}

QGroupBox* SettingsWindow::buildTheme()
{
    auto* group = new QGroupBox(text(texts::kThemeColorLabel), this);
    auto* row = new QHBoxLayout(group);
    row->setSpacing(8);
    m_themes = new QButtonGroup(group);
    m_themes->setExclusive(true);
    for (std::size_t i = 0; i < kThemeColors.size(); ++i) {
        auto* swatch = new QToolButton(group);
        swatch->setObjectName(QStringLiteral("theme%1").arg(i));
        swatch->setCheckable(true);
        swatch->setFixedSize(22, 22);
        swatch->setToolTip(tr(kThemeColors[i].name));
        swatch->setAccessibleName(tr(kThemeColors[i].name));
        swatch->setStyleSheet(swatchStyle(kThemeColors[i].hex));
        m_themes->addButton(swatch, int(i));
        row->addWidget(swatch);
    }
    row->addStretch(1);
    connect(m_themes, &QButtonGroup::idClicked, &m_settings, &library::UserSettings::setSelectedTheme);
    connect(&m_settings, &library::UserSettings::selectedThemeChanged, this, &SettingsWindow::showTheme);
    return group;
}

QWidget* SettingsWindow::buildResetRow()
{
    auto* buttons = new QDialogButtonBox(this);
    m_defaults = new QPushButton(text(texts::kDefaultSettingsButton), buttons);
    m_defaults->setObjectName(QStringLiteral("defaultSettings"));
    m_factoryReset = new QPushButton(text(texts::kFactoryResetButton), buttons);
    m_factoryReset->setObjectName(QStringLiteral("factoryReset"));
    // Reset buttons on the left, away from Close, so neither is hit by habit.
    buttons->addButton(m_defaults, QDialogButtonBox::ResetRole);
    buttons->addButton(m_factoryReset, QDialogButtonBox::ResetRole);
    QPushButton* close = buttons->addButton(QDialogButtonBox::Close);
    close->setIcon(QIcon());
    close->setDefault(true);
    for (QPushButton* b : { m_defaults, m_factoryReset })
        b->setAutoDefault(false);
    connect(m_defaults, &QPushButton::clicked, this, &SettingsWindow::askRestoreDefaults);
    connect(m_factoryReset, &QPushButton::clicked, this, &SettingsWindow::askFactoryReset);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
    return buttons;
}

void SettingsWindow::showKeySpelling()
{
    const QSignalBlocker quiet(m_keySpelling);
    m_keySpelling->setCurrentIndex(m_keySpelling->findData(m_settings.keySpellingValue()));
}

void SettingsWindow::showTheme()
{
    if (QAbstractButton* b = m_themes->button(themeIndex(m_settings.selectedTheme())))
        b->setChecked(true);
}

void SettingsWindow::showSyncing()
{
    // The driver ignores a second sync while one runs; the button says so.
    m_syncNow->setEnabled(!m_library.isInitializing());
}

void SettingsWindow::askRestoreDefaults()
{
    confirm("restoreDefaultsConfirmation", texts::kDefaultSettingsTitle, texts::kDefaultSettingsText,
        texts::kDefaultSettingsButton, [this] {
            m_settings.restoreDefaultPreferences();
            m_syncSettings.resetToDefaults();
        });
}

void SettingsWindow::askFactoryReset()
{
    confirm("factoryResetConfirmation", texts::kFactoryResetTitle, texts::kFactoryResetText,
        texts::kFactoryResetButton, [this] {
            m_settings.factoryReset();
            m_syncSettings.resetToDefaults();
        });
}

void SettingsWindow::confirm(
    const char* name, const char* title, const char* body, const char* button, std::function<void()> command)
{
    auto* box = new QMessageBox(QMessageBox::Warning, text(title), text(body), QMessageBox::NoButton, this);
    box->setObjectName(QString::fromLatin1(name));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    QPushButton* cancel = box->addButton(text(texts::kCancelButton), QMessageBox::RejectRole);
    QPushButton* go = box->addButton(text(button), QMessageBox::DestructiveRole);
    box->setDefaultButton(cancel);
    box->setEscapeButton(cancel);
    connect(box, &QMessageBox::finished, this, [box, go, command = std::move(command)] {
        if (box->clickedButton() == go)
            command();
    });
    leaveRoomForTitle(*box);
    box->open();
}

} // namespace kivo::app
