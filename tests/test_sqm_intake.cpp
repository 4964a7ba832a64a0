#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>

#include "sqm/sqm_text.h"
#include "sqm_test_host.h"

using namespace sqmtest;
using TesselSDK::SqmTestAccess;

namespace {

// Pushes with metrics off, so only the intake runs.
struct Intake {
    FakeHost host;
    std::unique_ptr<TesselSDK::SQM> sqm = MakeCollector(host, TesselSDK::SqmConfig());
    void Push(const std::string& report, const char* player = "") { sqm->PushWebRTCStatsReport(player, report.c_str()); }
    auto& impl() { return SqmTestAccess::Impl(*sqm); }
    std::string Stat(const std::string& name) {
        auto it = impl().session.latestStats.find(name);
        return it == impl().session.latestStats.end() ? "<absent>" : it->second;
    }
};

}  // namespace

TEST(SqmIntake, RealReportsKeepCodecsCandidatesAndVideoCounters) {
    Intake in;
    std::string last;
    for (int n = 1; n <= 20; ++n) {
        last = testsupport::ReadFile(DataDir() + "/report-00" + (n < 10 ? "0" : "") + std::to_string(n) + ".json");
        ASSERT_FALSE(last.empty()) << "missing report " << n;
        in.Push(last, "player-1");
    }
    auto& s = in.impl().session;
    // Every negotiated payload type is listed; the last of each kind stays, and
    // a member the last one lacks keeps the earlier value.
    EXPECT_EQ((std::unordered_map<std::string, std::string>{
                  {"mimeType", "video/rtx"}, {"clockRate", "90000"}, {"sdpFmtpLine", "apt=98"}}),
              s.videoCodec);
    EXPECT_EQ((std::unordered_map<std::string, std::string>{
                  {"mimeType", "audio/G722"}, {"clockRate", "8000"}, {"sdpFmtpLine", "111/111"}}),
              s.otherCodec);
    const auto& ice = in.impl().ice;
    EXPECT_TRUE(in.impl().iceKnown);
    EXPECT_EQ("host/::1/unknown/false/", ice.localCandidateType + "/" + ice.localAddress + "/" +
                                             ice.localNetworkType + "/" + ice.localVpn + "/" + ice.localRelayProtocol);
    EXPECT_EQ("host/127.0.0.1/udp", ice.remoteCandidateType + "/" + ice.remoteAddress + "/" + ice.remoteProtocol);
    const Json lastReport = Json::parse(last);
    for (const auto& e : lastReport["stats"]) {
        if (e["type"] == "remote-candidate") {
            EXPECT_EQ(e["members"]["port"].dump(), ice.remotePort);
        }
    }
    EXPECT_EQ("591", in.Stat("framesEncoded"));
    EXPECT_EQ("29248", in.Stat("qpSum"));
    EXPECT_EQ("libvpx", in.Stat("encoderImplementation"));
    EXPECT_EQ(R"({"bandwidth":19.988,"cpu":0,"none":0.031,"other":0})", in.Stat("qualityLimitationDurations"));
    EXPECT_EQ("<absent>", in.Stat("targetBitrate"));  // only audio carries one here
    EXPECT_EQ("player-1", s.peerId);
    EXPECT_TRUE(in.host.Posts().empty());
    EXPECT_EQ(0, in.host.CountLogs(1, ""));
}

TEST(SqmIntake, CandidateFactsFollowTheCandidateTypeRule) {
    Intake in;
    auto& ice = in.impl().ice;
    // Address and network type without a candidate type are not stored; vpn
    // and relay protocol are stored at once.
    in.Push(Report({{"local-candidate", Json{{"address", "10.0.0.1"}, {"networkType", "wifi"}, {"vpn", true},
                                             {"relayProtocol", "tls"}}}}));
    EXPECT_FALSE(in.impl().iceKnown);
    EXPECT_EQ("//true/tls", ice.localAddress + "/" + ice.localNetworkType + "/" + ice.localVpn + "/" +
                                ice.localRelayProtocol);
    // Two local candidates: the first one's address with the second one's type.
    in.Push(Report({{"local-candidate", Json{{"candidateType", "host"}, {"address", "10.0.0.1"}}},
                    {"local-candidate", Json{{"candidateType", "relay"}}}}));
    EXPECT_TRUE(in.impl().iceKnown);
    EXPECT_EQ("relay", ice.localCandidateType);
    EXPECT_EQ("10.0.0.1", ice.localAddress);

    // A remote candidate type alone is enough; a numeric port is kept as text.
    Intake remote;
    remote.Push(Report({{"remote-candidate", Json{{"candidateType", "srflx"}, {"port", 5000}}}}));
    EXPECT_TRUE(remote.impl().iceKnown);
    EXPECT_EQ("5000", remote.impl().ice.remotePort);
    remote.Push(Report({{"transport", Json{{"bytesSent", 1}}}}));  // no candidates: nothing changes
    EXPECT_EQ("srflx", remote.impl().ice.remoteCandidateType);
}

TEST(SqmIntake, CodecsTargetBitrateAndTrackedMembers) {
    Intake in;
    in.Push(Report({{"codec", Json{{"mimeType", " Video/H264 "}, {"clockRate", 90000}, {"sdpFmtpLine", "a=1"}}},
                    {"codec", Json{{"mimeType", "video/VP9"}, {"clockRate", 90001}}},
                    {"codec", Json{{"mimeType", "audio/opus"}, {"clockRate", 48000}}},
                    {"codec", Json{{"clockRate", 1234}}},
                    {"outbound-rtp", Json{{"kind", "audio"}, {"targetBitrate", 32000}, {"packetsSent", 7}}},
                    {"outbound-rtp", Json{{"kind", "Video"}, {"targetBitrate", 1}}},
                    {"", Json{{"framesSent", " 42 "}, {"unknownName", 1}, {"scalabilityMode", ""}}}}));
    auto& s = in.impl().session;
    // The later video codec wins member by member; texts are trimmed, not lower-cased.
    EXPECT_EQ("video/VP9|90001|a=1", s.videoCodec["mimeType"] + "|" + s.videoCodec["clockRate"] + "|" +
                                         s.videoCodec["sdpFmtpLine"]);
    EXPECT_EQ("audio/opus", s.otherCodec["mimeType"]);
    EXPECT_EQ("1234", in.Stat("clockRate"));  // a codec without MIME type still feeds the statistics
    EXPECT_EQ("<absent>", in.Stat("targetBitrate"));
    EXPECT_EQ("7", in.Stat("packetsSent"));
    EXPECT_EQ("42", in.Stat("framesSent"));
    EXPECT_EQ("<absent>", in.Stat("unknownName"));
    EXPECT_EQ("", in.Stat("scalabilityMode"));
    in.Push(Report({{"outbound-rtp", Json{{"kind", "video"}, {"targetBitrate", 2.5e6}}}}));
    EXPECT_EQ("2500000.0", in.Stat("targetBitrate"));
}

TEST(SqmIntake, MalformedReportsAreIgnoredOrLogged) {
    Intake in;
    in.Push(Report({{"outbound-rtp", Json{{"framesSent", 5}}}}), "p");
    for (const char* text : {"{\"stats\": 5}", "[1,2]", "{}", "{\"stats\":[1,\"x\",{\"type\":5,\"members\":[]}]}", ""}) {
        in.Push(text);
    }
    in.sqm->PushWebRTCStatsReport(nullptr, nullptr);
    EXPECT_EQ(0, in.host.CountLogs(1, ""));
    in.Push("{\"stats\": [ /* comment */ ]}", "q");
    in.Push("{\"stats\": [{\"type\":\"outbound-rtp\",\"members\":{\"framesSent\":9}}");
    EXPECT_EQ(2, in.host.CountLogs(1, "[TesselSDK::SQM] Failed to parse StatsJson"));
    EXPECT_EQ("5", in.Stat("framesSent"));
    EXPECT_EQ("q", in.impl().session.peerId);
}

TEST(SqmText, TrimAndNumbersFromTheFrontOfTheText) {
    EXPECT_EQ("a b", TesselSDK::TrimWhitespace(" \t\r\n\v\fa b \t\n"));
    EXPECT_EQ("\xC3\xA9", TesselSDK::TrimWhitespace(" \xC3\xA9 "));  // bytes above 0x7F are not blanks

    // Failures leave the output untouched.
    const struct { const char* text; bool ok; long long value; } ints[] = {
        {"  42", true, 42}, {"12.9", true, 12}, {"+7x", true, 7}, {"-9223372036854775808", true, INT64_MIN},
        {"abc", false, 5}, {"", false, 5},   {"+-1", false, 5}, {"9223372036854775808", false, 5}};
    for (const auto& c : ints) {
        long long v = 5;
        EXPECT_EQ(c.ok, TesselSDK::TryParseInt64(c.text, v)) << c.text;
        EXPECT_EQ(c.value, v) << c.text;
    }
    const struct { const char* text; bool ok; double value; } doubles[] = {
        {" 0.012", true, 0.012}, {"1e3ms", true, 1000.0}, {"-2.5", true, -2.5},
        {"\"1.5\"", false, 3.0}, {"true", false, 3.0},    {"1e999", false, 3.0}};
    for (const auto& c : doubles) {
        double v = 3.0;
        EXPECT_EQ(c.ok, TesselSDK::TryParseDouble(c.text, v)) << c.text;
        EXPECT_DOUBLE_EQ(c.value, v) << c.text;
    }
}

TEST(SqmText, ParsingIgnoresTheProcessLocale) {
    // A host that switched to a comma-decimal locale must not change readings.
    bool switched = false;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "German_Germany.1252", "de-DE"}) {
        if ((switched = std::setlocale(LC_ALL, name) != nullptr)) break;
    }
    if (!switched) GTEST_SKIP() << "no comma-decimal locale installed";
    double d = 0;
    EXPECT_TRUE(TesselSDK::TryParseDouble("12.5", d));
    EXPECT_DOUBLE_EQ(12.5, d);
    EXPECT_TRUE(TesselSDK::TryParseDouble("12,5", d));
    EXPECT_DOUBLE_EQ(12.0, d);
    std::setlocale(LC_ALL, "C");
}
