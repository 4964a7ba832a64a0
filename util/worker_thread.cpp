#include "util/worker_thread.h"

#include "util/process_exit.h"
#include "util/thread_name.h"

namespace TesselSDK {

bool WorkerThread::Start(const Options& options, Round round) {
    try {
        std::shared_ptr<CancelToken> cancel = std::make_shared<CancelToken>();
        // Started under the lock: a Stop meanwhile finds the thread to join.
        std::lock_guard<std::mutex> lock(mutex_);
        if (running_.load()) return true;
        // One thread at a time: while the last one has not ended (a Stop,
        // here or on another thread, may hold it) the start is refused, so
        // the end of a thread only ever touches its own start. One that
        // ended on its own (its round said stop, or threw) is joined first.
        if (!done_) return false;
        if (thread_.joinable()) thread_.join();
        thread_ = std::thread([this, options, work = std::move(round), cancel] {
            SetCurrentThreadName(options.name);
            const CancelScope scope(cancel.get());
            Run(options, work);
        });
        wake_ = false;
        dropped_ = 0;
        done_ = false;
        drainLimit_ = options.drainLimit;
        cancel_ = std::move(cancel);
        running_.store(true);
        return true;
    } catch (...) {
        return false;
    }
}

void WorkerThread::Run(const Options& options, const Round& round) {
    try {
        std::unique_lock<std::mutex> lock(mutex_);
        const auto woken = [this] { return wake_ || !running_.load(std::memory_order_relaxed); };
        for (;;) {
            if (options.period == kNoPeriod) {
                wakeCv_.wait(lock, woken);
            } else {
                wakeCv_.wait_for(lock, options.period, woken);
            }
            const bool last = !running_.load(std::memory_order_relaxed);
            wake_ = false;
            if (!round(lock, last) || last) break;
        }
    } catch (...) {
        // Nothing may leave the thread.
    }
    {
        // An ended thread is not running, however it ended: its owner sees
        // that and may start it again (no start came while it ran).
        std::lock_guard<std::mutex> lock(mutex_);
        done_ = true;
        running_.store(false);
    }
    doneCv_.notify_all();
}

void WorkerThread::RequestStop() {
    try {
        std::shared_ptr<CancelToken> cancelNow;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (running_.load()) {
                // Cleared under the lock: the thread cannot miss the wake-up,
                // and nothing is queued after its last round.
                running_.store(false);
                drainDeadline_ = std::chrono::steady_clock::now() + drainLimit_;
                if (drainLimit_.count() <= 0) cancelNow = cancel_;
            }
        }
        wakeCv_.notify_all();
        if (cancelNow) cancelNow->Cancel();
    } catch (...) {
    }
}

bool WorkerThread::Stop() {
    try {
        if (ProcessExitMayHaveEndedOurThreads()) return LetGoAtExit();
        RequestStop();
        std::thread thread;
        std::shared_ptr<CancelToken> cancel;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            thread = std::move(thread_);
            cancel = cancel_;
        }
        if (!thread.joinable()) return true;
        if (thread.get_id() == std::this_thread::get_id()) {
            thread.detach();
            return true;
        }
        bool done = false;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            done = doneCv_.wait_until(lock, drainDeadline_, [this] { return done_; });
        }
        if (!done && cancel) cancel->Cancel();
        thread.join();
    } catch (...) {
    }
    return true;
}

bool WorkerThread::LetGoAtExit() {
    // Nothing more is queued. No lock: the thread may have been ended
    // holding it, and no other thread runs any more to race with.
    running_.store(false);
    if (!thread_.joinable()) return true;
    thread_.detach();
    return false;
}

bool WorkerThread::Finished() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return done_;
}

}  // namespace TesselSDK
