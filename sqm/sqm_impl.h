// Private state of the metrics collector. Included by the collector's own
// sources and by its tests.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include <nlohmann/json.hpp>

#include "sqm/sqm.h"
#include "sqm/sqm_gzip.h"
#include "sqm/sqm_retry.h"

namespace TesselSDK {

using SteadyTime = std::chrono::steady_clock::time_point;

// Facts of the ICE candidates named by the statistics reports.
struct SqmIceInfo {
    std::string localCandidateType;
    std::string localAddress;
    std::string localVpn;
    std::string remoteCandidateType;
    std::string remoteAddress;
    std::string remotePort;
    std::string remoteProtocol;
    std::string localNetworkType;
    std::string localRelayProtocol;
    std::string remoteRelayProtocol;
};

// The client's location from the geolocation service.
struct SqmGeoInfo {
    std::string countryCode;
    std::string city;
    std::string isp;
    bool ready = false;
};

// A prepared metrics post.
struct SqmPendingSend {
    bool ready = false;
    std::string body;
    std::map<std::string, std::string> headers;
    // Streaming start this record belongs to (START_STREAMING only).
    std::uint64_t generation = 0;
};

struct SqmSessionState {
    bool timersStarted = false;
    SteadyTime lastBatchTime{};
    SteadyTime lastSampleTime{};
    std::string peerId;
    long long duringGateMs = 0;
    bool duringStarted = false;
    std::unordered_map<std::string, std::string> latestStats;
    std::unordered_map<std::string, std::string> videoCodec;
    std::unordered_map<std::string, std::string> otherCodec;
    // The compact "metric_object" text of each buffered sample, oldest first,
    // and their total size.
    std::deque<std::string> samples;
    std::size_t sampleBytes = 0;
    bool startPending = false;
    std::string startPlayerId;
    std::string connectionType;
    long long streamingStartMs = 0;
    bool startSent = false;
    SteadyTime steadyStartTime{};
    long long seqNo = 0;
    bool seqEnabled = false;
    long long playerConnectedMs = 0;
    std::string accessToken;
    // Counts streaming starts; a START success of an earlier start is stale.
    std::uint64_t generation = 0;
    // Samples are being dropped at the buffer's bound (one WARN per burst).
    bool droppingSamples = false;

    // Empties the sample buffer (its size and burst state with it).
    void ClearSamples() {
        samples.clear();
        sampleBytes = 0;
        droppingSamples = false;
    }
};

struct SQM::SqmImpl {
    SqmCallbacks providers;
    SqmConfig config;
    std::string streamerId;
    std::string clientVersion;

    std::mutex sessionMutex;
    SqmSessionState session;

    // Guarded by sessionMutex.
    SqmIceInfo ice;
    bool iceKnown = false;

    std::mutex geoMutex;
    SqmGeoInfo geo;

    std::mutex startTimesMutex;
    std::unordered_map<std::string, long long> startTimes;

    // Guards the configured api against a later configuration while retry
    // threads read it.
    mutable std::mutex configMutex;
    SqmConfig Settings() const {
        std::lock_guard<std::mutex> lock(configMutex);
        return config;
    }

    // Steady clock of the timers; replaceable by tests.
    std::function<SteadyTime()> steadyNow = [] { return std::chrono::steady_clock::now(); };
    // Maps a retry's nominal delay to the time actually waited; tests shorten it.
    std::function<std::chrono::milliseconds(std::chrono::milliseconds)> retryWait;
    // Compresses a body for the wire; replaceable by tests.
    std::function<std::optional<std::string>(const std::string&)> compress = GzipCompress;

    // Last member: destroyed first, after every retry thread has been joined.
    SqmRetryPool retries;
};

// Most sample text kept between batches, whatever the intervals: far above a
// real session's few hundred kilobytes at one report a second.
constexpr std::size_t kSampleBufferBytes = 8u * 1024u * 1024u;

// Upload URL for the configured metrics host ("" selects the development
// endpoint), always https; an "http://" loopback host keeps http only when
// loopbackHttpAllowed (builds pointed at the local service double).
std::string MetricsUrl(const std::string& api, bool loopbackHttpAllowed);

}  // namespace TesselSDK
