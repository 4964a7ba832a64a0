// Delayed retries of the metrics upload, each on a thread of its own. The
// pool owns every thread it starts: stopping it wakes the sleeping ones
// (which then do nothing) and waits for all of them, so no retry can run
// after its collector is gone.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <list>
#include <mutex>
#include <thread>

#include "util/cancel.h"

namespace TesselSDK {

class SqmRetryPool {
public:
    enum class ScheduleResult { Scheduled, Stopping, ThreadFailed };

    SqmRetryPool() = default;
    ~SqmRetryPool();
    SqmRetryPool(const SqmRetryPool&) = delete;
    SqmRetryPool& operator=(const SqmRetryPool&) = delete;

    // Runs task on a new thread once delay has passed, unless the pool is
    // stopped first. The task must not throw.
    ScheduleResult Schedule(std::chrono::milliseconds delay, std::function<void()> task);

    // Wakes every sleeping retry (it then exits without running its task),
    // cancels the transfers of running ones, refuses new ones and joins every
    // thread. Safe to call more than once.
    void StopAndJoin();

    // Threads started and not yet finished.
    int Running() const;

private:
    struct Worker {
        std::thread thread;
        bool done = false;
    };
    void Run(std::list<Worker>::iterator self, std::chrono::milliseconds delay, const std::function<void()>& task);

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::list<Worker> workers_;
    // The current cancel token of every task (util/cancel.h).
    CancelToken cancel_;
};

}  // namespace TesselSDK
