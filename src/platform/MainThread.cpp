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

#if defined(__SANITIZE_THREAD__)
namespace {

// A call on its way to another thread. Qt's event queue and its slot object's reference count order
// every hand-over, but the sanitizer cannot see them: the call is written on the sending thread, run
// on the receiving one, and freed by whichever lets go of it last, often the sender after the
// receiver has run it. So each side releases at the call's own address once it has written it or run
// it, and acquires there before reading it or freeing it: an address known without reading anything
// the other side wrote.
class HandedCall {
public:
    explicit HandedCall(std::function<void()> fn)
        : m_fn(std::move(fn))
    {
        __tsan_release(this);
    }
    HandedCall(HandedCall&& other) noexcept
        : m_fn(std::move(other.m_fn))
    {
        __tsan_release(this);
    }
    HandedCall(const HandedCall&) = delete;
    HandedCall& operator=(const HandedCall&) = delete;
    HandedCall& operator=(HandedCall&&) = delete;
    ~HandedCall() { __tsan_acquire(this); }

    void operator()()
    {
        __tsan_acquire(this);
        m_fn();
        __tsan_release(this);
    }

private:
    std::function<void()> m_fn;
};

} // namespace
#endif

void queueCall(QObject* receiver, std::function<void()> fn)
{
#if defined(__SANITIZE_THREAD__)
    QMetaObject::invokeMethod(receiver, HandedCall(std::move(fn)), Qt::QueuedConnection);
#else
    QMetaObject::invokeMethod(receiver, std::move(fn), Qt::QueuedConnection);
#endif
}

} // namespace kivo::platform
