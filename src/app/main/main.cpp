// KIVO Browser: a sample browser for music producers.

#include "app/BrowserController.h"
#include "app/MainWindow.h"
#include "library/LibraryIndexManager.h"
#include "library/UserSettings.h"
#include "playback/AuditionPreviewEngine.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    kivo::app::setApplicationIdentity();

    kivo::playback::AudioPlayerManager::Options player;
    player.midiEngine = &kivo::playback::AuditionPreviewEngine::shared();
    kivo::app::BrowserController controller(kivo::library::UserSettings::shared(),
        kivo::library::LibraryIndexManager::shared(), std::move(player));
    controller.window()->show();
    return app.exec();
}
