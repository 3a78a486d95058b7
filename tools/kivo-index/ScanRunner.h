#pragma once

// What the scan and refresh commands share: absolute root paths, Ctrl-C turned into a cancellation,
// and the work run on a thread of its own while the main thread shows the progress it posts.

#include "index/FolderScanner.h"
#include "index/QuickRefresh.h"
#include "platform/MountTable.h"

#include <QCoreApplication>
#include <QTimer>

#include "index/SerialExecutor.h"
#include <atomic>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <thread>

namespace kivo::tools {

inline std::string absoluteFolderPath(const std::string& path)
{
    std::string p = std::filesystem::absolute(path).lexically_normal().string();
    while (p.size() > 1 && p.back() == '/')
        p.pop_back();
    return p;
}

inline std::atomic<bool>& interrupted()
{
    static std::atomic<bool> flag { false };
    return flag;
}

// Runs `work` on a worker thread with a stop token that Ctrl-C triggers; the main thread runs the
// event loop meanwhile, so progress posted with `index::onMainThread` is printed there. Returns
// whether the work ran to its end without being cancelled.
inline bool runCancellable(const std::function<void(index::CancelHandle)>& work)
{
    interrupted() = false;
    auto previous = std::signal(SIGINT, [](int) { interrupted() = true; });
    index::CancelHandle stop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (interrupted() && !stop.isCancelled()) {
            std::fprintf(stderr, "\ncancelling...\n");
            stop.cancel();
        }
    });
    poll.start(50);
    std::thread worker([&] {
        work(stop);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
    });
    QCoreApplication::exec();
    worker.join();
    std::signal(SIGINT, previous);
    return !stop.isCancelled();
}

// The mount points of this process, read afresh each time the refresh asks.
inline index::MountedVolumes mountedVolumes()
{
    return [] { return platform::MountTable::read().value_or(platform::MountTable()).mountPoints(); };
}

// One line on stderr, rewritten in place.
inline void printProgress(const index::IndexProgress& p)
{
    if (p.scanning)
        std::fprintf(
            stderr, "\rcounting: %lld files in %lld folders   ", (long long)p.total, (long long)p.folders);
    else
        std::fprintf(stderr, "\rindexing: %5.1f%% (%lld of %lld files)   ", p.fraction * 100.0,
            (long long)p.processed, (long long)p.total);
    std::fflush(stderr);
}

} // namespace kivo::tools
