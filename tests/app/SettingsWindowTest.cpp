#include "app/SettingsWindow.h"
#include "app/OutputDeviceBox.h"
#include "app/OutputDevices.h"
#include "library/LibraryIndexManager.h"
#include "library/MissingFileTracker.h"
#include "library/SyncSettings.h"
#include "library/UserSettings.h"
#include "platform/NotificationCenter.h"
#include "platform/PreferenceStore.h"
#include "platform/TaskRunner.h"
#include "playback/AudioEngine.h"
#include "playback/OutputPreferences.h"
#include "support/TestEnvironment.h"

#include "Printers.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>

#include <gtest/gtest.h>

#include "MessageBoxes.h"

#include <functional>
#include <future>
#include <memory>

using namespace kivo;
using namespace kivo::app;

namespace {

// The window on private preferences and a sync driver of its own.
struct Settings {
    platform::TaskRunner tasks; // first: it outlives what runs on it
    test::ScratchDir dir;
    QString prefsPath = dir.path() + "/prefs.plist";
    std::unique_ptr<platform::PreferenceStore> prefs = std::make_unique<platform::PreferenceStore>(prefsPath);
    library::UserSettings settings { *prefs };
    library::SyncSettings syncSettings { *prefs };
    library::MissingFileTracker tracker;
    std::unique_ptr<library::LibraryIndexManager> library;
    int movedRootChecks = 0;
    std::unique_ptr<SettingsWindow> window;

    Settings()
    {
        library::LibraryIndexManagerOptions options;
        options.store.cacheFilePath = dir.str() + "/SearchIndex.json";
        options.store.log = [](const std::string&) {};
        options.tracker = &tracker;
        options.syncSettings = &syncSettings;
        // Sync now looks for moved roots first when path updates are on: proof it reached the driver.
        options.detectMovedRoots = [this](library::UserSettings& s) {
            EXPECT_EQ(&s, &settings);
            ++movedRootChecks;
            return QList<QPair<QString, QString>> {};
        };
        library = std::make_unique<library::LibraryIndexManager>(tasks, std::move(options));
        window = std::make_unique<SettingsWindow>(settings, syncSettings, *library);
    }

    template <typename T> T* control(const char* name) const
    {
        T* w = window->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QCheckBox* check(const char* name) const { return control<QCheckBox>(name); }
    // What a fresh store on the same file reads: the value really reached the disk.
    std::unique_ptr<platform::PreferenceStore> reopened() const
    {
        prefs->flush();
        return std::make_unique<platform::PreferenceStore>(prefsPath);
    }
    QMessageBox* sheet(const char* name) const { return test::findSheet(window.get(), name); }
};

void dropDeleted()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace

TEST(SettingsWindow, ControlsFollowChangesMadeElsewhereAndEachChangesItsSettingAndTheStore)
{
    Settings s;
    s.settings.setHideFileExtensions(true);
    s.settings.setSortByBPM(false);
    s.settings.setMidiCatchNotes(false);
    s.settings.setKeySpelling(music::KeySpelling::sharp);
    s.settings.setMidiInstrument(3);
    s.settings.setMidiOctaveShift(2);
    s.settings.setSelectedTheme(4);
    s.syncSettings.setDetectMissingItems(false);
    s.syncSettings.setNotifyPathUpdates(true);
    EXPECT_TRUE(s.check("hideFileExtensions")->isChecked());
    EXPECT_FALSE(s.check("sortByBPM")->isChecked());
    EXPECT_FALSE(s.check("midiCatchNotes")->isChecked());
    EXPECT_EQ(s.control<QComboBox>("keySpelling")->currentText(), "Sharp");
    EXPECT_EQ(s.control<QComboBox>("midiInstrument")->currentText(), "Pad");
    EXPECT_EQ(s.control<QSpinBox>("midiOctaveShift")->text(), "+2");
    EXPECT_TRUE(s.window->themeButtons()->button(4)->isChecked());
    EXPECT_FALSE(s.check("detectMissingItems")->isChecked());
    EXPECT_TRUE(s.check("notifyPathUpdates")->isChecked());
    // Showing a change is not making one: nothing was written for the sync settings.
    EXPECT_FALSE(s.prefs->contains("DetectMissingItems"));

    // A workspace brought other values into the store.
    s.prefs->setValue("skipNestedSubfolders", true);
    s.prefs->setValue("keySpelling", qint64(1));
    s.prefs->setValue("selectedTheme", qint64(99));
    s.prefs->setValue("CheckDriveState", false);
    s.settings.reloadFromStore();
    s.syncSettings.reloadFromStore();
    EXPECT_TRUE(s.check("skipNestedSubfolders")->isChecked());
    EXPECT_EQ(s.control<QComboBox>("keySpelling")->currentText(), "Flat");
    // A theme index outside the palette shows the first colour.
    EXPECT_TRUE(s.window->themeButtons()->button(0)->isChecked());
    EXPECT_FALSE(s.check("checkDriveState")->isChecked());

    // Each toggle shows its setting's value, and a click turns the setting over.
    const std::pair<const char*, std::function<bool()>> toggles[] = {
        { "hideFileExtensions", [&] { return s.settings.hideFileExtensions(); } },
        { "skipNestedSubfolders", [&] { return s.settings.skipNestedSubfolders(); } },
        { "separateMIDIFiles", [&] { return s.settings.separateMIDIFiles(); } },
        { "sortByBPM", [&] { return s.settings.sortByBPM(); } },
        { "sortRomanNumerals", [&] { return s.settings.sortRomanNumerals(); } },
        { "midiCatchNotes", [&] { return s.settings.midiCatchNotes(); } },
        { "autoPauseWhenUnfocused", [&] { return s.settings.autoPauseWhenUnfocused(); } },
        { "checkDriveState", [&] { return s.syncSettings.checkDriveState(); } },
        { "detectMissingItems", [&] { return s.syncSettings.detectMissingItems(); } },
        { "notifyPathUpdates", [&] { return s.syncSettings.notifyPathUpdates(); } },
    };
    for (const auto& [field, value] : toggles) {
        QCheckBox* box = s.check(field);
        ASSERT_NE(box, nullptr);
        const bool before = value();
        EXPECT_EQ(box->isChecked(), before) << field;
        box->click();
        EXPECT_EQ(value(), !before) << field;
    }

    QComboBox* spelling = s.control<QComboBox>("keySpelling");
    emit spelling->activated(0);
    EXPECT_EQ(s.settings.keySpelling(), music::KeySpelling::sharp);
    emit spelling->activated(1);
    EXPECT_EQ(s.settings.keySpelling(), music::KeySpelling::flat);
    emit s.control<QComboBox>("midiInstrument")->activated(2);
    EXPECT_EQ(s.settings.midiInstrument(), 2);
    s.control<QSpinBox>("midiOctaveShift")->setValue(-1);
    EXPECT_EQ(s.settings.midiOctaveShift(), -1);
    s.window->themeButtons()->button(5)->click();
    EXPECT_EQ(s.settings.selectedTheme(), 5);

    // A sync toggle saves the sync settings (what a save writes is their own test).
    EXPECT_TRUE(s.reopened()->contains("DetectMissingItems"));
}

// Both resets ask first, change nothing on Cancel, and reach the settings and the window on confirm
// (what each reset keeps is the settings' own test).
TEST(SettingsWindow, DefaultSettingsAndFactoryResetAskFirstAndCancelChangesNothing)
{
    const struct {
        QPushButton* (SettingsWindow::*button)() const;
        const char* sheet;
        const char* confirm;
        int collectionsAfter;
    } resets[] {
        { &SettingsWindow::defaultSettingsButton, "restoreDefaultsConfirmation", "Default Settings", 2 },
        { &SettingsWindow::factoryResetButton, "factoryResetConfirmation", "Factory Reset", 1 },
    };
    for (const auto& reset : resets) {
        SCOPED_TRACE(reset.sheet);
        Settings s;
        ASSERT_TRUE(s.settings.addPath(QString::fromStdString(s.dir.mkdir("Loops")), 0));
        s.settings.addGroup("Drums", "");
        s.settings.setSortRomanNumerals(true);
        s.syncSettings.setNotifyPathUpdates(true);
        s.syncSettings.save();
        s.window->show();

        for (const char* answer : { "Cancel", reset.confirm }) {
            (s.window.get()->*reset.button)()->click();
            QMessageBox* ask = s.sheet(reset.sheet);
            ASSERT_NE(ask, nullptr);
            test::clickButton(ask, answer);
            dropDeleted();
            EXPECT_EQ(s.sheet(reset.sheet), nullptr);
            const bool kept = answer == std::string_view("Cancel");
            EXPECT_EQ(s.settings.sortRomanNumerals(), kept);
            EXPECT_EQ(s.syncSettings.notifyPathUpdates(), kept);
            EXPECT_EQ(s.check("sortRomanNumerals")->isChecked(), kept);
            EXPECT_EQ(s.check("notifyPathUpdates")->isChecked(), kept);
        }
        EXPECT_EQ(s.settings.bookmarks().size(), reset.collectionsAfter);
        EXPECT_EQ(s.reopened()->boolValue("NotifyPathUpdates"), false);
    }
}

TEST(SettingsWindow, SyncNowGoesToTheDriverAndTheMenuItemOpensOneWindowThatStopsThePreview)
{
    QWidget parent;
    QMenu menu;
    int opened = 0;
    QAction* action = SettingsWindow::addMenuAction(&menu, &parent, [&] { ++opened; });
    EXPECT_EQ(menu.actions(), QList<QAction*> { action });
    action->trigger();
    EXPECT_EQ(opened, 1);

    Settings s;
    s.syncSettings.setNotifyPathUpdates(true);
    s.window->syncNowButton()->click();
    EXPECT_EQ(s.movedRootChecks, 1);

    // A root the index has not seen makes Sync now start a sync; the button waits for it to end.
    s.dir.write("Samples/Kick.wav", "RIFF");
    ASSERT_TRUE(s.settings.addPath(s.dir.path() + "/Samples", 0));
    QSignalSpy finished(s.library.get(), &library::LibraryIndexManager::syncFinished);
    // The roots are resolved in the background first, then the sync starts.
    std::optional<bool> enabledWhileSyncing;
    QObject::connect(s.library.get(), &library::LibraryIndexManager::isInitializingChanged, [&] {
        if (s.library->isInitializing())
            enabledWhileSyncing = s.window->syncNowButton()->isEnabled();
    });
    s.window->syncNowButton()->click();
    EXPECT_EQ(s.movedRootChecks, 2);
    ASSERT_TRUE(finished.wait(20000));
    EXPECT_EQ(enabledWhileSyncing, false);
    EXPECT_TRUE(s.window->syncNowButton()->isEnabled());

    int stops = 0;
    QObject context;
    platform::NotificationCenter::shared().observe(
        QStringLiteral("stopAudioNotification"), &context, [&](const QVariantMap&) { ++stops; });
    SettingsWindow* first = SettingsWindow::open(s.settings, s.syncSettings, *s.library);
    EXPECT_EQ(stops, 1);
    EXPECT_TRUE(first->isVisible());
    EXPECT_FALSE(first->isModal());
    // One window: asking again brings the same one forward.
    EXPECT_EQ(SettingsWindow::open(s.settings, s.syncSettings, *s.library), first);
    EXPECT_EQ(SettingsWindow::current(), first);
    first->close();
    dropDeleted();
    EXPECT_EQ(SettingsWindow::current(), nullptr);
    SettingsWindow* second = SettingsWindow::open(s.settings, s.syncSettings, *s.library);
    EXPECT_EQ(stops, 2);
    // Asked for on other settings objects, the window is built anew on those.
    Settings other;
    QPointer<SettingsWindow> bound(second);
    SettingsWindow* third = SettingsWindow::open(other.settings, other.syncSettings, *other.library);
    EXPECT_TRUE(bound.isNull());
    third->findChild<QCheckBox*>(QStringLiteral("hideFileExtensions"))->click();
    EXPECT_NE(other.settings.hideFileExtensions(), s.settings.hideFileExtensions());
    delete third;
}

// The device list arrives from the background; a choice made in the window reaches the store and
// reads back after a restart, and the strip-bound notice names a remembered device that is missing.
// A listing still under way when the engine goes (quitting) finds no devices instead of the freed engine.
TEST(SettingsWindow, OutputDeviceIsListedInTheBackgroundAndRemembered)
{
    Settings s;
    platform::TaskRunner oneThread(1); // the listing can be held back behind other work
    auto engine = std::make_unique<playback::AudioEngine>();
    playback::storeOutputChoice(*s.prefs, playback::OutputChoice { "ALSA", "Gone Interface", 256, 0 });
    OutputDevices output(oneThread, *s.prefs, *engine);
    SettingsWindow window(s.settings, s.syncSettings, *s.library, nullptr, &output);
    auto* box = window.findChild<OutputDeviceBox*>();
    ASSERT_NE(box, nullptr);
    QComboBox* devices = box->deviceBox();
    ASSERT_TRUE(test::waitFor([&] { return output.devices().has_value(); }, 60000));
    EXPECT_EQ(devices->currentText(), QStringLiteral("Gone Interface (not available)"));
    // Headings are not choices; every device row sits under one.
    for (int row = 1; row < devices->count(); ++row) {
        const bool heading = !(devices->model()->flags(devices->model()->index(row, 0)) & Qt::ItemIsEnabled);
        EXPECT_EQ(heading, !devices->itemData(row, Qt::UserRole + 1).isValid()) << row;
    }

    engine->start();
    ASSERT_TRUE(test::waitFor([&] { return !output.status().message.empty(); }, 60000));
    EXPECT_TRUE(box->statusText().contains(QStringLiteral("Gone Interface")));

    devices->setCurrentIndex(0);
    emit devices->activated(0);
    box->bufferBox()->setCurrentIndex(box->bufferBox()->findData(1024));
    emit box->bufferBox()->activated(box->bufferBox()->currentIndex());
    box->rateBox()->setCurrentIndex(box->rateBox()->findData(44100));
    emit box->rateBox()->activated(box->rateBox()->currentIndex());
    EXPECT_EQ(playback::loadOutputChoice(*s.reopened()), (playback::OutputChoice { "", "", 1024, 44100 }));
    EXPECT_TRUE(test::waitFor([&] { return output.status().message.empty(); }, 60000));

    std::promise<void> release;
    oneThread.run([held = release.get_future().share()] { held.wait(); });
    output.refresh();
    engine.reset();
    release.set_value();
    ASSERT_TRUE(test::waitFor([&] { return !output.isListing(); }, 60000));
    EXPECT_TRUE(output.devices()->empty());
}
