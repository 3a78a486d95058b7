#include "platform/MainThread.h"

#include <QCoreApplication>
#include <QThread>

#include <cstdio>
#include <cstdlib>

namespace kivo::platform {

bool isMainThread()
{
    const QCoreApplication* app = QCoreApplication::instance();
    return !app || QThread::currentThread() == app->thread();
}

void requireMainThread(const char* where)
{
    if (isMainThread())
        return;
    std::fprintf(stderr, "Main-thread entry point called from another thread: %s\n", where);
    std::fflush(stderr);
    std::abort();
}

} // namespace kivo::platform
