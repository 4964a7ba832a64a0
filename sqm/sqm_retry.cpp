#include "sqm/sqm_retry.h"

#include <utility>

namespace TesselSDK {

SqmRetryPool::~SqmRetryPool() { StopAndJoin(); }

SqmRetryPool::ScheduleResult SqmRetryPool::Schedule(std::chrono::milliseconds delay, std::function<void()> task,
                                                     std::function<void()> dropped) {
    std::list<std::unique_ptr<WorkerThread>> finished;
    ScheduleResult result = ScheduleResult::Scheduled;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_) return ScheduleResult::Stopping;
        // Threads that have done their work are joined below.
        for (auto it = workers_.begin(); it != workers_.end();) {
            const auto next = std::next(it);
            if ((*it)->Finished()) finished.splice(finished.end(), workers_, it);
            it = next;
        }
        WorkerThread::Options options;
        options.name = "TesselSDK retry";
        options.period = delay;  // the first round comes after the delay, or at a stop
        auto worker = std::make_unique<WorkerThread>();
        const bool started = worker->Start(options, [work = std::move(task), skip = std::move(dropped)](
                                                        std::unique_lock<std::mutex>& wait, bool stopped) {
            wait.unlock();
            if (!stopped) {
                work();
            } else if (skip) {
                skip();
            }
            wait.lock();
            return false;  // one round only
        });
        if (started) {
            workers_.push_back(std::move(worker));
        } else {
            result = ScheduleResult::ThreadFailed;
        }
    }
    for (auto& worker : finished) worker->Stop();
    return result;
}

void SqmRetryPool::StopAndJoin() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    // No worker is added once stopping_ is set, so the list is stable. Every
    // sleeping retry wakes (and does nothing), every transfer in flight is
    // cancelled, then each is joined.
    for (auto& worker : workers_) worker->RequestStop();
    for (auto& worker : workers_) worker->Stop();
    std::lock_guard<std::mutex> lock(mutex_);
    workers_.clear();
}

int SqmRetryPool::Running() const {
    std::lock_guard<std::mutex> lock(mutex_);
    int running = 0;
    for (const auto& worker : workers_) {
        if (!worker->Finished()) ++running;
    }
    return running;
}

}  // namespace TesselSDK
