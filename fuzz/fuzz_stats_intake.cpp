// Any text as a statistics report: the streaming reader keeps exactly what a walk over the document tree of
// the same text finds, and a collector with a session running takes it without throwing and posts valid JSON.
#include <nlohmann/json.hpp>

#include "sqm/sqm.h"
#include "sqm/sqm_intake.h"
#include "sqm/sqm_text.h"
#include "tests/support/gunzip.h"
#include "util/json_parse.h"
#include "util/text.h"

using namespace TesselSDK;
using Json = nlohmann::ordered_json;
using F = ReportFact;

static std::string Text(const Json& v) { return v.is_string() ? v.get<std::string>() : v.dump(); }

static const std::map<std::string, F> kFacts = {
    {"local-candidate/candidateType", F::LocalCandidateType}, {"local-candidate/address", F::LocalAddress},
    {"local-candidate/networkType", F::LocalNetworkType}, {"local-candidate/vpn", F::LocalVpn},
    {"local-candidate/relayProtocol", F::LocalRelayProtocol}, {"remote-candidate/port", F::RemotePort},
    {"remote-candidate/candidateType", F::RemoteCandidateType}, {"remote-candidate/address", F::RemoteAddress},
    {"remote-candidate/protocol", F::RemoteProtocol}, {"remote-candidate/relayProtocol", F::RemoteRelayProtocol},
    {"codec/mimeType", F::OtherMimeType}, {"codec/clockRate", F::OtherClockRate},
    {"codec/sdpFmtpLine", F::OtherSdpFmtpLine}, {"outbound-rtp/targetBitrate", F::TargetBitrate}};

static StatsReportFacts TreeFacts(const Json& root) {
    StatsReportFacts f;
    f.hasStats = root.is_object() && root.contains("stats") && root["stats"].is_array();
    for (const Json& e : f.hasStats ? root["stats"] : Json::array()) {
        if (!e.is_object() || !e.contains("members") || !e["members"].is_object()) continue;
        const Json& m = e["members"];
        const std::string type = e.contains("type") && e["type"].is_string() ? e["type"].get<std::string>() : "";
        const bool asRead = type == "local-candidate" || type == "remote-candidate";  // the others trimmed
        const bool codec = type == "codec" && m.contains("mimeType");
        const bool video = codec && AsciiUpper(Text(m["mimeType"])).find("VIDEO") != std::string::npos;
        const bool videoRtp = type == "outbound-rtp" && m.contains("kind") && m["kind"] == "video";
        for (auto it = m.begin(); it != m.end(); ++it) {
            const auto fact = kFacts.find(type + "/" + it.key());
            if (fact != kFacts.end() && (asRead || codec || videoRtp)) {
                const auto k = static_cast<size_t>(fact->second) - (video ? 3 : 0);  // the video codec's 3 before
                f.facts[k] = asRead ? Text(*it) : TrimWhitespace(Text(*it));
                f.factsSet |= 1u << k;
            }
            if (const int i = TrackedStatIndex(it.key()); i >= 0) {
                f.stats[static_cast<size_t>(i)] = TrimWhitespace(Text(*it));
                f.statsSet |= std::uint64_t{1} << i;
            }
        }
    }
    return f;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    StatsReportFacts got;
    const bool readable = ReadStatsReport(text.c_str(), got);
    try {
        const StatsReportFacts tree = TreeFacts(ParseOutsideJson(text.c_str()));
        bool same = got.hasStats == tree.hasStats && got.statsSet == tree.statsSet && got.factsSet == tree.factsSet;
        for (size_t i = 0; i < kTrackedStatCount; ++i) same &= !got.HasStat(i) || got.stats[i] == tree.stats[i];
        for (size_t i = 0; i < got.facts.size(); ++i) same &= got.Text(F(i)) == tree.Text(F(i));
        if (!readable || !same) __builtin_trap();
    } catch (const std::exception&) {
        if (readable) __builtin_trap();  // the reader took what is not JSON or nests too deep
    }
    static SQM* const collector = [] {
        auto* sqm = new SQM();
        SqmCallbacks cb;
        cb.nowMsFn = [clock = 1796575112000LL]() mutable { return clock += 1000; };
        cb.httpPostFn = [](const std::string&, const std::string& body, const auto&, auto done) {
            if (!Json::accept(testsupport::Gunzip(body))) __builtin_trap();
            done(200, "");
        };
        sqm->SetHostCallbacks(cb, "fuzz", 1);
        sqm->SetConfig(SqmConfig{true, "", 0, 0, 0});  // every push posts
        sqm->OnStreamingStart("player", "wifi");
        return sqm;
    }();
    collector->PushWebRTCStatsReport("player", text.c_str());
    return 0;
}
