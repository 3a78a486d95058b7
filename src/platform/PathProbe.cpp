#include "platform/PathProbe.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

namespace kivo::platform {

namespace {

struct Registry {
    std::mutex mutex;
    std::condition_variable finished;
    // Paths whose question overran its bound and is still inside the kernel.
    std::multiset<QString> stalled;
};

Registry& registry()
{
    // Outlives every probe thread, including those still stuck when the process exits.
    static auto* r = new Registry;
    return *r;
}

struct Pending {
    bool done = false;
    bool overran = false;
};

} // namespace

std::vector<bool> PathProbe::runAll(std::vector<Job> jobs, std::chrono::milliseconds bound)
{
    Registry& r = registry();
    const auto deadline = std::chrono::steady_clock::now() + bound;
    std::vector<std::shared_ptr<Pending>> pending(jobs.size());
    {
        std::lock_guard lock(r.mutex);
        for (std::size_t i = 0; i < jobs.size(); ++i) {
            if (r.stalled.count(jobs[i].first))
                continue;
            auto state = std::make_shared<Pending>();
            pending[i] = state;
            std::thread([&r, state, path = jobs[i].first, work = std::move(jobs[i].second)] {
                work();
                std::lock_guard lock(r.mutex);
                state->done = true;
                if (state->overran)
                    r.stalled.erase(r.stalled.find(path));
                r.finished.notify_all();
            }).detach();
        }
    }
    std::vector<bool> answered(jobs.size(), false);
    std::unique_lock lock(r.mutex);
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        if (!pending[i])
            continue;
        r.finished.wait_until(lock, deadline, [&] { return pending[i]->done; });
        answered[i] = pending[i]->done;
        if (!answered[i]) {
            pending[i]->overran = true;
            r.stalled.insert(jobs[i].first);
        }
    }
    return answered;
}

bool PathProbe::run(const QString& path, std::function<void()> work, std::chrono::milliseconds bound)
{
    std::vector<Job> jobs;
    jobs.emplace_back(path, std::move(work));
    return runAll(std::move(jobs), bound).front();
}

void PathProbe::inBackground(std::vector<Job> jobs)
{
    if (!jobs.empty())
        std::thread([jobs = std::move(jobs)]() mutable { runAll(std::move(jobs)); }).detach();
}

bool PathProbe::isStalled(const QString& path)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    return r.stalled.count(path) > 0;
}

bool PathProbe::isStalledUnder(const QString& path)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    // Few paths stall at once: a scan of them all is cheaper than splitting the path.
    for (const QString& stalled : r.stalled) {
        if (path.startsWith(stalled)
            && (path.size() == stalled.size() || stalled.endsWith(u'/') || path[stalled.size()] == u'/'))
            return true;
    }
    return false;
}

} // namespace kivo::platform
