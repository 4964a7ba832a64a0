// Any text as a statistics report pushed into a collector with a session
// running: the intake never throws, and every record it posts is valid JSON.
// The streaming reader keeps exactly what a walk over the document tree of
// the same text finds.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "sqm/sqm.h"
#include "sqm/sqm_intake.h"
#include "sqm/sqm_text.h"
#include "tests/support/gunzip.h"
#include "util/json_parse.h"
#include "util/text.h"

namespace {

using Json = nlohmann::ordered_json;
using TesselSDK::ReportFact;
using TesselSDK::StatsReportFacts;

std::string ValueText(const Json& v) { return v.is_string() ? v.get<std::string>() : v.dump(); }

// The facts of a report, read from its document tree.
StatsReportFacts TreeFacts(const Json& root) {
    StatsReportFacts f;
    auto set = [&f](ReportFact fact, const std::string& text) {
        f.facts[static_cast<std::size_t>(fact)] = text;
        f.factsSet |= std::uint32_t{1} << static_cast<unsigned>(fact);
    };
    if (!root.is_object() || !root.contains("stats") || !root["stats"].is_array()) return f;
    f.hasStats = true;
    for (const Json& e : root["stats"]) {
        if (!e.is_object() || !e.contains("members") || !e["members"].is_object()) continue;
        const std::string type = e.contains("type") && e["type"].is_string() ? e["type"].get<std::string>() : "";
        const Json& m = e["members"];
        const std::pair<const char*, ReportFact> local[] = {{"candidateType", ReportFact::LocalCandidateType},
                                                            {"address", ReportFact::LocalAddress},
                                                            {"networkType", ReportFact::LocalNetworkType},
                                                            {"vpn", ReportFact::LocalVpn},
                                                            {"relayProtocol", ReportFact::LocalRelayProtocol}};
        const std::pair<const char*, ReportFact> remote[] = {{"candidateType", ReportFact::RemoteCandidateType},
                                                             {"address", ReportFact::RemoteAddress},
                                                             {"port", ReportFact::RemotePort},
                                                             {"protocol", ReportFact::RemoteProtocol},
                                                             {"relayProtocol", ReportFact::RemoteRelayProtocol}};
        const auto* rules = type == "local-candidate" ? local : type == "remote-candidate" ? remote : nullptr;
        for (int k = 0; rules != nullptr && k < 5; ++k) {
            if (m.contains(rules[k].first)) set(rules[k].second, ValueText(m[rules[k].first]));
        }
        if (type == "codec" && m.contains("mimeType")) {
            const bool video = TesselSDK::AsciiUpper(ValueText(m["mimeType"])).find("VIDEO") != std::string::npos;
            const char* names[] = {"mimeType", "clockRate", "sdpFmtpLine"};
            for (int n = 0; n < 3; ++n) {
                const auto fact = static_cast<ReportFact>(
                    static_cast<int>(video ? ReportFact::VideoMimeType : ReportFact::OtherMimeType) + n);
                if (m.contains(names[n])) set(fact, TesselSDK::TrimWhitespace(ValueText(m[names[n]])));
            }
        }
        if (type == "outbound-rtp" && m.contains("kind") && m["kind"] == "video" && m.contains("targetBitrate")) {
            set(ReportFact::TargetBitrate, TesselSDK::TrimWhitespace(ValueText(m["targetBitrate"])));
        }
        for (auto it = m.begin(); it != m.end(); ++it) {
            const int i = TesselSDK::TrackedStatIndex(it.key());
            if (i < 0) continue;
            f.stats[static_cast<std::size_t>(i)] = TesselSDK::TrimWhitespace(ValueText(it.value()));
            f.statsSet |= std::uint64_t{1} << i;
        }
    }
    return f;
}

bool SameFacts(const StatsReportFacts& a, const StatsReportFacts& b) {
    if (a.hasStats != b.hasStats || a.statsSet != b.statsSet || a.factsSet != b.factsSet) return false;
    for (std::size_t i = 0; i < TesselSDK::kTrackedStatCount; ++i) {
        if (a.HasStat(i) && a.stats[i] != b.stats[i]) return false;
    }
    for (std::size_t i = 0; i < a.facts.size(); ++i) {
        if (a.Text(static_cast<ReportFact>(i)) != b.Text(static_cast<ReportFact>(i))) return false;
    }
    return true;
}

void CheckAgainstTree(std::string_view text) {
    StatsReportFacts streamed;
    const bool read = TesselSDK::ReadStatsReport(text, streamed);
    Json tree;
    try {
        tree = TesselSDK::ParseOutsideJson(text);
    } catch (const std::exception&) {
        if (read) __builtin_trap();
        return;
    }
    if (!read || !SameFacts(TreeFacts(tree), streamed)) __builtin_trap();
}

TesselSDK::SQM& Collector() {
    static long long clock = 1796575112000;
    static TesselSDK::SQM* sqm = [] {
        auto* s = new TesselSDK::SQM();
        TesselSDK::SqmCallbacks cb;
        cb.nowMsFn = [] { return clock += 1000; };
        cb.envFn = [](const char*) { return std::string("DEMO"); };
        cb.timeZoneFn = [] { return std::string("+09:00"); };
        cb.httpPostFn = [](const std::string&, const std::string& body, const std::map<std::string, std::string>&,
                           std::function<void(int, const std::string&)> done) {
            std::string record = testsupport::Gunzip(body);
            if (!nlohmann::ordered_json::accept(record)) __builtin_trap();
            done(200, "");
        };
        s->SetHostCallbacks(cb, "fuzz", 1);
        s->SetStreamerId("fuzz-1-0");
        TesselSDK::SqmConfig config;
        config.enabled = true;
        config.metric_collect_interval_s = 0;
        config.start_streaming_push_delay_s = 0;
        config.during_streaming_push_interval_s = 0;
        s->SetConfig(config);
        s->OnStreamingStart("player", "wifi");
        return s;
    }();
    return *sqm;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    CheckAgainstTree(text.c_str());
    Collector().PushWebRTCStatsReport("player", text.c_str());
    return 0;
}
