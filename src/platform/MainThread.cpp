#include "platform/MainThread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <cstdio>
#include <cstdlib>
#include <memory>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

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

void queueCall(QObject* receiver, std::function<void()> fn)
{
#if defined(__SANITIZE_THREAD__)
    // Released once the call is built and acquired before it runs, at an address the receiving
    // thread reaches without reading anything the sender wrote.
    auto call = std::make_shared<std::function<void()>>(std::move(fn));
    __tsan_release(call.get());
    QMetaObject::invokeMethod(
        receiver,
        [call] {
            __tsan_acquire(call.get());
            (*call)();
        },
        Qt::QueuedConnection);
#else
    QMetaObject::invokeMethod(receiver, std::move(fn), Qt::QueuedConnection);
#endif
}

} // namespace kivo::platform
