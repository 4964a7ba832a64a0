// The streaming-quality-metrics collector.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>

#include <nlohmann/json.hpp>

#include "net/http_client.h"
#include "sqm/sqm_callbacks.h"
#include "sqm/sqm_config.h"

namespace TesselSDK {

struct SqmPendingSend;
struct SqmTestAccess;

class SQM {
public:
    SQM();
    // Wakes pending retries (they post nothing; each leaves a WARN line naming
    // its record) and waits for any post in flight.
    ~SQM();
    SQM(const SQM&) = delete;
    SQM& operator=(const SQM&) = delete;

    // geType is accepted but unused: every record's client_type is "2".
    void SetHostCallbacks(SqmCallbacks callbacks, const std::string& clientVersion, int geType);
    void SetStreamerId(const std::string& streamerId);
    void SetConfig(const SqmConfig& config);

    // Session operations (null texts are taken as "").
    void PushWebRTCStatsReport(const char* playerId, const char* statsJson);
    void OnStreamingStart(const char* playerId, const char* connectionType);
    void OnStreamingEnd(const char* playerId, const char* reserved);
    void MarkPlayerConnected();
    void ClearStartTimes();

    // Test seams: the steady clock of the session timers, and the time a
    // retry actually waits for its nominal back-off.
    void SetSteadyClockForTesting(std::function<std::chrono::steady_clock::time_point()> now);
    void SetRetryWaitForTesting(std::function<std::chrono::milliseconds(std::chrono::milliseconds)> wait);

private:
    friend struct SqmTestAccess;
    using Json = nlohmann::ordered_json;
    using StringMap = std::unordered_map<std::string, std::string>;

    // Typed lookups of the kept statistics (sessionMutex held).
    Json GetStatString(const std::string& name) const;
    Json GetStatBool(const std::string& name) const;
    Json GetStatInt(const std::string& name) const;
    Json GetStatDouble(const std::string& name) const;
    bool ReadStatInt64(const std::string& name, long long& value) const;
    const std::string* PresentStat(const std::string& name) const;

    // Record builders (sessionMutex held; settings is the push's one copy).
    SqmPendingSend BuildStartStreaming(const SqmConfig& settings);
    Json BuildCodecInfo(const std::string& kind) const;
    SqmPendingSend BuildDuringBatch(const SqmConfig& settings, std::chrono::steady_clock::time_point now);
    Json BuildDuringSample(long long nowMs);  // one sample's metric object
    Json BuildQualityLimitationDurations() const;
    Json BuildEnvelope(const std::string& playerId, const char* actionType) const;
    void AppendSample(const Json& metricObject);
    SqmPendingSend PreparePost(std::string body);

    // Upload.
    void SendPending(const SqmPendingSend& start, const SqmPendingSend& during);
    // builtHere: the body is compact JSON text of the record builders, logged
    // as it is; any other body is parsed once for its log line.
    void PostMetrics(const char* name, const std::string& body, const HttpHeaders& headers, int attempt,
                     std::function<void()> onSuccess, bool builtHere = false);
    void PostGzipped(const std::string& name, std::shared_ptr<const std::string> gzipped, const HttpHeaders& headers,
                     int attempt, std::function<void()> onSuccess);
    void OnMetricsResponse(const std::string& name, const std::shared_ptr<const std::string>& gzipped,
                           const HttpHeaders& headers, int attempt, const std::function<void()>& onSuccess,
                           int status, const std::string& response);
    HttpHeaders BuildRequestHeaders(const std::string& token) const;
    void OnStartStreamingSent(std::uint64_t generation);

    // Geolocation.
    void RequestGeoLookup();
    void OnGeoResponse(int status, const std::string& body);

    void LogInfo(const std::string& text) const;
    void LogWarn(const std::string& text) const;
    void LogError(const std::string& text) const;

    struct SqmImpl;
    std::unique_ptr<SqmImpl> impl;
};

}  // namespace TesselSDK
