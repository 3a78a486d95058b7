// kivo-index: the library index from the command line. Each command is in its
// own file and registers itself with the dispatcher.

#include "common/Subcommand.h"

#include <QCoreApplication>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("KIVO Browser");
    return kivo::tools::dispatchSubcommand("kivo-index", argc, argv);
}
