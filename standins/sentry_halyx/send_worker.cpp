#include "standins/sentry_halyx/send_worker.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <utility>

#include "util/keep_module_loaded.h"

namespace SentryHalyx {
namespace {

std::atomic<int>& LiveCounter() {
    static std::atomic<int> count{0};
    return count;
}

}  // namespace

struct SendWorker::Shared {
    Settings settings;
    std::mutex mutex;
    std::condition_variable cv;
    std::deque<std::string> queue;
    bool busy = false;       // a post is running
    bool stopping = false;   // end after the current post
    bool abandoned = false;  // detached: no more output after the current post
    bool exited = false;
};

SendWorker::SendWorker(Settings settings) : shared_(std::make_shared<Shared>()) {
    shared_->settings = std::move(settings);
    // The thread may outlive an unload request of the host.
    TesselSDK::KeepModuleLoaded();
    std::shared_ptr<Shared> shared = shared_;
    LiveCounter().fetch_add(1);
    try {
        thread_ = std::thread([shared] { Run(shared); });
    } catch (...) {
        LiveCounter().fetch_sub(1);
        throw;
    }
}

SendWorker::~SendWorker() {
    if (thread_.joinable()) Shutdown(std::chrono::milliseconds(0));
}

int SendWorker::LiveThreads() { return LiveCounter().load(); }

void SendWorker::Run(const std::shared_ptr<Shared>& shared) {
    try {
        const Settings& settings = shared->settings;
        for (;;) {
            std::string envelope;
            {
                std::unique_lock<std::mutex> lock(shared->mutex);
                shared->cv.wait(lock, [&] { return shared->stopping || !shared->queue.empty(); });
                if (shared->stopping) break;
                envelope = std::move(shared->queue.front());
                shared->queue.pop_front();
                shared->busy = true;
            }
            settings.diagnostics.Log(SENTRY_HALYX_LEVEL_DEBUG, "sending envelope to %s", settings.url.c_str());
            int status = 0;
            try {
                status = settings.transport(settings.url, settings.headers, envelope);
            } catch (...) {
                status = 0;
            }
            bool abandoned = false;
            {
                std::lock_guard<std::mutex> lock(shared->mutex);
                shared->busy = false;
                abandoned = shared->abandoned;
            }
            shared->cv.notify_all();
            if (abandoned) break;
            if (status >= 200 && status < 300) {
                settings.diagnostics.Log(SENTRY_HALYX_LEVEL_DEBUG, "envelope sent (status %d)", status);
            } else {
                settings.diagnostics.Log(SENTRY_HALYX_LEVEL_WARNING, "sending envelope failed with status %d",
                                         status);
            }
        }
    } catch (...) {
        // Nothing may leave the thread.
    }
    {
        std::lock_guard<std::mutex> lock(shared->mutex);
        shared->exited = true;
        shared->queue.clear();
    }
    shared->cv.notify_all();
    LiveCounter().fetch_sub(1);
}

bool SendWorker::Enqueue(std::string envelope) {
    bool dropped = false;
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        if (shared_->stopping) return false;
        while (shared_->queue.size() >= kCapacity) {
            shared_->queue.pop_front();
            dropped = true;
        }
        shared_->queue.push_back(std::move(envelope));
    }
    shared_->cv.notify_all();
    return dropped;
}

bool SendWorker::Flush(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(shared_->mutex);
    return shared_->cv.wait_for(lock, timeout, [&] {
        return shared_->exited || (shared_->queue.empty() && !shared_->busy);
    });
}

bool SendWorker::Shutdown(std::chrono::milliseconds timeout) {
    if (!thread_.joinable()) return true;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    bool finished = false;
    {
        std::unique_lock<std::mutex> lock(shared_->mutex);
        shared_->cv.wait_until(lock, deadline, [&] {
            return shared_->exited || (shared_->queue.empty() && !shared_->busy);
        });
        shared_->stopping = true;
        shared_->cv.notify_all();
        finished = shared_->cv.wait_until(lock, deadline, [&] { return shared_->exited || !shared_->busy; });
        if (!finished) shared_->abandoned = true;
    }
    if (finished) {
        // Idle or done: the thread leaves its loop at once.
        thread_.join();
        return true;
    }
    thread_.detach();
    return false;
}

}  // namespace SentryHalyx
