#include <exception>
#include <string>

#include "core/cdn_environments.h"
#include "core/ga_data.h"
#include "core/link_logic_impl.h"
#include "core/reporter_start.h"
#include "core/signalling_url.h"
#include "log/env.h"
#include "log/logger.h"
#include "net/http_client.h"
#include "platform/account.h"
#include "platform/sentry_glue.h"
#include "util/guarded.h"
#include "util/json_text.h"
#include "util/text.h"
#include "util/log_body.h"

namespace TesselSDK {
namespace {

const char kPrefix[] = "[TesselSDK::Initialize] ";

void Log(int level, const std::string& text) { LogMessage(level, kPrefix + text); }

void Report(const std::function<void(bool)>& onInitialized, bool ok) {
    if (onInitialized) onInitialized(ok);
}

// Logs `text` as an error, captures it to the reporter when `capture` is set
// and reports the failure.
void Fail(const std::string& text, bool capture, const std::function<void(bool)>& onInitialized) {
    const std::string line = kPrefix + text;
    LogMessage(kLogError, line);
    if (capture) SentryCaptureMessage(line.c_str(), 2);
    Report(onInitialized, false);
}

}  // namespace

void LinkLogicImpl::Initialize(std::function<void(bool ok)> onInitialized) {
    // A failure of ours before the outcome was reported is reported as a
    // failure, once. What a host callback throws (the completion's included)
    // goes on to the host, and no outcome is reported in its place.
    bool reported = false;
    const std::function<void(bool)> report = [&reported, &onInitialized](bool ok) {
        reported = true;
        if (onInitialized) CallHost(onInitialized, ok);
    };
    Guarded([&] {
        const std::string gate = GetEnvVar("streaming_yn");
        if (gate.empty()) {
            Log(kLogInfo, "streaming_yn is empty, skipping initialization");
            Report(report, false);
            return;
        }
        if (gate == "n") {
            Log(kLogInfo, "streaming_yn is not enabled, skipping initialization");
            Report(report, false);
            return;
        }
        Log(kLogInfo, "streaming_yn: " + gate);
        Log(kLogInfo, "Starting initialization...");
        Log(kLogDebug, "SdkVersion: " + sdkVersion);
        Log(kLogDebug, "StreamerId: " + streamerId);

        const auto table = BuildCdnEnvironmentTable();
        std::string env = AsciiUpper(GetEnvVar("ENV"));
        if (!env.empty() && table.find(env) == table.end()) {
            Fail("Invalid ENV value: '" + env + "'", config.sentryEnable, report);
            return;
        }
        if (env.empty()) env = "LIVE";
        const std::string url = table.at(env);
        Log(kLogInfo, "Fetching CDN config from: " + url);
        HttpGet(url, [this, report](int status, const std::string& body) {
            OnCdnConfigResponse(status, body, report);
        });
    });
    if (!reported) Guarded([&] { report(false); });
}

void LinkLogicImpl::OnCdnConfigResponse(int status, const std::string& body,
                                        const std::function<void(bool)>& onInitialized) {
    if (status != 200) {
        Log(kLogError,
            "CDN fetch failed with HTTP code: " + std::to_string(status) + ", Response: " + BodyForLog(body));
        Report(onInitialized, false);
        return;
    }
    Log(kLogDebug, "CDN Response (" + std::to_string(body.size()) + " bytes): " + BodyForLog(body));

    const std::string gameId = GetEnvVar("game_id");
    // The handler of the configuration's parse: the parse keeps whatever it
    // could read, so what reaches it is a failure of the steps around it.
    try {
        // The metrics section's warnings are the collector's lines.
        config = ParseCdnConfig(body, gameId, [](const std::string& line) { LogMessage(kLogWarn, line); });
        collector.SetConfig(config.sqm);
        if (config.sentryEnable) SentryAddBreadcrumb("CDN configuration loaded", "config");
        const SqmConfig& sqm = config.sqm;
        Log(kLogInfo, "SQM virivizar_sqm: collect=" + std::to_string(sqm.metric_collect_interval_s) +
                          "s delay_start=" + std::to_string(sqm.start_streaming_push_delay_s) +
                          "s during_push=" + std::to_string(sqm.during_streaming_push_interval_s) +
                          "s sqm_enabled=" + (sqm.enabled ? "true" : "false") +
                          " metrics_api=" + (sqm.api.empty() ? std::string("(none)") : sqm.api));
    } catch (const std::exception& e) {
        Log(kLogError, std::string("CDN parsing exception: ") + e.what());
        if (config.sentryEnable) SentryCaptureException("CDN_Parse_Exception", e.what());
        Report(onInitialized, false);
        return;
    } catch (...) {
        Log(kLogError, "Unknown CDN parsing error");
        if (config.sentryEnable)
            SentryCaptureException("CDN_Parse_Unknown", "Unknown exception during CDN config parsing");
        Report(onInitialized, false);
        return;
    }

    if (config.webSocketUrl.empty()) {
        Fail("Failed to parse WebSocket URL from CDN config", config.sentryEnable, onInitialized);
        return;
    }
    Log(kLogInfo, "WebSocket URL: " + config.webSocketUrl);
    Log(kLogDebug, "TURN API URL: " + config.turnApiUrl);
    Log(kLogDebug, "Event API URL: " + config.eventApiUrl);

    const BitrateProfile defaultProfile;
    const BitrateProfile* autoProfile = FindBitrateProfile(config, "AUTO");
    const BitrateProfile& startProfile = autoProfile ? *autoProfile : defaultProfile;
    const int minBitrate = startProfile.MinBitrate;
    const int maxBitrate = startProfile.MaxBitrate;
    const int fps = startProfile.Fps;
    Log(kLogDebug, "Bitrate (Default): Min=" + std::to_string(minBitrate) + ", Max=" + std::to_string(maxBitrate) +
                       ", FPS=" + std::to_string(fps));

    LogMessage(kLogInfo, std::string("[TesselSDK] Debug: Parsed Sentry config: enable=") +
                             (config.sentryEnable ? "true" : "false") + ", dsn=" + config.sentryDsn);
    if (!config.sentryDsn.empty()) {
        if (config.sentryEnable) {
            StartReporter(config.sentryDsn, HostCallback(&PlatformInterface::GetSentryContext));
        } else if (auto initSentry = HostCallback(&PlatformInterface::InitSentry)) {
            const std::string envAsRead = GetEnvVar("ENV");
            initSentry(config.sentryDsn.c_str(), envAsRead.c_str(), kRelease);
        }
    }
    if (auto bitrate = HostCallback(&PlatformInterface::BitrateCallback)) bitrate(minBitrate, maxBitrate, fps);

    const std::string memberNo = GetEnvVar("member_no");
    const std::string gaText = CompactJsonText(BuildGaData(gameId, geType, streamerId));
    const std::string gaBase64 = Base64Encode(gaText);
    LogMessage(kLogDebug, "===== WebSocket Connection Parameters =====");
    LogMessage(kLogDebug, "  StreamerId: " + streamerId);
    LogMessage(kLogDebug, "  MemberNo: " + memberNo);
    LogMessage(kLogDebug, "  GameId: " + gameId);
    LogMessage(kLogDebug, "  GA Data (JSON): " + gaText);
    LogMessage(kLogDebug, "  GA Data (Base64): " + gaBase64);
    const std::string token = GetAccessToken();
    LogMessage(kLogDebug, "  Token: " + MaskToken(token));
    const std::string signallingUrl = BuildSignalingUrl(config.webSocketUrl, streamerId, token, memberNo, gaBase64, 0);
    LogMessage(kLogDebug, "===========================================");

    Log(kLogInfo, "Signalling URL created (length: " + std::to_string(signallingUrl.size()) + ")");
    Log(kLogDebug, "Full Signalling URL: " +
                       SignallingUrlForLog(config.webSocketUrl, streamerId, token, memberNo, gaBase64, 0));

    if (auto createStreamer = HostCallback(&PlatformInterface::CreateStreamer))
        createStreamer(streamerId.c_str(), signallingUrl.c_str());
    if (auto startStreaming = HostCallback(&PlatformInterface::StartStreaming)) startStreaming();
    Report(onInitialized, true);
}

}  // namespace TesselSDK
