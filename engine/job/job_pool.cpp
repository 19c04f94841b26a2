#include "engine/job/job_pool.h"

#include <algorithm>
#include <thread>

namespace tralux {

JobPool::JobPool(std::size_t width) {
    jobs_.resize(std::max<std::size_t>(1, width));
    for (Entry& e : jobs_) {
        e.job = std::make_unique<Job>();
        e.job->SetEndCallback([this] { NotifyEnd(); });
    }
}

JobPool::~JobPool() {
    // The end callbacks point here: they go before the pool does.
    for (Entry& e : jobs_) {
        e.job->SetEndCallback({});
        e.job->Wait();
    }
}

Job* JobPool::Free() {
    for (Entry& e : jobs_)
        if (!e.claimed && !e.job->State().JobRunning.load()) return e.job.get();
    return nullptr;
}

void JobPool::Occupy(Job& job, std::size_t item) {
    for (Entry& e : jobs_)
        if (e.job.get() == &job) {
            e.claimed = true;
            e.item = item;
        }
}

std::vector<JobPool::Slot> JobPool::TakeEnded() {
    std::vector<Slot> out;
    for (Entry& e : jobs_) {
        if (!e.claimed || e.job->State().JobRunning.load()) continue;
        e.job->Wait();
        e.claimed = false;
        out.push_back({e.job.get(), e.item});
    }
    std::sort(out.begin(), out.end(), [](const Slot& a, const Slot& b) { return a.item < b.item; });
    return out;
}

std::vector<JobPool::Slot> JobPool::Running() const {
    std::vector<Slot> out;
    for (const Entry& e : jobs_)
        if (e.claimed) out.push_back({e.job.get(), e.item});
    std::sort(out.begin(), out.end(), [](const Slot& a, const Slot& b) { return a.item < b.item; });
    return out;
}

bool JobPool::Busy() const {
    return std::any_of(jobs_.begin(), jobs_.end(), [](const Entry& e) { return e.claimed; });
}

void JobPool::StopAll() {
    for (Entry& e : jobs_)
        if (e.claimed) e.job->State().StopRequested.store(true);
}

void JobPool::WaitForEnd(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    ended_.wait_for(lock, timeout, [this] { return endings_ != seen_; });
    seen_ = endings_;
}

void JobPool::SetEndCallback(std::function<void()> callback) {
    std::lock_guard lock(mutex_);
    callback_ = std::move(callback);
}

void JobPool::NotifyEnd() {
    std::lock_guard lock(mutex_);
    ++endings_;
    ended_.notify_all();
    if (callback_) callback_();
}

std::size_t JobPool::CoreCount() {
    return std::max<std::size_t>(1, std::thread::hardware_concurrency());
}

}  // namespace tralux
