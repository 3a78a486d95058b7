// KIVO Browser: a sample browser for music producers.

#include "app/Application.h"
#include "app/BrowserController.h"
#include "app/MainWindow.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    kivo::app::setApplicationIdentity();

    int code = 0;
    {
        kivo::app::Application application;
        application.browser().window()->show();
        application.openFiles(app.arguments().mid(1));
        code = app.exec();
        if (!application.prepareToQuit()) {
            // Work blocked in the kernel (a mount that stopped answering) would keep the process
            // alive; everything that must be written has been, so leave without it.
            std::fflush(stdout);
            std::_Exit(code);
        }
    }
    return code;
}
