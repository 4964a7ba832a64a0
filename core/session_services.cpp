// Mobile notification, endpoint getters, collector forwards and shutdown.
#include <mutex>
#include <utility>

#include "core/link_logic_impl.h"
#include "core/notify_body.h"
#include "log/logger.h"
#include "net/http_client.h"
#include "platform/account.h"
#include "platform/sentry_glue.h"
#include "util/log_body.h"
#include "util/process_exit.h"
#include "util/guarded.h"

namespace TesselSDK {
namespace {

constexpr const char* kNotifyPrefix = "[TesselSDK::SendMobileNotify] ";

void OnMobileNotifyResponse(int status, const std::string& body) {
    LogMessage(kLogInfo, std::string(kNotifyPrefix) + "Response: " + std::to_string(status) + " - " + BodyForLog(body));
}

}  // namespace

void LinkLogicImpl::SendMobileNotify(const char* integrationKey, const char* alarmPayload, const char* langCode) {
    Guarded([&] {
        const std::string url = config.eventApiUrl;
        if (url.empty()) {
            LogMessage(kLogError, std::string(kNotifyPrefix) + "Event API URL missing (virivizar_event).");
            return;
        }
        // A null language code stands for the default language, in the body as in the header.
        const std::string lang = langCode != nullptr ? langCode : "en-US";
        std::string body;
        std::string warning;
        std::string error;
        const bool built = BuildMobileNotifyBody(integrationKey, alarmPayload, lang, body, warning, error);
        if (!warning.empty()) LogMessage(kLogWarn, std::string(kNotifyPrefix) + warning);
        if (!built) {
            LogMessage(kLogError, std::string(kNotifyPrefix) + error);
            return;
        }

        HttpHeaders headers;
        headers["Content-Type"] = "application/json";
        if (!lang.empty()) headers["X-Lang"] = lang;
        std::string platformNation = "US";
        GetPlatformNation(platformNation);
        headers["X-Nation"] = platformNation;
        const std::string token = GetAccessToken();
        headers["Authorization"] = "Bearer " + token;
        if (token.empty()) LogMessage(kLogWarn, std::string(kNotifyPrefix) + "Access token is empty.");

        LogMessage(kLogInfo, std::string(kNotifyPrefix) + "Sending notification to " + url);
        HttpPostJson(url, body, headers, OnMobileNotifyResponse);
    });
}

std::string LinkLogicImpl::GetWindowsEventsApiUrl() { return config.windowsEventsApiUrl; }

std::string LinkLogicImpl::GetEventApiUrl() { return config.eventApiUrl; }

void LinkLogicImpl::PushWebRTCStatsReport(const char* playerId, const char* statsJson) {
    Guarded([&] {
        collector.PushWebRTCStatsReport(playerId, statsJson);
    });
}

void LinkLogicImpl::HandleStreamingStarted(const char* playerId, const char* connectionType) {
    Guarded([&] {
        collector.OnStreamingStart(playerId, connectionType);
    });
}

void LinkLogicImpl::HandleStreamingEnded(const char* playerId, const char* reserved) {
    Guarded([&] {
        collector.OnStreamingEnd(playerId, reserved);
    });
}

void LinkLogicImpl::Shutdown() {
    Guarded([&] {
        // A Shutdown on another thread waits for this one to end (its drain
        // and its last lines come before the logger stops); one nested in a
        // host callback on this thread goes on. At process exit the other may
        // have been ended holding it: then there is no one to wait for.
        std::unique_lock<std::recursive_mutex> shuttingDown(shutdownMutex, std::defer_lock);
        if (!ProcessExitMayHaveEndedOurThreads()) {
            shuttingDown.lock();
        } else if (!shuttingDown.try_lock()) {
            return;
        }
        LogMessage(kLogInfo, "[TesselSDK::Shutdown] Shutting down...");
        StopTelemetryWorker();
        if (config.sentryEnable) {
            SentryCaptureMessage("TesselSDK shutting down", 0);
            SentryAddBreadcrumb("TesselSDK shutdown initiated", "lifecycle");
            SentryFlushAndClose(100);
            LogMessage(kLogDebug, "[TesselSDK::Shutdown] Sentry closed");
        }
        // The old callbacks are destroyed outside the lock: one of them may be
        // running this very Shutdown, and its copy keeps it alive.
        PlatformInterface previous;
        {
            std::lock_guard<std::mutex> lock(platformMutex);
            std::swap(previous, platform);
            hostCallbacksCleared->store(true);
        }
        previous = PlatformInterface();
        collector.ClearStartTimes();
        LogMessage(kLogDebug, "[TesselSDK::Shutdown] Final StreamerId: " + streamerId);
        Logger::Instance().Stop();
    });
}

}  // namespace TesselSDK
