// The background sender: a bounded queue of envelopes (the oldest is dropped
// when full) and one thread that posts them in order.
#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include "standins/sentry_halyx/diagnostics.h"
#include "standins/sentry_halyx/options.h"

namespace SentryHalyx {

class SendWorker {
public:
    struct Settings {
        std::string url;
        std::map<std::string, std::string> headers;
        Transport transport;  // must be set
        Diagnostics diagnostics;
    };
    static constexpr std::size_t kCapacity = 100;  // envelopes queued at most

    // Starts the thread; throws std::system_error when it cannot.
    explicit SendWorker(Settings settings);
    // Shuts down with no wait if Shutdown was not called.
    ~SendWorker();
    SendWorker(const SendWorker&) = delete;
    SendWorker& operator=(const SendWorker&) = delete;

    // True when the queue was full and its oldest envelope was dropped.
    bool Enqueue(std::string envelope);
    // Waits up to `timeout` until the queue is empty and no post runs.
    bool Flush(std::chrono::milliseconds timeout);
    // Waits up to `timeout` in all for the queue to drain and the thread to
    // end; what is still queued then is dropped. Returns true when the thread
    // was joined. When a post is still running at the bound, the thread is
    // detached: it finishes that post (bounded by the post's own timeouts),
    // makes no further call (no logger output, no other post) and ends.
    bool Shutdown(std::chrono::milliseconds timeout);

    // Sender threads of this process that have not ended yet.
    static int LiveThreads();

private:
    struct Shared;
    static void Run(const std::shared_ptr<Shared>& shared);

    std::shared_ptr<Shared> shared_;
    std::thread thread_;
};

}  // namespace SentryHalyx
