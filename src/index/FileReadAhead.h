#pragma once

// Reader threads that make the records of a folder's files ahead of the walk. Opening and parsing
// headers is most of a scan's time; the walk itself stays sequential and takes the records back one by
// one in the order it queued them, so the index, its order and the progress reports are exactly those
// of a walk that reads every header itself. Whoever comes first makes a record: a reader thread, or the
// walk when it gets to a file no reader has started. While the walk waits for a record a reader is on,
// it makes the last one queued: the readers work from the front, so the walk helps only as much as it
// has time to spare, and rarely catches up with them again at once.

#include "index/IndexRecords.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kivo::index {

// A file's record and the tokens of its name, as the builder takes them.
struct FileRecord {
    FileInfo file;
    std::vector<std::string> tokens;
};

// What the files of one folder share: how a record is made there. Called on any thread, concurrently
// for different files; it must outlive every job queued with it.
class FolderWork {
public:
    virtual FileRecord make(const std::string& path) = 0;

protected:
    ~FolderWork() = default;
};

class FileReadAhead {
public:
    explicit FileReadAhead(unsigned threads);
    ~FileReadAhead(); // drops what is queued, waits for the records under way, joins the threads
    FileReadAhead(const FileReadAhead&) = delete;
    FileReadAhead& operator=(const FileReadAhead&) = delete;

    // Queues the records of `paths`, in this order, behind everything queued before.
    void submit(std::vector<std::string>&& paths, FolderWork& work);
    // How many queued records the walk has not taken yet.
    std::size_t queued() const { return m_queued; }
    // The oldest queued record; at least one must be queued.
    FileRecord next();
    // Forgets every queued record (the walk stopped): returns once no reader works on any of them.
    void discard();

private:
    enum class State : std::uint8_t { pending, taken, done };
    struct Job {
        Job(std::string&& p, FolderWork& w)
            : path(std::move(p))
            , work(&w)
        {
        }
        std::string path;
        FolderWork* work;
        std::atomic<State> state = State::pending; // changed under the lock, watched without it
        FileRecord record;
    };

    void run();
    // The next job nobody has started, marked taken; null when there is none. Under the lock.
    Job* claim();
    // The same from the far end of the queue, where the walk helps out.
    Job* claimLast();
    void finish(Job& job, FileRecord&& record);

    std::mutex m_mutex;
    std::condition_variable m_work; // readers: a job was queued, or stop
    std::condition_variable m_done; // the walk: a record is done
    std::deque<Job> m_jobs; // queued, oldest first; references stay valid while a job is queued
    std::size_t m_unclaimed = 0; // index in m_jobs of the first job no reader has looked at
    std::size_t m_queued = 0; // m_jobs.size(), for the walk without the lock
    bool m_stopping = false;
    std::atomic<std::uint64_t> m_submits = 0; // bumped by every submit and by stop, watched without the lock
    std::vector<std::thread> m_threads;
};

} // namespace kivo::index
