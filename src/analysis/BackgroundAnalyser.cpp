#include "BackgroundAnalyser.h"

#include "platform/PathProbe.h"
#include "platform/TaskRunner.h"

#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <unordered_set>

namespace kivo::analysis {

struct BackgroundAnalyser::Queue {
    std::mutex lock;
    std::condition_variable wake;
    std::deque<std::string> pending;
    // Files on a share that does not answer: back in line once it does.
    std::deque<std::string> aside;
    std::unordered_set<std::string> waiting;
    bool paused = false;
    bool stopping = false;
    int64_t done = 0;
    bool busy = false; // a file is being heard
    bool alive = true; // main thread only: results for a destroyed analyser are dropped
};

namespace {

// The worker's thread runs only when nothing else wants the processor: the idle policy where
// the system allows it, else the highest niceness. Undone when the worker ends, so that the
// runner's thread goes back to its pool as it came; false when the system refuses that.
class LowPriority {
public:
    LowPriority()
    {
        sched_param none {};
        m_idle = sched_setscheduler(0, SCHED_IDLE, &none) == 0;
        if (!m_idle) {
            errno = 0;
            m_nice = getpriority(PRIO_PROCESS, tid());
            m_niced = errno == 0 && setpriority(PRIO_PROCESS, tid(), 19) == 0;
        }
    }
    bool undo()
    {
        sched_param none {};
        if (m_idle)
            return sched_setscheduler(0, SCHED_OTHER, &none) == 0;
        return !m_niced || setpriority(PRIO_PROCESS, tid(), m_nice) == 0;
    }

private:
    static id_t tid() { return id_t(syscall(SYS_gettid)); }
    bool m_idle = false;
    bool m_niced = false;
    int m_nice = 0;
};

QString folderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return QString::fromStdString(slash == 0 ? std::string("/") : path.substr(0, slash));
}

// Moves the files set aside whose share answers again back in line (under the queue's lock).
void recallAnswering(std::deque<std::string>& aside, std::deque<std::string>& pending)
{
    for (auto it = aside.begin(); it != aside.end();) {
        if (platform::PathProbe::isStalledUnder(folderOf(*it))) {
            ++it;
            continue;
        }
        pending.push_back(std::move(*it));
        it = aside.erase(it);
    }
}

} // namespace

BackgroundAnalyser::BackgroundAnalyser(
    platform::TaskRunner& runner, std::shared_ptr<AnalysisStore> store, ResultFn onResult)
    : m_queue(std::make_shared<Queue>())
{
    auto post = runner.poster();
    runner.run([queue = m_queue, store = std::move(store), post, onResult = std::move(onResult)](
                   const platform::CancelHandle& cancel) {
        LowPriority priority;
        while (true) {
            std::string path;
            {
                std::unique_lock guard(queue->lock);
                // Bounded waits: a cancel from the runner's shutdown has no way to wake us.
                while (
                    !cancel.isCancelled() && !queue->stopping && (queue->paused || queue->pending.empty())) {
                    queue->wake.wait_for(guard, std::chrono::milliseconds(200));
                    if (queue->pending.empty())
                        recallAnswering(queue->aside, queue->pending);
                }
                if (cancel.isCancelled() || queue->stopping) {
                    // A thread the system will not give its priority back keeps out of the pool
                    // until the runner shuts down.
                    if (!priority.undo())
                        while (!cancel.isCancelled())
                            queue->wake.wait_for(guard, std::chrono::milliseconds(500));
                    return;
                }
                path = std::move(queue->pending.front());
                queue->pending.pop_front();
                queue->busy = true;
            }
            // A file on a share that hangs is set aside rather than waited on: the first one costs the
            // worker the probe's bound, the others under the same folder or root nothing.
            const QString folder = folderOf(path);
            auto identified = std::make_shared<std::optional<FileIdentity>>();
            if (platform::PathProbe::isStalledUnder(folder)
                || !platform::PathProbe::run(
                    folder, [path, identified] { *identified = AnalysisStore::identify(path); })) {
                std::lock_guard guard(queue->lock);
                queue->aside.push_back(std::move(path));
                queue->busy = false;
                continue;
            }
            AnalysisResult result;
            const std::optional<FileIdentity> identity = *identified;
            std::optional<AnalysisResult> kept = identity && store ? store->find(*identity) : std::nullopt;
            if (kept && kept->ok() && !kept->fingerprinted) {
                // Kept from before fingerprints were taken: heard again for the fingerprint alone.
                AnalysisResult heard = analyseFile(path, Hearing::fingerprintOnly);
                if (heard.ok()) {
                    kept->fingerprint = std::move(heard.fingerprint);
                    kept->audioHash = heard.audioHash;
                    kept->fingerprinted = true;
                }
                // Cut short: its values stand, and a later run tries again.
                result = heard.ok() || heard.retry ? std::move(*kept) : std::move(heard);
                if (!heard.retry)
                    store->save(*identity, result);
            } else if (kept) {
                result = std::move(*kept);
            } else if (!identity) {
                result.error = "The file could not be read";
            } else {
                result = analyseFile(path);
                if (store && !result.retry)
                    store->save(*identity, result);
            }
            {
                std::lock_guard guard(queue->lock);
                queue->waiting.erase(path);
                queue->busy = false;
                ++queue->done;
            }
            post([queue, onResult, path = std::move(path), result = std::move(result)] {
                if (queue->alive && onResult)
                    onResult(path, result);
            });
        }
    });
}

BackgroundAnalyser::~BackgroundAnalyser()
{
    m_queue->alive = false;
    {
        std::lock_guard guard(m_queue->lock);
        m_queue->stopping = true;
    }
    m_queue->wake.notify_all();
}

void BackgroundAnalyser::enqueue(const std::vector<std::string>& paths)
{
    {
        std::lock_guard guard(m_queue->lock);
        for (const auto& path : paths)
            if (m_queue->waiting.insert(path).second)
                m_queue->pending.push_back(path);
    }
    m_queue->wake.notify_all();
}

void BackgroundAnalyser::prioritise(const std::vector<std::string>& paths)
{
    {
        std::lock_guard guard(m_queue->lock);
        const std::unordered_set<std::string> front(paths.begin(), paths.end());
        std::erase_if(m_queue->pending, [&](const std::string& p) { return front.count(p) != 0; });
        std::erase_if(m_queue->aside, [&](const std::string& p) { return front.count(p) != 0; });
        // A path given twice is heard once, at its first place.
        std::unordered_set<std::string> seen;
        std::vector<std::string> ordered;
        for (const auto& path : paths)
            if (seen.insert(path).second) {
                ordered.push_back(path);
                m_queue->waiting.insert(path);
            }
        m_queue->pending.insert(m_queue->pending.begin(), ordered.begin(), ordered.end());
    }
    m_queue->wake.notify_all();
}

void BackgroundAnalyser::setPaused(bool paused)
{
    {
        std::lock_guard guard(m_queue->lock);
        m_queue->paused = paused;
    }
    m_queue->wake.notify_all();
}

bool BackgroundAnalyser::isPaused() const
{
    std::lock_guard guard(m_queue->lock);
    return m_queue->paused;
}

BackgroundAnalyser::Progress BackgroundAnalyser::progress() const
{
    std::lock_guard guard(m_queue->lock);
    return { m_queue->done,
        m_queue->done + int64_t(m_queue->pending.size() + m_queue->aside.size()) + (m_queue->busy ? 1 : 0) };
}

} // namespace kivo::analysis
