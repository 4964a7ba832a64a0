#include <gtest/gtest.h>

#include "sqm_test_host.h"

using namespace sqmtest;
using TesselSDK::SQM;
using TesselSDK::SqmTestAccess;

namespace {

// Pushes with metrics off, so only the intake runs.
struct Intake {
    FakeHost host;
    std::unique_ptr<SQM> sqm = MakeCollector(host, TesselSDK::SqmConfig());
    auto& impl() { return SqmTestAccess::Impl(*sqm); }
    std::string Stat(const std::string& name) {
        auto& m = impl().session.latestStats;
        auto it = m.find(name);
        return it == m.end() ? "<absent>" : it->second;
    }
};

}  // namespace

TEST(SqmIntake, RealReportsKeepCodecsCandidatesAndVideoCounters) {
    Intake in;
    for (int n = 1; n <= 20; ++n) {
        const std::string text = DataReport(n);
        ASSERT_FALSE(text.empty()) << "missing report " << n;
        in.sqm->PushWebRTCStatsReport("player-1", text.c_str());
    }
    auto& impl = in.impl();
    // Every negotiated payload type is listed; the last of each kind stays.
    EXPECT_EQ("video/rtx", impl.session.videoCodec["mimeType"]);
    EXPECT_EQ("90000", impl.session.videoCodec["clockRate"]);
    EXPECT_EQ("apt=98", impl.session.videoCodec["sdpFmtpLine"]);
    EXPECT_EQ("audio/G722", impl.session.otherCodec["mimeType"]);
    EXPECT_EQ("8000", impl.session.otherCodec["clockRate"]);
    // G722 has no fmtp line: the earlier audio codec's line stays.
    EXPECT_EQ("111/111", impl.session.otherCodec["sdpFmtpLine"]);

    EXPECT_TRUE(impl.iceKnown);
    EXPECT_EQ("host", impl.ice.localCandidateType);
    EXPECT_EQ("::1", impl.ice.localAddress);  // the IPv6 candidate sorts after the one in use
    EXPECT_EQ("unknown", impl.ice.localNetworkType);
    EXPECT_EQ("false", impl.ice.localVpn);
    EXPECT_EQ("", impl.ice.localRelayProtocol);
    EXPECT_EQ("host", impl.ice.remoteCandidateType);
    EXPECT_EQ("127.0.0.1", impl.ice.remoteAddress);
    EXPECT_EQ("udp", impl.ice.remoteProtocol);
    const Json last = Json::parse(DataReport(20));
    for (const auto& e : last["stats"]) {
        if (e["type"] == "remote-candidate") {
            EXPECT_EQ(e["members"]["port"].dump(), impl.ice.remotePort);
        }
    }

    EXPECT_EQ("591", in.Stat("framesEncoded"));
    EXPECT_EQ("29248", in.Stat("qpSum"));
    EXPECT_EQ("libvpx", in.Stat("encoderImplementation"));
    EXPECT_EQ(R"({"bandwidth":19.988,"cpu":0,"none":0.031,"other":0})", in.Stat("qualityLimitationDurations"));
    // Only audio carries a target bitrate in these reports; it is not kept.
    EXPECT_EQ("<absent>", in.Stat("targetBitrate"));
    EXPECT_EQ("player-1", impl.session.peerId);
    // With metrics off nothing is built or posted.
    EXPECT_TRUE(in.host.Posts().empty());
    EXPECT_EQ(0, in.host.CountLogs(1, "Failed to parse"));
}

TEST(SqmIntake, CandidateFactsFollowTheCandidateTypeRule) {
    Intake in;
    auto& ice = in.impl().ice;
    // Address and network type without a candidate type are not stored;
    // vpn and relay protocol are stored at once.
    in.sqm->PushWebRTCStatsReport("", Report({{"local-candidate", Json{{"address", "10.0.0.1"},
                                                                        {"networkType", "wifi"},
                                                                        {"vpn", true},
                                                                        {"relayProtocol", "tls"}}}})
                                          .c_str());
    EXPECT_FALSE(in.impl().iceKnown);
    EXPECT_EQ("", ice.localAddress);
    EXPECT_EQ("", ice.localNetworkType);
    EXPECT_EQ("true", ice.localVpn);
    EXPECT_EQ("tls", ice.localRelayProtocol);

    // Two local candidates: the first one's address with the second one's type.
    in.sqm->PushWebRTCStatsReport(
        "", Report({{"local-candidate", Json{{"candidateType", "host"}, {"address", "10.0.0.1"}}},
                    {"local-candidate", Json{{"candidateType", "relay"}}}})
                .c_str());
    EXPECT_TRUE(in.impl().iceKnown);
    EXPECT_EQ("relay", ice.localCandidateType);
    EXPECT_EQ("10.0.0.1", ice.localAddress);

    // A remote candidate type alone is enough; a numeric port is kept as text.
    Intake remote;
    remote.sqm->PushWebRTCStatsReport(
        "", Report({{"remote-candidate", Json{{"candidateType", "srflx"}, {"port", 5000}}}}).c_str());
    EXPECT_TRUE(remote.impl().iceKnown);
    EXPECT_EQ("srflx", remote.impl().ice.remoteCandidateType);
    EXPECT_EQ("5000", remote.impl().ice.remotePort);
    // A later report without candidates changes nothing.
    remote.sqm->PushWebRTCStatsReport("", Report({{"transport", Json{{"bytesSent", 1}}}}).c_str());
    EXPECT_EQ("srflx", remote.impl().ice.remoteCandidateType);
}

TEST(SqmIntake, CodecsTargetBitrateAndTrackedMembers) {
    Intake in;
    in.sqm->PushWebRTCStatsReport(
        "", Report({{"codec", Json{{"mimeType", " Video/H264 "}, {"clockRate", 90000}, {"sdpFmtpLine", "a=1"}}},
                    {"codec", Json{{"mimeType", "video/VP9"}, {"clockRate", 90001}}},
                    {"codec", Json{{"mimeType", "audio/opus"}, {"clockRate", 48000}}},
                    {"codec", Json{{"clockRate", 1234}}},
                    {"outbound-rtp", Json{{"kind", "audio"}, {"targetBitrate", 32000}, {"packetsSent", 7}}},
                    {"outbound-rtp", Json{{"kind", "Video"}, {"targetBitrate", 1}}},
                    {"", Json{{"framesSent", " 42 "}, {"unknownName", 1}, {"scalabilityMode", ""}}}})
                .c_str());
    auto& s = in.impl().session;
    // Later video codec wins per member; the text is trimmed, not lower-cased.
    EXPECT_EQ("video/VP9", s.videoCodec["mimeType"]);
    EXPECT_EQ("90001", s.videoCodec["clockRate"]);
    EXPECT_EQ("a=1", s.videoCodec["sdpFmtpLine"]);
    EXPECT_EQ("audio/opus", s.otherCodec["mimeType"]);
    // A codec entry without a MIME type still feeds the tracked statistics.
    EXPECT_EQ("1234", in.Stat("clockRate"));
    EXPECT_EQ("<absent>", in.Stat("targetBitrate"));
    EXPECT_EQ("7", in.Stat("packetsSent"));
    EXPECT_EQ("42", in.Stat("framesSent"));
    EXPECT_EQ("<absent>", in.Stat("unknownName"));
    EXPECT_EQ("", in.Stat("scalabilityMode"));

    in.sqm->PushWebRTCStatsReport("", Report({{"outbound-rtp", Json{{"kind", "video"}, {"targetBitrate", 2.5e6}}}})
                                          .c_str());
    EXPECT_EQ("2500000.0", in.Stat("targetBitrate"));
}

TEST(SqmIntake, MalformedReportsAreIgnoredOrLogged) {
    Intake in;
    const std::string before = Report({{"outbound-rtp", Json{{"framesSent", 5}}}});
    in.sqm->PushWebRTCStatsReport("p", before.c_str());
    for (const char* text : {"{\"stats\": 5}", "[1,2]", "{}", "{\"stats\":[1,\"x\",{\"type\":5,\"members\":[]}]}"}) {
        in.sqm->PushWebRTCStatsReport(nullptr, text);
    }
    in.sqm->PushWebRTCStatsReport(nullptr, nullptr);
    in.sqm->PushWebRTCStatsReport("", "");
    EXPECT_EQ(0, in.host.CountLogs(1, "[TesselSDK::SQM] Failed to parse StatsJson"));
    in.sqm->PushWebRTCStatsReport("q", "{\"stats\": [ /* comment */ ]}");
    in.sqm->PushWebRTCStatsReport("q", "{\"stats\": [{\"type\":\"outbound-rtp\",\"members\":{\"framesSent\":9}}");
    EXPECT_EQ(2, in.host.CountLogs(1, "[TesselSDK::SQM] Failed to parse StatsJson"));
    EXPECT_EQ("5", in.Stat("framesSent"));
    EXPECT_EQ("q", in.impl().session.peerId);
}
