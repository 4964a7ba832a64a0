// One named background thread and the life it shares with its owner's queue:
// it sleeps until its period passes, it is woken early (a filling queue) or
// it is stopped, then runs a round of the owner's work; stopping gives the
// last round a bounded time before the work in flight is cancelled. What the
// queue holds and what a round does with it stay the owner's; the queue
// lives under the worker's lock, beside the count of what it dropped.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "util/cancel.h"

namespace TesselSDK {

// What a full queue does with one item more.
enum class Overflow {
    DropOldest,  // the new item pushes out the oldest
    DropNewest,  // the new item is refused
};

// A queue of at most `capacity` items.
template <typename Item>
class BoundedQueue {
public:
    BoundedQueue(std::size_t capacity, Overflow overflow) : capacity_(capacity), overflow_(overflow) {}
    // False when the queue was full and an item was dropped.
    bool Push(Item&& item) {
        if (items_.size() < capacity_) {
            items_.push_back(std::move(item));
            return true;
        }
        if (overflow_ == Overflow::DropOldest && capacity_ > 0) {
            items_.pop_front();
            items_.push_back(std::move(item));
        }
        return false;
    }
    Item Pop() {
        Item item = std::move(items_.front());
        items_.pop_front();
        return item;
    }
    bool Empty() const { return items_.empty(); }
    std::size_t Size() const { return items_.size(); }
    void Clear() { std::deque<Item>().swap(items_); }

private:
    std::size_t capacity_;
    Overflow overflow_;
    std::deque<Item> items_;
};

class WorkerThread {
public:
    // No period: a round runs only when woken or stopped.
    static constexpr std::chrono::milliseconds kNoPeriod = std::chrono::milliseconds::max();
    struct Options {
        const char* name = "TesselSDK";
        // A round runs at least this often (zero: at once).
        std::chrono::milliseconds period = kNoPeriod;
        // How long Stop lets the last rounds run before it cancels the work in
        // flight (the thread's CancelToken, util/cancel.h) and joins.
        std::chrono::milliseconds drainLimit{0};
    };
    // One round of the owner's work, on the thread, entered and left with the
    // lock held (it unlocks while it works). `last` is true once Stop has
    // begun: nothing more is queued, and the thread ends after the round.
    // False ends the thread at once.
    using Round = std::function<bool(std::unique_lock<std::mutex>& lock, bool last)>;

    WorkerThread() = default;
    ~WorkerThread() { Stop(); }
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Starts the thread unless it runs; false when it cannot be started,
    // also while the last thread has not ended (a Stop is ending it). The
    // owner resets its queue (under Mutex) before. Never throws.
    bool Start(const Options& options, Round round);
    // Refuses new work and wakes the thread for its last round (without a
    // drain limit, cancelling what is in flight). Never throws.
    void RequestStop();
    // RequestStop, then waits for the thread up to the drain limit, cancels
    // what is still in flight and joins. Of concurrent callers only one
    // waits; on the thread itself it detaches. Where process exit may have
    // ended the thread (util/process_exit.h) it neither wakes, cancels nor
    // waits: the thread is let go, and false says its last round never ran
    // (what the owner queued is still there). Never throws.
    bool Stop();

    // Guards the owner's queue and everything below marked "Locked".
    std::mutex& Mutex() { return mutex_; }
    // Between Start and Stop: the owner may queue work.
    bool Running() const { return running_.load(std::memory_order_acquire); }
    bool RunningLocked() const { return running_.load(std::memory_order_relaxed); }
    // Asks for a round before the period ends; call Notify once unlocked.
    void WakeLocked() { wake_ = true; }
    void Notify() { wakeCv_.notify_one(); }
    // Items the owner's queue dropped since it last took the count.
    void CountDroppedLocked() { ++dropped_; }
    std::size_t DroppedLocked() const { return dropped_; }
    std::size_t TakeDroppedLocked() { return std::exchange(dropped_, 0); }
    // Once Stop has begun: when the last round is to be over.
    std::chrono::steady_clock::time_point DrainDeadlineLocked() const { return drainDeadline_; }
    // The thread has ended (its round said so, or it was stopped).
    bool Finished() const;

private:
    void Run(const Options& options, const Round& round);
    bool LetGoAtExit();

    // What a queueing call touches comes first.
    std::atomic<bool> running_{false};
    mutable std::mutex mutex_;
    bool wake_ = false;
    std::size_t dropped_ = 0;
    bool done_ = true;
    std::condition_variable wakeCv_;
    std::condition_variable doneCv_;
    std::chrono::milliseconds drainLimit_{0};
    std::chrono::steady_clock::time_point drainDeadline_;
    std::thread thread_;
    // One per start: a detached thread keeps its own.
    std::shared_ptr<CancelToken> cancel_;
};

}  // namespace TesselSDK
