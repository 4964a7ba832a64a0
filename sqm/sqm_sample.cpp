// The DURING_STREAMING sample: a snapshot of the latest statistics and the
// machine's load.
#include <chrono>
#include <cmath>
#include <exception>

#include "sqm/sqm.h"
#include "sqm/sqm_impl.h"
#include "util/json_parse.h"

namespace TesselSDK {
namespace {

using Json = nlohmann::ordered_json;

// A load reading: the float widened to double, null when negative, not a
// number, or the provider is missing.
Json LoadValue(const std::function<float()>& provider) {
    const float reading = provider ? provider() : -1.0f;
    if (std::isnan(reading) || reading < 0.0f) return Json(nullptr);
    return Json(static_cast<double>(reading));
}

// Puts double quotes around bare keys ({none: 1, cpu: 2} -> {"none": 1,"cpu": 2}).
std::string QuoteBareKeys(const std::string& text) {
    std::string out;
    out.reserve(text.size() + 16);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        out.push_back(c);
        if (c != '{' && c != ',') continue;
        std::size_t j = i + 1;
        while (j < text.size() && text[j] == ' ') ++j;
        if (j < text.size() && text[j] != '"' && text[j] != '}') {
            out.push_back('"');
            std::size_t k = j;
            while (k < text.size() && text[k] != ':' && text[k] != ' ') out.push_back(text[k++]);
            out.push_back('"');
            i = k - 1;  // the ':' or blank is copied by the next round
        }
    }
    return out;
}

// Copies one numeric member of the parsed durations as a double; any other
// value leaves the member null.
void CopyDurationValue(const Json& parsed, Json& out, const char* name) {
    if (!parsed.is_object()) return;
    auto it = parsed.find(name);
    if (it != parsed.end() && it->is_number()) out[name] = it->get<double>();
}

}  // namespace

SQM::Json SQM::BuildQualityLimitationDurations() const {
    Json out = Json::object();
    for (const char* key : {"none", "cpu", "bandwidth", "other"}) out[key] = nullptr;
    const std::string* stored = PresentStat("qualityLimitationDurations");
    if (stored == nullptr) return out;
    std::string text = *stored;  // stored trimmed, never empty
    if (text[0] == '{' && text.find('"') == std::string::npos) text = QuoteBareKeys(text);
    try {
        const Json parsed = ParseOutsideJson(text);
        for (const char* key : {"none", "cpu", "bandwidth", "other"}) CopyDurationValue(parsed, out, key);
    } catch (const std::exception&) {
        // An unreadable durations text leaves the remaining members null.
    }
    return out;
}

SQM::Json SQM::BuildDuringSample(long long nowMs) {
    SqmSessionState& s = impl->session;
    long long seqNo = 0;
    long long offsetMs = 0;
    if (s.seqEnabled) {
        seqNo = ++s.seqNo;
        offsetMs = static_cast<long long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(impl->steadyNow() - s.steadyStartTime).count());
    }

    Json media = Json::object();
    media["frames_encoded"] = GetStatInt("framesEncoded");
    media["total_encode_time_s"] = GetStatDouble("totalEncodeTime");
    media["qp_sum"] = GetStatInt("qpSum");
    media["key_frames_encoded"] = GetStatInt("keyFramesEncoded");
    media["total_encoded_bytes_target"] = GetStatInt("totalEncodedBytesTarget");
    media["encoder_implementation"] = GetStatString("encoderImplementation");
    media["power_efficient_encoder"] = GetStatBool("powerEfficientEncoder");
    media["scalability_mode"] = GetStatString("scalabilityMode");
    media["frames_per_second"] = GetStatDouble("framesPerSecond");
    media["frames_sent"] = GetStatInt("framesSent");
    media["frame_width"] = GetStatInt("frameWidth");
    media["frame_height"] = GetStatInt("frameHeight");
    media["huge_frames_sent"] = GetStatInt("hugeFramesSent");
    media["target_bitrate_bps"] = GetStatInt("targetBitrate");
    media["quality_limitation_reason"] = GetStatString("qualityLimitationReason");
    media["quality_limitation_resolution_changes"] = GetStatInt("qualityLimitationResolutionChanges");
    media["quality_limitation_durations"] = BuildQualityLimitationDurations();
    media["total_packet_send_delay"] = GetStatDouble("totalPacketSendDelay");
    media["jitter_s"] = GetStatDouble("jitter");
    media["retransmitted_packets_sent"] = GetStatInt("retransmittedPacketsSent");
    media["retransmitted_bytes_sent"] = GetStatInt("retransmittedBytesSent");
    media["fraction_lost"] = GetStatDouble("fractionLost");
    media["nack_count"] = GetStatInt("nackCount");
    media["pli_count"] = GetStatInt("pliCount");
    media["fir_count"] = GetStatInt("firCount");

    Json network = Json::object();
    Json rtt = GetStatDouble("currentRoundTripTime");
    if (rtt.is_null()) rtt = GetStatDouble("roundTripTime");
    network["current_rtt_s"] = std::move(rtt);
    network["total_rtt_s"] = GetStatDouble("totalRoundTripTime");
    network["rtt_measurements"] = GetStatInt("roundTripTimeMeasurements");
    network["bytes_sent"] = GetStatInt("bytesSent");
    network["packets_sent"] = GetStatInt("packetsSent");
    network["packets_lost"] = GetStatInt("packetsLost");
    network["available_outgoing_bitrate_bps"] = GetStatDouble("availableOutgoingBitrate");
    network["available_incoming_bitrate_bps"] = GetStatDouble("availableIncomingBitrate");

    const SqmCallbacks& p = impl->providers;
    Json system = Json::object();
    system["cpu_usage_percent"] = LoadValue(p.cpuUsageFn);
    system["gpu_usage_percent"] = LoadValue(p.gpuUsageFn);
    system["battery_level_percent"] = LoadValue(p.batteryLevelFn);

    Json metric = Json::object();
    metric["timestamp"] = nowMs;
    metric["seq_no"] = seqNo;
    metric["offset_time_ms"] = offsetMs;
    metric["media_pipeline_metric"] = std::move(media);
    metric["network_stability_metric"] = std::move(network);
    metric["system_resource_metric"] = std::move(system);

    return metric;
}

}  // namespace TesselSDK
