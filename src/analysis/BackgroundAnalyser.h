#pragma once

// Analyses files in the background, one at a time, on one thread of the task runner that runs
// at the lowest CPU priority, so that scanning, searching and playback always go first. A file
// whose result the store already holds is not heard again. Rows in view can be moved to the
// front; the work can be paused and resumed, and its progress read. Main thread only; results
// arrive on the main thread.

#include "AnalysisStore.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kivo::platform {
class TaskRunner;
}

namespace kivo::analysis {

class BackgroundAnalyser {
public:
    using ResultFn = std::function<void(const std::string& path, const AnalysisResult& result)>;
    // `store` may be null: then every file is heard and nothing is kept.
    BackgroundAnalyser(platform::TaskRunner& runner, std::shared_ptr<AnalysisStore> store, ResultFn onResult);
    ~BackgroundAnalyser(); // the worker stops after the file it is on; no result arrives after
    BackgroundAnalyser(const BackgroundAnalyser&) = delete;
    BackgroundAnalyser& operator=(const BackgroundAnalyser&) = delete;

    // Files to hear after those already waiting; one already waiting keeps its place.
    void enqueue(const std::vector<std::string>& paths);
    // Files to hear next, in this order (the rows in view); new ones are added.
    void prioritise(const std::vector<std::string>& paths);
    void setPaused(bool paused);
    bool isPaused() const;

    struct Progress {
        int64_t done = 0; // files heard or found in the store since the start
        int64_t total = 0; // that and the files waiting
    };
    Progress progress() const;

private:
    struct Queue;
    std::shared_ptr<Queue> m_queue;
};

} // namespace kivo::analysis
