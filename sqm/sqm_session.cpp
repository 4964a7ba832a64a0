// Streaming session lifecycle: start, end, player connected, the DURING step
// and the envelope every record shares.
#include <chrono>
#include <deque>
#include <limits>
#include <string>
#include <string_view>

#include "sqm/sqm.h"
#include "sqm/sqm_impl.h"
#include "util/json_text.h"

namespace TesselSDK {
namespace {

long long WholeSeconds(SteadyTime from, SteadyTime to) {
    return static_cast<long long>(std::chrono::duration_cast<std::chrono::seconds>(to - from).count());
}

// The record's text with the samples' texts as its "data" array. The record
// comes with that array empty, as the last member of "action_data", itself
// the record's last member; the buffered texts go between its brackets as
// they are, without being parsed again.
std::string RecordWithSamples(const nlohmann::ordered_json& record, const std::deque<std::string>& samples) {
    const std::string text = CompactJsonText(record);
    constexpr std::string_view kTail = "[]}}";
    std::size_t size = text.size();
    for (const std::string& sample : samples) size += sample.size() + 1;
    std::string out;
    out.reserve(size);
    out.append(text, 0, text.size() - kTail.size() + 1);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if (i > 0) out += ',';
        out += samples[i];
    }
    out.append(kTail.substr(1));
    return out;
}

}  // namespace

SQM::Json SQM::BuildEnvelope(const std::string& playerId, const char* actionType) const {
    const SqmCallbacks& p = impl->providers;
    Json record = Json::object();
    record["streamer_id"] = impl->streamerId;
    record["player_id"] = impl->streamerId + "-" + playerId;
    record["client_type"] = "2";
    record["game_id"] = p.envFn ? p.envFn("game_id") : std::string();
    record["action_type"] = actionType;
    record["time_zone"] = p.timeZoneFn ? p.timeZoneFn() : std::string();
    return record;
}

void SQM::AppendSample(const Json& metricObject) {
    SqmSessionState& s = impl->session;
    std::string text = CompactJsonText(metricObject);
    s.sampleBytes += text.size();
    s.samples.push_back(std::move(text));
    bool dropped = false;
    // The newest sample stays, however large.
    while (s.sampleBytes > kSampleBufferBytes && s.samples.size() > 1) {
        s.sampleBytes -= s.samples.front().size();
        s.samples.pop_front();
        dropped = true;
    }
    if (dropped && !s.droppingSamples) {
        s.droppingSamples = true;
        LogWarn("[TesselSDK::SQM] Sample buffer full (" + std::to_string(kSampleBufferBytes / (1024 * 1024)) +
                " MiB) - dropping the oldest samples.");
    }
}

void SQM::OnStreamingStart(const char* playerId, const char* connectionType) {
    const SqmCallbacks& p = impl->providers;
    if (!impl->Settings().enabled || !p.nowMsFn) return;
    const long long now = p.nowMsFn();
    const std::string player = playerId != nullptr ? playerId : "";
    {
        std::lock_guard<std::mutex> lock(impl->startTimesMutex);
        impl->startTimes[player] = now;
    }
    {
        std::lock_guard<std::mutex> lock(impl->sessionMutex);
        SqmSessionState& s = impl->session;
        s.peerId = player;
        s.duringGateMs = std::numeric_limits<long long>::max();
        s.duringStarted = false;
        s.startSent = false;
        s.timersStarted = true;
        s.lastSampleTime = impl->steadyNow();
        s.ClearSamples();
        s.startPending = true;
        s.startPlayerId = player;
        s.connectionType = connectionType != nullptr ? connectionType : "";
        s.streamingStartMs = now;
        s.steadyStartTime = impl->steadyNow();
        s.seqNo = 0;
        s.seqEnabled = true;
        ++s.generation;
    }
    RequestGeoLookup();
    LogInfo("[TesselSDK::SQM] START_STREAMING pending - waiting for WebRTC codec + ICE...");
}

void SQM::OnStreamingEnd(const char* playerId, const char* /*reserved*/) {
    const SqmCallbacks& p = impl->providers;
    if (!impl->Settings().enabled || !p.nowMsFn) return;
    const long long now = p.nowMsFn();
    const std::string player = playerId != nullptr ? playerId : "";
    long long startMs = 0;
    {
        std::lock_guard<std::mutex> lock(impl->startTimesMutex);
        auto it = impl->startTimes.find(player);
        if (it != impl->startTimes.end()) {
            startMs = it->second;
            impl->startTimes.erase(it);
        }
    }

    std::deque<std::string> buffered;
    Json current;
    bool wasSent = false;
    std::string token;
    {
        std::lock_guard<std::mutex> lock(impl->sessionMutex);
        SqmSessionState& s = impl->session;
        wasSent = s.startSent;
        current = BuildDuringSample(now);
        if (wasSent) buffered.swap(s.samples);
        token = s.accessToken;
        s.duringGateMs = 0;
        s.duringStarted = false;
        s.startPending = false;
        s.startSent = false;
        // Nothing reads the buffer again before the next start empties it.
        s.ClearSamples();
    }

    if (!wasSent) {
        LogInfo("[TesselSDK::SQM] END before START sent - clear buffered START/DURING metrics and skip END.");
        return;
    }

    buffered.push_back(CompactJsonText(current));

    Json actionData = Json::object();
    actionData["streaming_end_time_ms"] = now;
    actionData["streaming_session_duration_ms"] = startMs >= 1 ? Json(now - startMs) : Json(nullptr);
    actionData["data"] = Json::array();

    Json record = BuildEnvelope(player, "END_STREAMING");
    record["action_data"] = std::move(actionData);
    const HttpHeaders headers = BuildRequestHeaders(token);
    PostMetrics("END_STREAMING", RecordWithSamples(record, buffered), headers, 0, nullptr, true);
}

void SQM::MarkPlayerConnected() {
    if (!impl->providers.nowMsFn) return;
    std::lock_guard<std::mutex> lock(impl->sessionMutex);
    impl->session.playerConnectedMs = impl->providers.nowMsFn();
}

void SQM::ClearStartTimes() {
    std::lock_guard<std::mutex> lock(impl->startTimesMutex);
    impl->startTimes.clear();
}

SqmPendingSend SQM::BuildDuringBatch(const SqmConfig& settings, SteadyTime now) {
    SqmPendingSend result;
    const SqmCallbacks& p = impl->providers;
    if (!settings.enabled || !p.nowMsFn) return result;
    SqmSessionState& s = impl->session;

    if (!s.timersStarted) {
        s.timersStarted = true;
        s.lastBatchTime = now;
        s.lastSampleTime = now;
    }
    const long long gateMs = p.nowMsFn();
    if (WholeSeconds(s.lastSampleTime, now) < settings.metric_collect_interval_s) return result;

    s.lastSampleTime = now;
    const long long sampleMs = p.nowMsFn();
    AppendSample(BuildDuringSample(sampleMs));

    if (s.duringGateMs <= 0 || gateMs < s.duringGateMs) return result;
    if (!s.startSent) return result;
    if (!s.duringStarted) {
        s.duringStarted = true;
        s.lastBatchTime = now;
    }
    if (WholeSeconds(s.lastBatchTime, now) < settings.during_streaming_push_interval_s) return result;

    Json record = BuildEnvelope(s.peerId, "DURING_STREAMING");
    Json actionData = Json::object();
    actionData["data"] = Json::array();
    record["action_data"] = std::move(actionData);
    std::string body = RecordWithSamples(record, s.samples);

    s.lastBatchTime = now;
    s.ClearSamples();
    return PreparePost(std::move(body));
}

SqmPendingSend SQM::PreparePost(std::string body) {
    SqmPendingSend send;
    send.ready = true;
    send.body = std::move(body);
    // Every built record takes a fresh token; END_STREAMING reuses the last one.
    impl->session.accessToken = impl->providers.accessTokenFn ? impl->providers.accessTokenFn() : std::string();
    send.headers = BuildRequestHeaders(impl->session.accessToken);
    return send;
}

}  // namespace TesselSDK
