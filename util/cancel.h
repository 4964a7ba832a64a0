// Cancellation of blocking work (HTTP transfers) from another thread.
//
// A thread that runs cancellable work enters a CancelScope naming a token;
// the HTTP transport looks up the current token and, while a transfer runs,
// keeps a CancelHook on it that interrupts the transfer (wakes its wait,
// closes its handle). Cancel() from any thread runs every hook at once and
// makes later transfers under the token fail at their start.
#pragma once

#include <atomic>
#include <functional>
#include <list>
#include <mutex>

namespace TesselSDK {

class CancelToken {
public:
    CancelToken() = default;
    CancelToken(const CancelToken&) = delete;
    CancelToken& operator=(const CancelToken&) = delete;

    // Marks the token cancelled and runs every registered hook action (once
    // each), under the token's lock.
    void Cancel();
    bool Cancelled() const { return cancelled_.load(std::memory_order_acquire); }

private:
    friend class CancelHook;
    mutable std::mutex mutex_;
    std::atomic<bool> cancelled_{false};
    std::list<std::function<void()>> actions_;
};

// Registers `action` with `token` (may be null: then nothing) for its own
// lifetime. When the token is already cancelled the action runs at once. The
// destructor unregisters; once it has returned the action neither runs nor
// is running. The action runs under the token's lock and must not block.
class CancelHook {
public:
    CancelHook(CancelToken* token, std::function<void()> action);
    ~CancelHook();
    CancelHook(const CancelHook&) = delete;
    CancelHook& operator=(const CancelHook&) = delete;

private:
    CancelToken* token_ = nullptr;
    std::list<std::function<void()>>::iterator entry_;
};

// The token of the calling thread's innermost CancelScope, or null.
CancelToken* CurrentCancelToken();

// Makes `token` the calling thread's current token until destroyed.
class CancelScope {
public:
    explicit CancelScope(CancelToken* token);
    ~CancelScope();
    CancelScope(const CancelScope&) = delete;
    CancelScope& operator=(const CancelScope&) = delete;

private:
    CancelToken* previous_;
};

}  // namespace TesselSDK
