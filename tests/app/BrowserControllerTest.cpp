#include "app/BrowserController.h"
#include "app/MainWindow.h"
#include "app/PreviewStrip.h"
#include "app/SeekBar.h"
#include "app/SyncStatusBar.h"
#include "app/VolumeKnob.h"
#include "library/LibraryIndexManager.h"
#include "library/MissingFileTracker.h"
#include "library/SyncSettings.h"
#include "library/UserSettings.h"
#include "music/MIDIFileWriter.h"
#include "platform/PreferenceStore.h"
#include "playback/AudioEngine.h"
#include "support/TestEnvironment.h"

#include "Printers.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDir>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include "MessageBoxes.h"

using namespace kivo;
using namespace kivo::app;

namespace {

QMessageBox* sheet(QWidget* window, const char* name) { return test::findSheet(window, name); }

void click(QMessageBox* box, const QString& text) { test::clickButton(box, text); }

// A browser on private preferences, cache and sound output.
struct Browser {
    test::ScratchDir dir;
    platform::PreferenceStore prefs { dir.path() + "/prefs.plist" };
    library::UserSettings settings { prefs };
    library::SyncSettings syncSettings { prefs };
    library::MissingFileTracker tracker;
    std::unique_ptr<library::LibraryIndexManager> library;
    playback::AudioEngine engine;
    std::unique_ptr<BrowserController> controller;

    Browser()
    {
        library::LibraryIndexManagerOptions options;
        options.store.cacheFilePath = dir.str() + "/SearchIndex.json";
        options.store.log = [](const std::string&) {};
        options.tracker = &tracker;
        options.syncSettings = &syncSettings;
        library = std::make_unique<library::LibraryIndexManager>(std::move(options));
        engine.useOfflineRendering(48000);
        engine.start();
        playback::AudioPlayerManager::Options player;
        player.engine = &engine;
        player.tracker = &tracker;
        controller = std::make_unique<BrowserController>(settings, *library, std::move(player));
    }
    MainWindow* window() const { return controller->window(); }
};

} // namespace

TEST(BrowserController, AddsEligibleFoldersImportsThemAndReportsTheRefusedOnes)
{
    Browser b;
    const std::string drums = b.dir.mkdir("Samples/Drums");
    b.dir.write("Samples/Drums/Kick.wav", "RIFF");
    MainWindow* w = b.window();
    EXPECT_EQ(w->page(), MainWindow::Page::emptyState);
    QSignalSpy finished(b.library.get(), &library::LibraryIndexManager::syncFinished);

    b.controller->addFolders({ QString::fromStdString(drums), QDir::homePath() });
    ASSERT_EQ(b.settings.bookmarks().size(), 1);
    ASSERT_EQ(b.settings.bookmarks()[0].paths.size(), 1);
    EXPECT_EQ(collectionEntries(b.settings)[0].rootPaths, QStringList { QString::fromStdString(drums) });
    EXPECT_EQ(w->page(), MainWindow::Page::tree);
    EXPECT_EQ(w->treeModel()->index(0, 0).data().toString(), "Drums");

    QMessageBox* alert = sheet(w, "alert");
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->windowTitle(), "Ineligible folder");
    EXPECT_TRUE(alert->text().contains("is a home folder and can’t be synced for protective reasons."));
    alert->close();

    // The new root is indexed: the tree then lists its file from the index.
    ASSERT_TRUE(finished.wait(20000));
    EXPECT_FALSE(b.library->isInitializing());
    ASSERT_EQ(b.library->cachedRootsByGroup().size(), 1u);
    const QModelIndex root = w->treeModel()->index(0, 0);
    w->treeModel()->fetchMore(root);
    ASSERT_EQ(w->treeModel()->rowCount(root), 1);
    EXPECT_EQ(w->treeModel()->index(0, 0, root).data().toString(), "Kick.wav");

    // The same folder again, through a "." on the way, changes nothing and asks nothing.
    b.controller->addFolders({ QString::fromStdString(drums) + "/../Drums/." });
    EXPECT_EQ(b.settings.bookmarks()[0].paths.size(), 1);
    EXPECT_FALSE(b.library->isInitializing());

    // Dragging the second root above the first stores the new order.
    const std::string loops = b.dir.mkdir("Samples/Loops");
    b.controller->addFolders({ QString::fromStdString(loops) });
    ASSERT_TRUE(finished.wait(20000));
    emit w->moveRootRequested(1, 0);
    EXPECT_EQ(collectionEntries(b.settings)[0].rootPaths,
        (QStringList { QString::fromStdString(loops), QString::fromStdString(drums) }));
    EXPECT_EQ(w->treeModel()->index(0, 0).data().toString(), "Loops");
    b.controller->removeRoot(QString::fromStdString(loops));

    // Removing the root takes it out of the collection and the index.
    b.controller->removeRoot("/not/a/root");
    EXPECT_EQ(b.settings.bookmarks()[0].paths.size(), 1);
    b.controller->removeRoot(QString::fromStdString(drums));
    EXPECT_TRUE(b.settings.bookmarks()[0].paths.isEmpty());
    EXPECT_EQ(w->page(), MainWindow::Page::emptyState);
    EXPECT_TRUE(b.library->cachedRootsByGroup().begin()->second.empty());
}

TEST(BrowserController, DeletingACollectionAsksFirstAndTheLastOneStays)
{
    Browser b;
    MainWindow* w = b.window();
    b.controller->addCollection();
    ASSERT_EQ(b.settings.bookmarks().size(), 2);
    EXPECT_EQ(b.settings.selectedGroup(), 1);
    EXPECT_EQ(w->collectionBar()->collections().size(), 2u);

    w->askDelete(1);
    QMessageBox* ask = sheet(w, "deleteConfirmation");
    ASSERT_NE(ask, nullptr);
    EXPECT_EQ(ask->windowTitle(), "Delete \"Collection 2\"?");
    EXPECT_EQ(ask->text(),
        "This will remove the entire collection including 0 folder paths and user made adjustments.");
    click(ask, "Cancel");
    EXPECT_EQ(b.settings.bookmarks().size(), 2);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(sheet(w, "deleteConfirmation"), nullptr);

    w->askDelete(1);
    ask = sheet(w, "deleteConfirmation");
    ASSERT_NE(ask, nullptr);
    click(ask, "Delete");
    EXPECT_EQ(b.settings.bookmarks().size(), 1);
    EXPECT_EQ(w->collectionBar()->collections().size(), 1u);

    b.controller->deleteCollection(0);
    EXPECT_EQ(b.settings.bookmarks().size(), 1);
}

TEST(BrowserController, DraggingACollectionReordersThemAndKeepsTheSelection)
{
    EXPECT_EQ(collectionDropGap({ 40, 120, 200 }, 10), 0);
    EXPECT_EQ(collectionDropGap({ 40, 120, 200 }, 100), 1);
    EXPECT_EQ(collectionDropGap({ 40, 120, 200 }, 500), 3);
    EXPECT_EQ(collectionDropGap({}, 500), 0);

    Browser b;
    MainWindow* w = b.window();
    b.controller->addCollection("Drums");
    b.controller->addCollection("Keys");
    ASSERT_EQ(b.settings.bookmarks().size(), 3);
    const QString first = w->collections()[0].id;
    emit w->moveCollectionRequested(first, 3);
    ASSERT_EQ(w->collections().size(), 3u);
    EXPECT_EQ(w->collections()[0].name, "Drums");
    EXPECT_EQ(w->collections()[2].id, first);
    EXPECT_EQ(w->collectionBar()->button(2)->text(), "Collection");
    EXPECT_EQ(w->collections()[std::size_t(b.settings.selectedGroup())].name, "Keys");
}

TEST(BrowserController, SelectingLoadsThePreviewAndAClickOnAPausedPreviewPlaysFromThere)
{
    Browser b;
    const std::string path = b.dir.str() + "/tone.wav";
    ASSERT_EQ(std::system(("sox -n -r 48000 -c 2 '" + path + "' synth 2 sine 440 2>/dev/null").c_str()), 0);
    MainWindow* w = b.window();
    PreviewStrip* strip = w->previewStrip();

    emit w->fileSelected(QString::fromStdString(path));
    EXPECT_EQ(strip->nameText(), "tone.wav");
    EXPECT_FALSE(b.controller->player().isPlaying());
    EXPECT_TRUE(strip->timeText().endsWith("/ 0:02.0")) << strip->timeText().toStdString();

    b.controller->seekFromPreview(0.5);
    EXPECT_TRUE(b.controller->player().isPlaying());
    EXPECT_NEAR(b.controller->player().currentTime(), 1.0, 0.05);

    // The knob writes the player's volume; the player's volume shows on the knob.
    emit w->volumeEdited(0.8);
    EXPECT_FLOAT_EQ(b.controller->player().volumeControl().position(), 0.8f);
    b.controller->player().volumeControl().setPosition(0.3f);
    EXPECT_NEAR(strip->knob()->position(), 0.3, 1e-6);

    emit w->fileSelected(QString());
    EXPECT_FALSE(b.controller->player().isPlaying());
}

TEST(BrowserController, AMIDIFileShowsItsNotesInThePreviewOnceReadAndAnAudioFileDoesNot)
{
    Browser b;
    music::MIDIFileWriter writer;
    writer.addTempoBPM(0, 0, 120);
    writer.addNote(0, 0, 480, 60, 100);
    writer.addNote(0, 480, 480, 64, 100);
    const auto bytes = writer.bytes();
    const std::string midi = b.dir.write("Riff.mid", std::string(bytes.begin(), bytes.end()));
    const std::string broken = b.dir.write("Broken.mid", "not a midi file");
    SeekBar* bar = b.window()->previewStrip()->seekBar();

    emit b.window()->fileSelected(QString::fromStdString(midi));
    EXPECT_TRUE(bar->showsMIDIRegion());
    ASSERT_TRUE(QTest::qWaitFor([bar] { return !bar->isMIDILoading(); }, 10000));
    EXPECT_EQ(bar->midiNoteCount(), 2);

    // A file that does not parse shows an empty region, no error.
    emit b.window()->fileSelected(QString::fromStdString(broken));
    EXPECT_TRUE(bar->isMIDILoading());
    ASSERT_TRUE(QTest::qWaitFor([bar] { return !bar->isMIDILoading(); }, 10000));
    EXPECT_TRUE(bar->showsMIDIRegion());
    EXPECT_EQ(bar->midiNoteCount(), 0);

    emit b.window()->fileSelected(QString());
    // Selecting nothing keeps the last file; a WAV clears the region.
    const std::string wav = b.dir.str() + "/tone.wav";
    ASSERT_EQ(std::system(("sox -n -r 48000 -c 1 '" + wav + "' synth 0.5 sine 440 2>/dev/null").c_str()), 0);
    emit b.window()->fileSelected(QString::fromStdString(wav));
    EXPECT_FALSE(bar->showsMIDIRegion());
}
