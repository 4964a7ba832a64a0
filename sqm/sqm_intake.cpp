// Statistics-report intake: what one push keeps from a WebRTC report, and
// the order of work of a push.
#include <exception>

#include "sqm/sqm.h"
#include "sqm/sqm_impl.h"
#include "sqm/sqm_text.h"
#include "util/text.h"

namespace TesselSDK {
namespace {

using Json = nlohmann::ordered_json;

constexpr const char* kUnreadable = "[TesselSDK::SQM] Failed to parse StatsJson";

// A member's value as text: strings as they are, anything else compactly.
std::string ValueText(const Json& value) {
    if (value.is_string()) return value.get_ref<const std::string&>();
    return value.dump();
}

bool NamesVideo(const std::string& mimeType) { return AsciiUpper(mimeType).find("VIDEO") != std::string::npos; }

// Candidate facts read from one report; they reach the collector's ICE facts
// only when the report named a candidate type.
struct ReportCandidates {
    std::string localType;
    std::string localAddress;
    std::string localNetworkType;
    std::string remoteType;
    std::string remoteAddress;
};

}  // namespace

void SQM::PushWebRTCStatsReport(const char* playerId, const char* statsJson) {
    const SteadyTime now = impl->steadyNow();
    const SqmConfig settings = impl->Settings();
    // Parsing reads no shared state: it happens before the lock is taken.
    Json report;
    if (statsJson != nullptr && statsJson[0] != '\0') {
        try {
            report = Json::parse(statsJson);
        } catch (const std::exception&) {
            LogWarn(kUnreadable);
        }
    }
    SqmPendingSend start;
    SqmPendingSend during;
    {
        std::lock_guard<std::mutex> lock(impl->sessionMutex);
        SqmSessionState& s = impl->session;
        if (playerId != nullptr && playerId[0] != '\0') s.peerId = playerId;

        if (report.is_object() && report.contains("stats") && report["stats"].is_array()) {
            try {
                ReportCandidates cand;
                for (const Json& entry : report["stats"]) {
                    if (!entry.is_object()) continue;
                    static const std::string kEmpty;
                    auto typeIt = entry.find("type");
                    const std::string& type = (typeIt != entry.end() && typeIt->is_string())
                                                  ? typeIt->get_ref<const std::string&>()
                                                  : kEmpty;
                    auto membersIt = entry.find("members");
                    if (membersIt == entry.end() || !membersIt->is_object()) continue;
                    const Json& m = *membersIt;

                    if (type == "local-candidate") {
                        if (m.contains("candidateType")) cand.localType = ValueText(m["candidateType"]);
                        if (m.contains("address")) cand.localAddress = ValueText(m["address"]);
                        if (m.contains("networkType")) cand.localNetworkType = ValueText(m["networkType"]);
                        if (m.contains("vpn")) impl->ice.localVpn = ValueText(m["vpn"]);
                        if (m.contains("relayProtocol")) {
                            impl->ice.localRelayProtocol = ValueText(m["relayProtocol"]);
                        }
                    } else if (type == "remote-candidate") {
                        if (m.contains("candidateType")) cand.remoteType = ValueText(m["candidateType"]);
                        if (m.contains("address")) cand.remoteAddress = ValueText(m["address"]);
                        if (m.contains("port")) impl->ice.remotePort = ValueText(m["port"]);
                        if (m.contains("protocol")) impl->ice.remoteProtocol = ValueText(m["protocol"]);
                        if (m.contains("relayProtocol")) {
                            impl->ice.remoteRelayProtocol = ValueText(m["relayProtocol"]);
                        }
                    } else if (type == "codec" && m.contains("mimeType")) {
                        const std::string mime = ValueText(m["mimeType"]);
                        auto& target = NamesVideo(mime) ? s.videoCodec : s.otherCodec;
                        for (const char* name : {"mimeType", "clockRate", "sdpFmtpLine"}) {
                            if (m.contains(name)) target[name] = TrimWhitespace(ValueText(m[name]));
                        }
                    } else if (type == "outbound-rtp" && m.contains("kind") && m["kind"].is_string() &&
                               m["kind"].get_ref<const std::string&>() == "video" &&
                               m.contains("targetBitrate")) {
                        s.latestStats["targetBitrate"] = TrimWhitespace(ValueText(m["targetBitrate"]));
                    }

                    for (auto it = m.begin(); it != m.end(); ++it) {
                        if (IsTrackedStatName(it.key())) {
                            s.latestStats[it.key()] = TrimWhitespace(ValueText(it.value()));
                        }
                    }
                }

                if (!cand.localType.empty() || !cand.remoteType.empty()) {
                    SqmIceInfo& ice = impl->ice;
                    if (!cand.localType.empty()) ice.localCandidateType = cand.localType;
                    if (!cand.localAddress.empty()) ice.localAddress = cand.localAddress;
                    if (!cand.remoteType.empty()) ice.remoteCandidateType = cand.remoteType;
                    if (!cand.remoteAddress.empty()) ice.remoteAddress = cand.remoteAddress;
                    if (!cand.localNetworkType.empty()) ice.localNetworkType = cand.localNetworkType;
                    impl->iceKnown = true;
                }
            } catch (const std::exception&) {
                LogWarn(kUnreadable);
            }
        }

        try {
            start = BuildStartStreaming(settings);
        } catch (const std::exception& e) {
            LogError(std::string("[TesselSDK::SQM] START_STREAMING not built: ") + e.what());
        }
        try {
            during = BuildDuringBatch(settings, now);
        } catch (const std::exception& e) {
            LogError(std::string("[TesselSDK::SQM] DURING_STREAMING not built: ") + e.what());
        }
    }
    SendPending(start, during);
}

}  // namespace TesselSDK
