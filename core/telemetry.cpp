// Telemetry: the host's events are queued on its thread and posted one at a
// time, in arrival order, by the object's worker thread.
#include <utility>

#include <nlohmann/json.hpp>

#include "core/link_logic_impl.h"
#include "log/env.h"
#include "log/logger.h"
#include "net/http_client.h"
#include "platform/account.h"
#include "tesselsdk_endpoints.h"
#include "util/clock.h"
#include "util/keep_module_loaded.h"
#include "util/log_body.h"
#include "util/guarded.h"

namespace TesselSDK {
namespace {

constexpr const char* kHeartbeatAction = "linkplay.heartbeat";
constexpr int kResolveTimeoutMs = 500;
constexpr int kConnectTimeoutMs = 500;
constexpr int kSendTimeoutMs = 1500;
constexpr int kReceiveTimeoutMs = 1500;

std::string TextOrEmpty(const char* text) { return text != nullptr ? std::string(text) : std::string(); }

void LogDroppedAtStop(const char* reason, std::size_t dropped) {
    LogMessage(kLogWarn, std::string("[TesselSDK::SendTallo] ") + reason + ", dropped " + std::to_string(dropped) +
                             " queued events");
}

constexpr const char* kTimeLimitReached = "Telemetry shutdown time limit reached";

void OnTelemetryResponse(int status, const std::string& body) {
    if (status == 200) {
        LogMessage(kLogDebug, "[TesselSDK::SendTallo] Telemetry sent successfully, Response: " + BodyForLog(body));
    } else {
        LogMessage(kLogWarn, "[TesselSDK::SendTallo] Telemetry failed with HTTP code: " + std::to_string(status) +
                                 ", Response: " + BodyForLog(body));
    }
}

}  // namespace

void LinkLogicImpl::SendTallo(const char* actionType, const char* elapsedTime, const char* message,
                              const char* connectionType) {
    Guarded([&] {
        TelemetryEvent event;
        event.actionType = TextOrEmpty(actionType);
        event.elapsedTime = TextOrEmpty(elapsedTime);
        event.message = TextOrEmpty(message);
        event.connectionType = TextOrEmpty(connectionType);
        EnqueueTelemetryEvent(std::move(event));
    });
}

void LinkLogicImpl::EnqueueTelemetryEvent(TelemetryEvent&& event) {
    bool accepted = false;
    bool burstBegins = false;
    {
        std::lock_guard<std::mutex> lock(telemetryWorker.Mutex());
        accepted = telemetryWorker.RunningLocked();
        if (accepted && !telemetryQueue.Push(std::move(event))) {
            burstBegins = telemetryWorker.DroppedLocked() == 0;
            telemetryWorker.CountDroppedLocked();
        }
        if (accepted) telemetryWorker.WakeLocked();
    }
    if (!accepted) {
        LogMessage(kLogWarn, "[TesselSDK::SendTallo] Telemetry worker not running, drop event");
        return;
    }
    telemetryWorker.Notify();
    if (burstBegins) {
        LogMessage(kLogWarn, "[TesselSDK::SendTallo] Telemetry queue full (" + std::to_string(kTelemetryQueueLimit) +
                                 " events), dropping the oldest events");
    }
}

void LinkLogicImpl::StartTelemetryWorker() {
    // The worker may outlive the host's unload request; keep its code mapped.
    KeepModuleLoaded();
    WorkerThread::Options options;
    options.name = "TesselSDK telemetry";
    options.drainLimit = telemetryDrainLimit;  // the post in flight included
    telemetryWorker.Start(options, [this](std::unique_lock<std::mutex>& lock, bool last) {
        return SendQueuedTelemetry(lock, last);
    });
}

void LinkLogicImpl::StopTelemetryWorker() {
    if (telemetryWorker.Stop()) return;
    // Process exit ended the worker before its last round: no time is left
    // for what it had queued. The lock is free unless the worker was ended
    // holding it, and then the queue is left alone.
    std::size_t abandoned = 0;
    {
        const std::unique_lock<std::mutex> lock(telemetryWorker.Mutex(), std::try_to_lock);
        if (!lock.owns_lock()) return;
        abandoned = telemetryQueue.Size();
        telemetryQueue.Clear();
    }
    if (abandoned > 0) LogDroppedAtStop(kTimeLimitReached, abandoned);
}

bool LinkLogicImpl::SendQueuedTelemetry(std::unique_lock<std::mutex>& lock, bool last) {
    bool unanswered = false;  // the last post got no answer at all
    while (!telemetryQueue.Empty()) {
        // Once a stop has begun (it may begin while a post is in flight), the
        // queue is sent while the service answers, whatever its status: a
        // post without an answer (refused, reset, timed out, cancelled) ends
        // the drain, and so does the drain deadline, at which the worker's
        // Stop cancels the post in flight. The rest is dropped.
        if (last || !telemetryWorker.RunningLocked()) {
            const char* reason = nullptr;
            if (std::chrono::steady_clock::now() >= telemetryWorker.DrainDeadlineLocked()) {
                reason = kTimeLimitReached;
            } else if (unanswered) {
                reason = "Telemetry service failed during shutdown";
            }
            if (reason != nullptr) {
                const std::size_t abandoned = telemetryQueue.Size();
                telemetryQueue.Clear();
                lock.unlock();
                LogDroppedAtStop(reason, abandoned);
                lock.lock();
                return false;
            }
        }
        const TelemetryEvent event = telemetryQueue.Pop();
        // A drop burst lasts until the worker has caught up with the queue.
        if (telemetryQueue.Empty()) telemetryWorker.TakeDroppedLocked();
        lock.unlock();
        unanswered = !SendTelemetryEvent(event);
        lock.lock();
    }
    return true;
}

bool LinkLogicImpl::SendTelemetryEvent(const TelemetryEvent& event) {
    int status = 200;  // an event that cannot be built is no failure of the service
    try {
        // A failed ask leaves the default in place.
        if (language == "en-US" && nation == "US") GetPlatformLanguageAndNation(language, nation);

        nlohmann::ordered_json doc;
        doc["client_time"] = GetUtcTimestamp();
        doc["game_id"] = GetEnvVar("game_id");
        doc["environment"] = GetEnvVar("ENV");
        doc["log_source_type"] = "streaming_sdk";
        doc["member_no"] = GetEnvVar("member_no");
        doc["guid"] = GetEnvVar("guid");
        doc["streamer_id"] = streamerId;
        doc["locale"] = language;
        doc["country_ip"] = nation;
        doc["session_id"] = GetEnvVar("ref_session_id");
        doc["sdk_version"] = sdkVersion;
        doc["client_timestamp"] = std::to_string(NowEpochMs());

        nlohmann::ordered_json param;
        param["elapsed_time"] = event.elapsedTime;
        if (event.actionType == kHeartbeatAction && !event.connectionType.empty()) {
            param["connection_type"] = event.connectionType;
        } else if (!event.message.empty()) {
            param["message"] = event.message;
        }
        nlohmann::ordered_json info;
        info["action_type"] = event.actionType;
        info["action_param"] = std::move(param);
        doc["action_info"] = std::move(info);

        const std::string body = doc.dump();
        LogMessage(kLogDebug, "[TesselSDK::SendTallo] Sending telemetry (" + std::to_string(body.size()) +
                                  " bytes): " + BodyForLog(body));
        HttpHeaders headers;
        headers["Content-Type"] = "application/json";
        HttpPostJson(std::string(TESSELSDK_TELEMETRY_URL) + "/std_halyx", body, headers, kResolveTimeoutMs,
                     kConnectTimeoutMs, kSendTimeoutMs, kReceiveTimeoutMs,
                     [&status](int answered, const std::string& answer) {
                         status = answered;
                         OnTelemetryResponse(answered, answer);
                     });
    } catch (...) {
        // The event is lost; the worker goes on with the next one.
        LogMessage(kLogError, "[TesselSDK::SendTallo] Exception occurred while sending telemetry");
    }
    return status != 0;
}

}  // namespace TesselSDK
