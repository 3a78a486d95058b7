// KIVO Browser: a sample browser for music producers.

#include "app/BrowserController.h"
#include "app/MainWindow.h"
#include "library/UserSettings.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KIVO Browser"));
    QApplication::setApplicationDisplayName(QStringLiteral("KIVO Browser"));
    QApplication::setDesktopFileName(QStringLiteral("kivo-browser"));

    kivo::app::BrowserController controller(kivo::library::UserSettings::shared());
    controller.window()->show();
    return app.exec();
}
