#pragma once

// Asks the disk about paths on threads of their own and waits a bounded time for the answers. A
// folder on a mount that never answers (a network share gone away, a FUSE folder that stalls) keeps
// the thread that asked; until that thread returns, later questions about the same path are answered
// at once as "not answering", so no caller waits on that path twice.

#include <QString>

#include <chrono>
#include <functional>
#include <utility>
#include <vector>

namespace kivo::platform {

class PathProbe {
public:
    // Long enough for a healthy share that is slow, short enough that a window that resolves its
    // roots at start still appears without a noticeable wait.
    static constexpr std::chrono::milliseconds kBound { 250 };

    using Job = std::pair<QString, std::function<void()>>;
    // Runs every job (a path and the work that asks about it) at the same time and waits until they
    // are done or the bound has passed; true for each that finished. A job left running writes only
    // what it owns: the caller must not read its results when it answered false.
    static std::vector<bool> runAll(std::vector<Job> jobs, std::chrono::milliseconds bound = kBound);
    static bool run(
        const QString& path, std::function<void()> work, std::chrono::milliseconds bound = kBound);
    // runAll() without waiting for it, for questions whose answers nobody waits for: a path that
    // does not answer is still known as stalled to the next question.
    static void inBackground(std::vector<Job> jobs);
    // Whether an earlier question about `path` is still waiting for the disk.
    static bool isStalled(const QString& path);
    // Whether `path` or a folder above it is: a file on a share known to hang is not asked about.
    static bool isStalledUnder(const QString& path);
};

} // namespace kivo::platform
