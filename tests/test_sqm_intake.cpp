#include <gtest/gtest.h>
#include <pthread.h>

#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>

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

// Everything the intake keeps, one fact per line, values as JSON strings.
std::string KeptFacts(Intake& in) {
    auto& impl = in.impl();
    std::string out;
    auto put = [&out](const std::string& what, const std::string& value) {
        out += what + " " + Json(value).dump() + "\n";
    };
    const std::pair<const char*, const std::unordered_map<std::string, std::string>*> maps[] = {
        {"stat", &impl.session.latestStats}, {"video", &impl.session.videoCodec}, {"other", &impl.session.otherCodec}};
    for (const auto& m : maps) {
        for (const auto& kv : std::map<std::string, std::string>(m.second->begin(), m.second->end())) {
            put(std::string(m.first) + " " + kv.first, kv.second);
        }
    }
    const auto& ice = impl.ice;
    const std::pair<const char*, const std::string*> iceFields[] = {
        {"localCandidateType", &ice.localCandidateType}, {"localAddress", &ice.localAddress},
        {"localVpn", &ice.localVpn},                     {"remoteCandidateType", &ice.remoteCandidateType},
        {"remoteAddress", &ice.remoteAddress},           {"remotePort", &ice.remotePort},
        {"remoteProtocol", &ice.remoteProtocol},         {"localNetworkType", &ice.localNetworkType},
        {"localRelayProtocol", &ice.localRelayProtocol}, {"remoteRelayProtocol", &ice.remoteRelayProtocol}};
    for (const auto& f : iceFields) {
        if (!f.second->empty()) put(std::string("ice ") + f.first, *f.second);
    }
    out += impl.iceKnown ? "iceKnown\n" : "";
    std::lock_guard<std::mutex> lock(in.host.m);
    for (const auto& l : in.host.logs) put("log " + std::to_string(l.first), l.second);
    return out;
}

// Reports that each go to a fresh collector, pushed in turn. Damaged and odd
// documents: duplicate keys, members before type, nested and escaped values,
// number forms, roots and entries of the wrong kind.
const std::vector<std::vector<std::string>>& OddReports() {
    static const std::vector<std::vector<std::string>> cases = {
        {SettledReport(), SettledReport(301, 9001)},
        {Report({{"local-candidate", Json{{"address", "10.0.0.1"}, {"networkType", "wifi"}, {"vpn", true},
                                           {"relayProtocol", "tls"}}}}),
         Report({{"local-candidate", Json{{"candidateType", "host"}, {"address", "10.0.0.1"}}},
                 {"local-candidate", Json{{"candidateType", "relay"}}}})},
        {Report({{"remote-candidate", Json{{"candidateType", "srflx"}, {"port", 5000}}}}),
         Report({{"transport", Json{{"bytesSent", 1}}}})},
        {Report({{"codec", Json{{"mimeType", " Video/H264 "}, {"clockRate", 90000}, {"sdpFmtpLine", "a=1"}}},
                 {"codec", Json{{"mimeType", "video/VP9"}, {"clockRate", 90001}}},
                 {"codec", Json{{"mimeType", "audio/opus"}, {"clockRate", 48000}}},
                 {"codec", Json{{"clockRate", 1234}}},
                 {"outbound-rtp", Json{{"kind", "audio"}, {"targetBitrate", 32000}, {"packetsSent", 7}}},
                 {"outbound-rtp", Json{{"kind", "Video"}, {"targetBitrate", 1}}},
                 {"", Json{{"framesSent", " 42 "}, {"unknownName", 1}, {"scalabilityMode", ""}}}}),
         Report({{"outbound-rtp", Json{{"kind", "video"}, {"targetBitrate", 2.5e6}}}})},
        {Report({{"outbound-rtp", Json{{"framesSent", 5}}}}), R"({"stats": 5})", "[1,2]", "{}",
         R"({"stats":[1,"x",{"type":5,"members":[]}]})", "", R"({"stats": [ /* comment */ ]})",
         R"({"stats": [{"type":"outbound-rtp","members":{"framesSent":9}})",
         R"({"stats":[{"type":"codec","members":7}]})",
         "\xff\xfe garbage", "   ", "null", "\"text\"", "5", R"({"stats":[]} x)",
         R"({"stats":[{"members":{"qpSum":1e999}}]})",
         R"({"stats":[{"members":{"qpSum":"a)" "\x80" R"("}}]})"},
        // Members before type; the last of duplicate keys counts, at every level.
        {R"({"stats":[{"members":{"candidateType":"relay","address":"1.1.1.1","networkType":"vpn"},
            "type":"local-candidate"},
            {"type":"codec","members":{"mimeType":"video/A","clockRate":1},"type":5},
            {"type":"codec","members":{"mimeType":"video/B","clockRate":2,"sdpFmtpLine":"x"},"members":{"clockRate":3}},
            {"type":"remote-candidate","members":{"candidateType":"prflx","port":9},"members":null},
            {"type":"codec","members":{"mimeType":"video/C","mimeType":"audio/D","clockRate":4,"clockRate":5}},
            {"type":"outbound-rtp","members":{"kind":"video","targetBitrate":6,"kind":5}},
            {"type":"outbound-rtp","members":{"kind":"video","targetBitrate":{"a":7},"kind":"video "}},
            {"type":"outbound-rtp","members":{"targetBitrate":"  8 ","kind":"video","kind":"video"}},
            {"type":"x","members":{"bytesSent":1,"bytesSent":2,"packetsSent":3},"type":"y"}]})"},
        {R"({"stats":[{"type":"x","members":{"bytesSent":1}}],"other":{"stats":[]},"stats":[{"type":"x",
            "members":{"packetsSent":2}}]})",
         R"({"stats":[{"type":"x","members":{"jitter":1}}],"stats":{"a":[{"type":"x","members":{"qpSum":1}}]}})",
         R"({"stats":[{"type":"x","members":{"firCount":1}}],"stats":null})"},
        // Values that are not strings keep the compact text of the whole value.
        {R"({"stats":[{"type":"local-candidate","members":{"candidateType":{"a":[1,{}]},"vpn":[true, false],
            "relayProtocol":null,"address":"","networkType":[]}},
            {"type":"remote-candidate","members":{"candidateType":" host ","address":{},"port":5000.0,"protocol":false,
            "relayProtocol":{"k":"v"}}},
            {"type":"codec","members":{"mimeType":5,"clockRate":[90000],"sdpFmtpLine":{"a":1}}},
            {"type":"codec","members":{"mimeType":"VIDEO/\u00e9","clockRate":"\t 1 \n"}},
            {"type":"",
            "members":{"qualityLimitationDurations":{"b":[1,2.50,
            {"x":"a\"b\\c\n\t\u0001\u001f\u007f/\u00e9\u2603\ud83d\ude00"}],
              "b2":{},"b3":[],"dup":1,"z":true,"dup":[null,false],"e":{"k":1,"k":{"m":2,"m":3,"n":4},"j":5},
            "\u0000k\r":-0}}},
            {"type":"","members":{"mime\u0054ype":"video/Z","bytes\u0000Sent":1,
            "powerEfficientEncoder":)" + std::string(60, '[') + "1" +
             std::string(60, ']') + "}}]}"},
        {R"({"stats":[{"type":"t","members":{"bytesSent":-0,"bytesReceived":1.0,"packetsSent":1E2,
            "packetsReceived":1e-7,
            "packetsLost":0.1,"framesSent":123456789012345678901234567890,"framesReceived":18446744073709551615,
            "framesEncoded":18446744073709551616,"framesDecoded":-9223372036854775808,
            "framesDropped":-9223372036854775809,
            "frameWidth":9114756780654345000,"frameHeight":1.7976931348623157e308,"framesPerSecond":5e-324,
            "jitter":2.5e6,"roundTripTime":100000000000000000000.0,"currentRoundTripTime":1e16,
            "availableOutgoingBitrate":1e15,"availableIncomingBitrate":0.0001,"qpSum":0.00001,
            "totalEncodeTime":-1.5e-300,
            "totalPacketSendDelay":0.30000000000000004,"firCount":123.456e2,"pliCount":-0.0,
            "nackCount":9007199254740993,
            "sliCount":true,"retransmittedBytesSent":null,"messagesSent":"\ufeff1","messagesReceived":"\u00a01"}}]})"},
        {"\xEF\xBB\xBF" R"({"stats":[{"type":"t","members":{"bytesSent":3}}]})"},
    };
    return cases;
}

std::string GoldenPath() {
    std::string here = __FILE__;
    return here.substr(0, here.find_last_of("/\\") + 1) + "data/intake_golden.txt";
}

}  // namespace

// What the intake keeps from real reports and from odd ones, against the
// record in data/intake_golden.txt (TESSELSDK_WRITE_GOLDEN=1 rewrites it).
TEST(SqmIntake, KeepsWhatTheGoldenRecordSays) {
    std::string facts;
    auto real = [](const char* name) { return testsupport::ReadFile(DataDir() + "/" + name); };
    const std::pair<const char*, std::vector<const char*>> realCases[] = {
        {"report-0001", {"report-0001.json"}},
        {"report-0020", {"report-0020.json"}},
        {"reports in turn", {"report-0001.json", "report-0002.json", "report-0003.json", "report-0020.json"}}};
    for (const auto& c : realCases) {
        Intake in;
        for (const char* file : c.second) {
            const std::string text = real(file);
            ASSERT_FALSE(text.empty()) << file;
            in.Push(text, "p");
        }
        facts += std::string("== ") + c.first + "\n" + KeptFacts(in);
    }
    int n = 0;
    for (const auto& reports : OddReports()) {
        Intake in;
        for (const auto& text : reports) in.Push(text, "p");
        facts += "== odd " + std::to_string(++n) + "\n" + KeptFacts(in);
    }
    if (std::getenv("TESSELSDK_WRITE_GOLDEN") != nullptr) {
        std::ofstream(GoldenPath(), std::ios::binary) << facts;
    }
    const std::string golden = testsupport::ReadFile(GoldenPath());
    ASSERT_FALSE(golden.empty()) << GoldenPath();
    EXPECT_EQ(golden, facts);
}

TEST(SqmIntake, RealReportsKeepCodecsCandidatesAndVideoCounters) {
    Intake in;
    std::string last;
    const auto lines = testsupport::ReadLines(DataDir() + "/sequence.jsonl");
    ASSERT_GE(lines.size(), 20u);
    for (std::size_t n = 0; n < 20; ++n) {
        last = lines[n];
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

// Runs fn on a thread with a 1 MB stack, the Windows default.
void OnSmallStack(std::function<void()> fn) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, 1 << 20);
    pthread_t thread;
    const int created = pthread_create(
        &thread, &attr, [](void* f) -> void* { return (*static_cast<std::function<void()>*>(f))(), nullptr; }, &fn);
    pthread_attr_destroy(&attr);
    ASSERT_EQ(0, created);
    pthread_join(thread, nullptr);
}

TEST(SqmIntake, DeeplyNestedReportsAreRefusedAsUnreadable) {
    auto nested = [](const std::string& head, std::size_t levels, const std::string& open, const std::string& close,
                     const std::string& tail) {
        std::string text = head;
        for (std::size_t i = 0; i < levels; ++i) text += open;
        text += "1";
        for (std::size_t i = 0; i < levels; ++i) text += close;
        return text + tail;
    };
    const std::string member = R"({"stats":[{"type":"t","members":{"bytesSent":2,"qualityLimitationDurations":)";
    const struct { std::string report; bool kept; } cases[] = {
        {nested("", 100000, "[", "]", ""), false},
        {nested("", 100000, "{\"a\":", "}", ""), false},
        {nested(member, 100000, "[", "]", "}}]}"), false},
        {nested(member, 100000, "{\"cpu\":", "}", "}}]}"), false},
        {nested(member, 61, "[", "]", "}}]}"), false},  // one level too deep
        {nested(member, 60, "[", "]", "}}]}"), true},
    };
    for (const auto& c : cases) {
        Intake in;
        OnSmallStack([&] { in.Push(c.report); });
        EXPECT_EQ(c.kept ? "2" : "<absent>", in.Stat("bytesSent")) << c.report.substr(0, 80);
        EXPECT_EQ(c.kept ? 0 : 1, in.host.CountLogs(1, "[TesselSDK::SQM] Failed to parse StatsJson"));
    }
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
