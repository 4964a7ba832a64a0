// The START_STREAMING record: device, client, encoder, codec, ICE and
// geolocation facts of a settled session, built once per streaming start.
#include <cstdint>

#include "sqm/sqm.h"
#include "sqm/sqm_impl.h"
#include "util/json_text.h"
#include "sqm/sqm_text.h"

namespace TesselSDK {
namespace {

using Json = nlohmann::ordered_json;

std::string TextOf(const std::function<std::string()>& provider) { return provider ? provider() : std::string(); }

Json FloatOf(const std::function<float()>& provider) {
    return provider ? Json(static_cast<double>(provider())) : Json(nullptr);
}

Json TextOrNull(const std::string& text) { return text.empty() ? Json(nullptr) : Json(text); }

std::string TextOr(const std::unordered_map<std::string, std::string>& map, const std::string& name) {
    auto it = map.find(name);
    return it != map.end() ? it->second : std::string();
}

Json IntOrNull(const std::string& text) {
    int value = 0;
    if (text.empty() || !TryParseInt32(text, value)) return Json(nullptr);
    return Json(value);
}

// The low 32 bits of `value` as a signed number: a value beyond 32 bits wraps
// rather than saturates, as the record has always carried it.
std::int32_t WrapToInt32(long long value) { return static_cast<std::int32_t>(static_cast<std::uint32_t>(value)); }

}  // namespace

SQM::Json SQM::BuildCodecInfo(const std::string& kind) const {
    const StringMap& map = kind == "video" ? impl->session.videoCodec : impl->session.otherCodec;
    const std::string mimeType = TextOr(map, "mimeType");
    if (mimeType.empty()) return Json(nullptr);
    Json codec = Json::object();
    codec["mime_type"] = mimeType;
    // A clock rate that is not a 32-bit decimal number is written as null.
    codec["clock_rate_hz"] = IntOrNull(TextOr(map, "clockRate"));
    codec["sdp_fmtp_line"] = TextOrNull(TextOr(map, "sdpFmtpLine"));
    return codec;
}

SqmPendingSend SQM::BuildStartStreaming(const SqmConfig& settings) {
    SqmPendingSend result;
    SqmSessionState& s = impl->session;
    const SqmCallbacks& p = impl->providers;

    // Due test.
    if (!settings.enabled || !s.startPending) return result;
    if (!p.nowMsFn) return result;
    Json videoCodec = BuildCodecInfo("video");
    Json audioCodec = BuildCodecInfo("audio");
    if (videoCodec.is_null() && audioCodec.is_null()) return result;
    if (!impl->iceKnown) return result;
    const long long now = p.nowMsFn();
    if (now < s.streamingStartMs + static_cast<long long>(settings.start_streaming_push_delay_s) * 1000) {
        return result;
    }

    s.startPending = false;
    const std::string playerId = s.startPlayerId;
    const std::string connectionType = s.connectionType;
    long long initDuration = 0;
    if (s.playerConnectedMs > 0 && s.streamingStartMs > s.playerConnectedMs) {
        initDuration = s.streamingStartMs - s.playerConnectedMs;
    }

    std::string gpuName;
    int hardwareEncoder = 0;
    if (p.gpuInfoFn) p.gpuInfoFn(gpuName, hardwareEncoder);
    int minBitrate = 0;
    int maxBitrate = 0;
    int fps = 0;
    const bool haveBitrate = p.bitrateConfigFn ? p.bitrateConfigFn(minBitrate, maxBitrate, fps) : false;
    int screenWidth = 0;
    int screenHeight = 0;
    if (p.screenSizeFn) p.screenSizeFn(screenWidth, screenHeight);

    Json record = BuildEnvelope(playerId, "START_STREAMING");

    Json actionData = Json::object();
    actionData["streaming_start_time_ms"] = s.streamingStartMs;
    actionData["streaming_init_duration_ms"] = initDuration >= 1 ? Json(initDuration) : Json(nullptr);

    Json device = Json::object();
    device["os_name"] = "Windows";
    device["os_version"] = TextOf(p.osVersionFn);
    device["cpu_name"] = TextOf(p.cpuNameFn);
    device["gpu_name"] = gpuName;
    device["memory_capacity_gb"] = FloatOf(p.memoryCapacityFn);
    device["gpu_memory_capacity_gb"] = FloatOf(p.gpuMemoryCapacityFn);
    device["screen_width"] = screenWidth;
    device["screen_height"] = screenHeight;
    device["device_model"] = TextOf(p.deviceModelFn);
    device["device_type"] = TextOf(p.deviceTypeFn);
    actionData["device_metric"] = std::move(device);

    Json client = Json::object();
    client["client_version"] = impl->clientVersion;
    client["engine_version"] = "Unreal-5.6";
    actionData["client_metric"] = std::move(client);

    Json qp(nullptr);
    long long qpSum = 0;
    long long framesEncoded = 0;
    if (ReadStatInt64("qpSum", qpSum) && ReadStatInt64("framesEncoded", framesEncoded) && framesEncoded >= 1) {
        qp = WrapToInt32(qpSum / framesEncoded);
    }
    Json streaming = Json::object();
    streaming["qp"] = std::move(qp);
    streaming["min_bitrate"] = haveBitrate ? Json(minBitrate) : Json(nullptr);
    streaming["max_bitrate"] = haveBitrate ? Json(maxBitrate) : Json(nullptr);
    streaming["video_codec"] = std::move(videoCodec);
    streaming["audio_codec"] = std::move(audioCodec);
    actionData["streaming_metric"] = std::move(streaming);

    const SqmGeoInfo geo = [this] {
        std::lock_guard<std::mutex> geoLock(impl->geoMutex);
        return impl->geo;
    }();

    const SqmIceInfo& ice = impl->ice;
    Json local = Json::object();
    local["type"] = ice.localCandidateType;
    local["ip"] = ice.localAddress;
    local["vpn"] = ice.localVpn.empty() ? Json(nullptr) : Json(ice.localVpn == "true");
    local["network_type"] = ice.localNetworkType;
    local["relay_protocol"] = TextOrNull(ice.localRelayProtocol);

    Json remote = Json::object();
    remote["type"] = ice.remoteCandidateType;
    remote["ip"] = ice.remoteAddress;
    remote["port"] = IntOrNull(ice.remotePort);
    remote["network_type"] = nullptr;
    remote["protocol"] = TextOrNull(ice.remoteProtocol);
    remote["relay_protocol"] = TextOrNull(ice.remoteRelayProtocol);

    Json network = Json::object();
    network["network_type"] = ice.localNetworkType;
    network["connection_type"] = connectionType;
    network["local_candidate"] = std::move(local);
    network["remote_candidate"] = std::move(remote);
    network["isp"] = geo.ready && !geo.isp.empty() ? Json(geo.isp) : Json(nullptr);
    actionData["network_metric"] = std::move(network);

    Json geoMetric = Json::object();
    geoMetric["country"] = geo.ready ? Json(geo.countryCode) : Json(nullptr);
    geoMetric["city"] = geo.ready ? Json(geo.city) : Json(nullptr);
    actionData["geo_metric"] = std::move(geoMetric);
    record["action_data"] = std::move(actionData);

    s.duringGateMs = now;
    result = PreparePost(CompactJsonText(record));
    result.generation = s.generation;
    return result;
}

}  // namespace TesselSDK
