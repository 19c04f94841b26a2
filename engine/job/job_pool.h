#pragma once
// Up to N conversions at once for a batch, each on its own Job. The front end plans the batch
// (names, questions) before the run, then starts each item on a free job and takes back ended
// ones; the pool only keeps track of which job runs which item.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/job/job.h"

namespace tralux {

class JobPool {
public:
    struct Slot {
        Job* job = nullptr;
        std::size_t item = 0;  // the caller's index of what the job runs
    };

    explicit JobPool(std::size_t width);  // at least one job
    ~JobPool();                           // waits for every worker
    JobPool(const JobPool&) = delete;
    JobPool& operator=(const JobPool&) = delete;

    std::size_t Width() const { return jobs_.size(); }
    // A job that runs nothing and is not claimed, or nullptr.
    Job* Free();
    // `job` (from Free) was started on `item`.
    void Occupy(Job& job, std::size_t item);
    // Claimed jobs whose conversion has ended, joined and released, in item order. Their
    // State() stays as the conversion left it until the job is started again.
    std::vector<Slot> TakeEnded();
    // Claimed jobs still converting, in item order.
    std::vector<Slot> Running() const;
    bool Busy() const;
    // Asks every running conversion to stop (each leaves a playable file).
    void StopAll();
    // Blocks until a job has ended since the previous call or `timeout` has passed.
    void WaitForEnd(std::chrono::milliseconds timeout);
    // Called on a worker after each end, besides waking WaitForEnd (empty: none). Same rules as
    // Job::SetEndCallback: short, and never starts a job.
    void SetEndCallback(std::function<void()> callback);
    // Marks an end that happened outside a Job's worker (stand-in engines in tests).
    void NotifyEnd();

    // The default width: one job per processor core.
    static std::size_t CoreCount();

private:
    struct Entry {
        std::unique_ptr<Job> job;
        bool claimed = false;
        std::size_t item = 0;
    };
    std::vector<Entry> jobs_;
    std::mutex mutex_;
    std::condition_variable ended_;
    // Counted, so an end that comes while the caller is busy still cuts the next wait short.
    std::size_t endings_ = 0, seen_ = 0;
    std::function<void()> callback_;
};

}  // namespace tralux
