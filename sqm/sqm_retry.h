// Delayed retries of the metrics upload, each on a worker thread of its own:
// a retry's transfer may hang until its timeouts, and must not hold back the
// others. The pool owns every thread it starts: stopping it wakes the
// sleeping ones (which then do nothing), cancels the transfers of running
// ones and waits for all of them, so no retry can run after its collector is
// gone.
#pragma once

#include <chrono>
#include <functional>
#include <list>
#include <memory>
#include <mutex>

#include "util/worker_thread.h"

namespace TesselSDK {

class SqmRetryPool {
public:
    enum class ScheduleResult { Scheduled, Stopping, ThreadFailed };

    SqmRetryPool() = default;
    ~SqmRetryPool();
    SqmRetryPool(const SqmRetryPool&) = delete;
    SqmRetryPool& operator=(const SqmRetryPool&) = delete;

    // Runs task on a new thread once delay has passed; when the pool is
    // stopped first, runs dropped there instead.
    ScheduleResult Schedule(std::chrono::milliseconds delay, std::function<void()> task,
                            std::function<void()> dropped);

    // Wakes every sleeping retry (it then exits without running its task),
    // cancels the transfers of running ones, refuses new ones and joins every
    // thread. Safe to call more than once.
    void StopAndJoin();

    // Threads started and not yet finished.
    int Running() const;

private:
    mutable std::mutex mutex_;
    bool stopping_ = false;
    std::list<std::unique_ptr<WorkerThread>> workers_;
};

}  // namespace TesselSDK
