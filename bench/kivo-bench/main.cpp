// kivo-bench: benchmarks, each measured against a baseline in the same run. Each command is in its
// own file and registers itself with the dispatcher.

#include "common/Subcommand.h"

#include <QCoreApplication>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("KIVO Browser");
    return kivo::tools::dispatchSubcommand("kivo-bench", argc, argv);
}
