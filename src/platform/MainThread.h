#pragma once

// The thread contract of the managers: their state, signals and timers belong to the main thread.
// Their public entry points check it; a call from elsewhere stops the program with the caller's
// name, in every build type, because the race it would start is far harder to find afterwards.

#include <QtGlobal>

#include <functional>

class QObject;

namespace kivo::platform {

// True on the thread that runs the application's event loop (and anywhere before one exists).
bool isMainThread();
// Stops the program when not on the main thread.
void requireMainThread(const char* where);
// Queues `fn` to the event loop of `receiver`'s thread. Everything the caller wrote before is seen
// by `fn`, and the thread sanitizer is told so (it cannot see through Qt's event queue).
void queueCall(QObject* receiver, std::function<void()> fn);

} // namespace kivo::platform

#define KIVO_MAIN_THREAD() ::kivo::platform::requireMainThread(Q_FUNC_INFO)
