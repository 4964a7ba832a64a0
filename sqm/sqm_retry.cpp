#include "sqm/sqm_retry.h"

#include <system_error>
#include <utility>
#include <vector>

namespace TesselSDK {

SqmRetryPool::~SqmRetryPool() { StopAndJoin(); }

SqmRetryPool::ScheduleResult SqmRetryPool::Schedule(std::chrono::milliseconds delay, std::function<void()> task) {
    std::vector<std::thread> finished;
    ScheduleResult result = ScheduleResult::Scheduled;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_) return ScheduleResult::Stopping;
        // Collect threads that have finished their work; they are joined below.
        for (auto it = workers_.begin(); it != workers_.end();) {
            if (it->done) {
                finished.push_back(std::move(it->thread));
                it = workers_.erase(it);
            } else {
                ++it;
            }
        }
        auto self = workers_.emplace(workers_.end());
        try {
            self->thread = std::thread([this, self, delay, work = std::move(task)]() { Run(self, delay, work); });
        } catch (const std::exception&) {
            workers_.erase(self);
            result = ScheduleResult::ThreadFailed;
        }
    }
    for (auto& t : finished) {
        if (t.joinable()) t.join();
    }
    return result;
}

void SqmRetryPool::Run(std::list<Worker>::iterator self, std::chrono::milliseconds delay,
                       const std::function<void()>& task) {
    std::unique_lock<std::mutex> lock(mutex_);
    const bool stopped = wake_.wait_for(lock, delay, [this]() { return stopping_; });
    if (!stopped) {
        lock.unlock();
        try {
            const CancelScope scope(&cancel_);
            task();
        } catch (...) {
            // A retry never lets an exception end the process.
        }
        lock.lock();
    }
    self->done = true;
}

void SqmRetryPool::StopAndJoin() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    cancel_.Cancel();
    // No thread is added once stopping_ is set, so the list is stable; a
    // running worker only writes its own done flag, under the mutex.
    for (auto& worker : workers_) {
        if (worker.thread.joinable()) worker.thread.join();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    workers_.clear();
}

int SqmRetryPool::Running() const {
    std::lock_guard<std::mutex> lock(mutex_);
    int running = 0;
    for (const auto& worker : workers_) {
        if (!worker.done) ++running;
    }
    return running;
}

}  // namespace TesselSDK
