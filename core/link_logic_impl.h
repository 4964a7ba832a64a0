// The one implementation of the class interface.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "core/cdn_config.h"
#include "core/telemetry_event.h"
#include "sqm/sqm.h"
#include "tesselsdk/link_logic.h"
#include "util/guarded.h"
#include "util/worker_thread.h"

namespace TesselSDK {

// Most events the telemetry queue holds; a new event beyond it pushes out the oldest.
constexpr std::size_t kTelemetryQueueLimit = 1000;
// The outer bound of a stopping telemetry worker's sending of what is queued
// (the post in flight included); a post that gets no answer at all ends the
// sending earlier.
constexpr std::chrono::milliseconds kTelemetryDrainLimit{30000};

class LinkLogicImpl final : public LinkLogic {
public:
    LinkLogicImpl(const char* sdkVersion, int geType, PlatformInterface platform,
                  std::chrono::milliseconds telemetryDrainLimit = kTelemetryDrainLimit);
    ~LinkLogicImpl() override;

    void Initialize(std::function<void(bool ok)> onInitialized) override;
    void Shutdown() override;
    void HandlePlayerConnected(const char* playerId, bool sendOffer,
                               std::function<void(bool ok, int httpStatus, const char* message)> done) override;
    void SendTallo(const char* actionType, const char* elapsedTime, const char* message,
                   const char* connectionType) override;
    bool GetBitrateConfig(const char* profile, int* minBitrate, int* maxBitrate, int* fps) override;
    bool GetEncoderConfig(const char* profile, EncoderSettings* out) override;
    std::string GetWindowsEventsApiUrl() override;
    std::string GetEventApiUrl() override;
    void SendMobileNotify(const char* integrationKey, const char* alarmPayload, const char* langCode) override;
    void PushWebRTCStatsReport(const char* playerId, const char* statsJson) override;
    void HandleStreamingStarted(const char* playerId, const char* connectionType) override;
    void HandleStreamingEnded(const char* playerId, const char* reserved) override;

    // Read-only view for tests.
    const std::string& StreamerId() const { return streamerId; }
private:
    // The collector's provider table.
    SqmCallbacks BuildProviderTable();
    // Initialisation.
    void OnCdnConfigResponse(int status, const std::string& body, const std::function<void(bool)>& onInitialized);
    // Player connection. The outcome goes to copies of the host's callbacks
    // taken before the request, so the handler never touches the object.
    struct TurnOutcomeTargets {
        std::string playerId;
        std::function<void(bool, int, const char*)> done;
        std::function<void(const char*, bool, int, const char*)> onConnectionReady;
        std::function<void(const std::vector<PlatformInterface::IceServer>&)> onApplyRtcConfig;
        // Shared with the object, so it can be read after the object is gone.
        std::shared_ptr<const std::atomic<bool>> hostCallbacksCleared;
        bool HostCallbacksCleared() const { return hostCallbacksCleared && hostCallbacksCleared->load(); }
        // Hands the outcome to `done` when the host passed one, else to OnConnectionReady.
        void Report(bool ok, int httpStatus, const char* message) const;
    };
    static void OnTurnResponse(int status, const std::string& body, const TurnOutcomeTargets& targets);
    // A copy of one host callback, taken under the lock that Shutdown uses to
    // empty the callbacks; the copy is called with no lock held, and what it
    // throws goes on to the host.
    template <typename Callback>
    Callback HostCallback(Callback PlatformInterface::*member) {
        Callback copy;
        {
            std::lock_guard<std::mutex> lock(platformMutex);
            copy = platform.*member;
        }
        return PassingHostExceptions(std::move(copy));
    }
    // Telemetry.
    void EnqueueTelemetryEvent(TelemetryEvent&& event);
    void StartTelemetryWorker();
    void StopTelemetryWorker();
    // The worker's round: posts what is queued, oldest first.
    bool SendQueuedTelemetry(std::unique_lock<std::mutex>& lock, bool last);
    // False when the post got no answer at all (status 0).
    bool SendTelemetryEvent(const TelemetryEvent& event);

    std::string streamerId;
    std::string sdkVersion;
    PlatformInterface platform;
    CdnConfig config;
    int geType = 0;
    std::chrono::milliseconds telemetryDrainLimit;
    SQM collector;
    // Guarded by the worker's lock; the worker counts the drops of the
    // burst in progress, which lasts until it has caught up with the queue.
    BoundedQueue<TelemetryEvent> telemetryQueue{kTelemetryQueueLimit, Overflow::DropOldest};
    // The telemetry locale, read and written by the worker only. The platform
    // is asked for it until it names a locale other than this default.
    std::string language = "en-US";
    std::string nation = "US";
    // Held by Shutdown from its start to its end.
    std::recursive_mutex shutdownMutex;
    // Guards the replacement of `platform` against copies of its members.
    std::mutex platformMutex;
    // Set by Shutdown when it empties the host callbacks; outcomes of a TURN
    // request then in progress no longer reach OnConnectionReady.
    std::shared_ptr<std::atomic<bool>> hostCallbacksCleared = std::make_shared<std::atomic<bool>>(false);
    // Declared last: it stops (and ends its rounds) before the members they use go.
    WorkerThread telemetryWorker;
};

}  // namespace TesselSDK
