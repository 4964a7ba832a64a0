// The quality-metrics collector: config, geolocation, intake, records, sessions, upload.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <map>
#include <numeric>
#include <thread>

#include "gunzip.h"
#include "net/http_client.h"
#include "sqm/sqm_config.h"
#include "sqm/sqm_impl.h"
#include "sqm/sqm_text.h"
#include "tesselsdk_endpoints.h"
#include "test_support.h"

namespace TesselSDK {
struct SqmTestAccess {  // the collector's private state and builders
    static SQM::SqmImpl& Impl(SQM& sqm) { return *sqm.impl; }
    static void Post(SQM& sqm, const char* name, const std::string& body) {
        sqm.PostMetrics(name, body, sqm.BuildRequestHeaders(""), 0, nullptr);
    }
};
}  // namespace TesselSDK

namespace {

using Json = nlohmann::ordered_json;
using TesselSDK::SQM;
using Access = TesselSDK::SqmTestAccess;
using Done = std::function<void(int, const std::string&)>;
using testsupport::Gunzip;
using testsupport::WaitUntil;

// A platform whose clocks the tests move (wall and steady together), whose POST keeps the
// inflated bodies and answers from a script (then 200), and whose log keeps every line.
struct FakeHost {
    std::mutex m;
    long long nowMs = 1'800'000'000'000LL;
    TesselSDK::SteadyTime steady = TesselSDK::SteadyTime{} + std::chrono::hours(100);
    std::vector<std::pair<int, std::string>> logs;
    std::vector<std::string> posts;
    std::deque<int> script;
    int geoStatus = 200, geoCount = 0;
    std::string geoBody = R"({"status":"success","countryCode":"KR","city":"Seoul","isp":"Test ISP"})", geoUrl;

    template <typename F>
    auto Locked(F f) {
        std::lock_guard<std::mutex> lock(m);
        return f();
    }
    void AdvanceMs(long long ms) { Locked([&] { nowMs += ms, steady += std::chrono::milliseconds(ms); }); }
    long long Now() { return Locked([&] { return nowMs; }); }
    std::vector<std::string> Posts() { return Locked([&] { return posts; }); }
    Json Record(std::size_t i) { return Json::parse(Posts().at(i)); }
    int CountLogs(int level, const std::string& part) {
        return Locked([&] {
            return static_cast<int>(std::count_if(logs.begin(), logs.end(), [&](const std::pair<int, std::string>& l) {
                return l.first == level && l.second.find(part) != std::string::npos;
            }));
        });
    }
    TesselSDK::SqmCallbacks Callbacks() {
        auto text = [](const char* value) { return [value] { return std::string(value); }; };
        auto number = [](float value) { return [value] { return value; }; };
        return TesselSDK::SqmCallbacks{  // in the order of the table's members
            [this](int level, const char* line) { Locked([&] { logs.emplace_back(level, line); }); },
            [this](const std::string& url, Done done) {
                const auto answer =
                    Locked([&] { return geoUrl = url, ++geoCount, std::make_pair(geoStatus, geoBody); });
                done(answer.first, answer.second);
            },
            [this](const std::string&, const std::string& body, const TesselSDK::HttpHeaders&, Done done) {
                const int status = Locked([&] {
                    posts.push_back(Gunzip(body));
                    const int next = script.empty() ? 200 : script.front();
                    if (!script.empty()) script.pop_front();
                    return next;
                });
                // A failure's body holds a NUL: the log line shows it whole.
                done(status, status == 200 ? std::string("{\"result\":\"ok\"}") : std::string("no\0pe", 5));
            },
            [](const char* name) { return std::string(name) == "game_id" ? "GAME_KR" : ""; },
            [this] { return Now(); }, text("+09:00"),
            number(33.3f), number(0.0f), number(-1.0f),  // cpu, gpu and battery load
            text("10.0.22631"), text("Test CPU"), number(15.9f), number(8.0f), text("Model X"), text("Desktop"),
            [](int& w, int& h) { w = 2560, h = 1440; },
            [](std::string& name, int& encoder) { name = "Test GPU", encoder = 1; },
            [](int& mn, int& mx, int& fps) { return mn = 10000000, mx = 20000000, fps = 60, true; }, text("tok")};
    }
};

TesselSDK::SqmConfig Enabled(int collect = 5, int delay = 60, int batch = 30, const std::string& api = "") {
    return TesselSDK::SqmConfig{true, api, collect, delay, batch};
}

// A collector wired to the fake host; its retries wait no time.
std::unique_ptr<SQM> MakeCollector(FakeHost& host, const TesselSDK::SqmConfig& config = Enabled(),
                                   const TesselSDK::SqmCallbacks* callbacks = nullptr) {
    auto sqm = std::make_unique<SQM>();
    sqm->SetHostCallbacks(callbacks != nullptr ? *callbacks : host.Callbacks(), "1.2.3", 7);
    sqm->SetStreamerId("M1-7-1700");
    sqm->SetConfig(config);
    sqm->SetSteadyClockForTesting([&host] { return host.Locked([&] { return host.steady; }); });
    sqm->SetRetryWaitForTesting([](std::chrono::milliseconds) { return std::chrono::milliseconds(0); });
    return sqm;
}

// {"stats":[{"type":t,"members":m}, ...]}
std::string Report(const std::vector<std::pair<std::string, Json>>& entries) {
    Json stats = Json::array();
    for (const auto& e : entries) stats.push_back(Json{{"type", e.first}, {"members", e.second}});
    return Json{{"stats", stats}}.dump();
}

// Both codecs, both candidates and encoder counters.
const std::string kSettled = R"({"stats":[{"type":"codec","members":{"mimeType":"video/VP8","clockRate":90000}},
  {"type":"codec","members":{"mimeType":"audio/opus","clockRate":48000,"sdpFmtpLine":"minptime=10;useinbandfec=1"}},
  {"type":"local-candidate","members":{"candidateType":"host","address":"10.0.0.2","networkType":"ethernet",
  "vpn":false}},{"type":"remote-candidate","members":{"candidateType":"srflx","address":"1.2.3.4","port":5000,
  "protocol":"udp"}},{"type":"outbound-rtp","members":{"kind":"video","framesEncoded":30,"qpSum":100,"frameWidth":1920,
  "targetBitrate":2500000}}]})";

void PushReports(FakeHost& host, SQM& sqm, int count, long long stepMs = 1000, const std::string& report = kSettled) {
    for (int i = 0; i < count; ++i) {
        host.AdvanceMs(stepMs);
        sqm.PushWebRTCStatsReport("p1", report.c_str());
    }
}

std::string GoldenPath(const std::string& name) {
    const std::string here = __FILE__;
    return here.substr(0, here.find_last_of("/\\") + 1) + "data/" + name;
}

// Compares text (by default every record the host was posted, one a line) with a file under
// data/; TESSELSDK_WRITE_GOLDEN=1 rewrites the file.
void ExpectGolden(const std::string& name, FakeHost* host, std::string text = "") {
    for (const auto& p : host ? host->Posts() : std::vector<std::string>()) text += p + "\n";
    if (std::getenv("TESSELSDK_WRITE_GOLDEN") != nullptr) std::ofstream(GoldenPath(name), std::ios::binary) << text;
    EXPECT_EQ(testsupport::ReadFile(GoldenPath(name)), text) << name;
}

long long MsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

// A host and its collector, metrics on.
struct Sqm : ::testing::Test {
    FakeHost host;
    std::unique_ptr<SQM> sqm = MakeCollector(host);
};
using SlowSqm = Sqm;

}  // namespace

TEST(SqmConfig, GameSelectionIntervalsClampAndBadValues) {
    auto parse = [](const std::string& section, const std::string& gameId = "G") {
        return TesselSDK::ParseSqmConfig(Json::parse("{\"virivizar_sqm\": " + section + "}"), gameId);
    };
    const std::string games = R"({"metric_collect_interval_s": 4, "api": {"us": "x", "kr": "kr.example"}, "games": {
    "ABC_KR": {"enabled":true,"metric_collect_interval_s":1}, "ABC": {"enabled":true,"metric_collect_interval_s":2},
    "x": {"enabled":true,"metric_collect_interval_s":3}, "XYZLONG": {"enabled":true,"metric_collect_interval_s":9},
    "lower": {"enabled":true,"metric_collect_interval_s":7}, "OFF": {"enabled":false,"metric_collect_interval_s":2},
    "NUM": 1, "EMPTY": {}}})";
    // The id upper-cased, its base before '_' or '-', then the first key (in order) that begins it.
    const struct { const char* gameId; bool enabled; int collect; } cases[] = {
        {"abc_kr", true, 1}, {"abc_jp", true, 2}, {"ABC-JP", true, 2}, {"XYZLONGER", true, 3}, {"lower", true, 7},
        {"OFF", false, 4},   {"NUM", false, 4},   {"EMPTY", false, 4}, {"QQQ", false, 4},      {"", false, 4}};
    for (const auto& c : cases) {
        const auto config = parse(games, c.gameId);
        EXPECT_EQ(c.enabled * 100 + c.collect, config.enabled * 100 + config.metric_collect_interval_s) << c.gameId;
        EXPECT_EQ("kr.example", config.api);
    }
    EXPECT_EQ("m.example", parse(R"({"api": "m.example", "games": 5})").api);
    const auto c = parse(R"({"api": {"kr": 5}, "games": {"G": {"enabled": true, "start_streaming_push_delay_s": 7.9,
        "metric_collect_interval_s": 40, "during_streaming_push_interval_s": -2147483648}}})");
    EXPECT_EQ("7 " + std::to_string(INT32_MIN) + " ", std::to_string(c.start_streaming_push_delay_s) + " " +
                                                           std::to_string(c.metric_collect_interval_s) + " " + c.api);
    for (const char* bad : {R"({"games": {"G": {"enabled": "true"}}})", R"({"metric_collect_interval_s":"5"})"})
        EXPECT_THROW(parse(bad), std::exception) << bad;
    // Beyond 32 bits: never wrapped; it replaces nothing (the section's stays at the default, the game entry's
    // keeps the section's value), the rest read.
    const auto wide = parse(R"({"start_streaming_push_delay_s": 4294967356, "during_streaming_push_interval_s": 9,
        "metric_collect_interval_s": 3, "games": {"G": {"enabled": true, "metric_collect_interval_s": -1e12}}})");
    EXPECT_EQ("60 3 9 1", std::to_string(wide.start_streaming_push_delay_s) + " " +
                              std::to_string(wide.metric_collect_interval_s) + " " +
                              std::to_string(wide.during_streaming_push_interval_s) + " " + std::to_string(wide.enabled));
    // In the game's entry the WARN line names the value kept: the section's, else the default.
    const struct { const char* section; int kept; } kept[] = {{R"("start_streaming_push_delay_s": 7,)", 7}, {"", 60}};
    for (const auto& k : kept) {
        std::vector<std::string> warnings;
        const auto config = TesselSDK::ParseSqmConfig(
            Json::parse(std::string(R"({"virivizar_sqm": {)") + k.section +
                        R"("games": {"G": {"enabled": true, "start_streaming_push_delay_s": 4294967356}}}})"),
            "G", [&](const std::string& line) { warnings.push_back(line); });
        EXPECT_EQ(k.kept, config.start_streaming_push_delay_s) << k.section;
        EXPECT_EQ(std::vector<std::string>{"[TesselSDK::SQM] start_streaming_push_delay_s 4294967356 is out of "
                                           "range; " + std::to_string(k.kept) + " is kept."},
                  warnings);
    }
}

TEST(SqmText, NumbersAreReadFromTheFrontOfTheTextAndATextWithoutOneLeavesTheValue) {
    double d = 0;
    long long l = 0;
    int i = 0;
    EXPECT_TRUE(TesselSDK::TryParseDouble(" +2.5e1ms", d) && TesselSDK::TryParseInt64("\t-9223372036854775808 x", l) &&
                TesselSDK::TryParseInt32("2147483647.9", i));
    for (const char* bad : {"", " ", "x1", "+-1", "1e400"}) EXPECT_FALSE(TesselSDK::TryParseDouble(bad, d)) << bad;
    for (const char* bad : {"", "-", "9223372036854775808"}) EXPECT_FALSE(TesselSDK::TryParseInt64(bad, l)) << bad;
    for (const char* bad : {"", "2147483648", "-2147483649"}) EXPECT_FALSE(TesselSDK::TryParseInt32(bad, i)) << bad;
    EXPECT_EQ(25.0, d);
    EXPECT_EQ(INT64_MIN, l);
    EXPECT_EQ(INT32_MAX, i);
}

TEST_F(Sqm, GeoAnswerRulesAndAskedAtStartsUntilOneIsStored) {
    const struct { int status; const char* body; bool ready; const char* facts; } cases[] = {
        {200, R"({"status":"fail","message":"private range"})", true, "//"},
        {200, R"([1,2])", true, "//"},
        {200, R"({"countryCode":"JP","city":5,"isp":"x"})", false, "JP//"},  // stops at the bad member
        {200, "not json", false, "//"},
        {503, R"({"countryCode":"KR"})", false, "//"},
        {200, R"({"status":"success","countryCode":"KR","city":"Seoul","isp":"ISP"})", true, "KR/Seoul/ISP"}};
    auto& geo = Access::Impl(*sqm).geo;
    for (const auto& c : cases) {
        std::tie(host.geoStatus, host.geoBody, geo) = std::make_tuple(c.status, c.body, TesselSDK::SqmGeoInfo());
        sqm->OnStreamingStart("p", "");
        EXPECT_EQ(c.facts + std::string(c.ready ? " ready" : ""),
                  geo.countryCode + "/" + geo.city + "/" + geo.isp + (geo.ready ? " ready" : ""));
    }
    EXPECT_EQ(std::string(TESSELSDK_GEO_URL) + "/json?fields=status,countryCode,city,isp", host.geoUrl);
    sqm->OnStreamingStart("p", "");
    EXPECT_EQ(6, host.geoCount);  // never asked again once stored
}

namespace {

// A collector with metrics off, so only the intake runs.
struct Intake {
    FakeHost host;
    std::unique_ptr<SQM> sqm = MakeCollector(host, TesselSDK::SqmConfig());
    void Push(const std::string& report) { sqm->PushWebRTCStatsReport("p", report.c_str()); }

    // Everything the intake keeps, one fact per line, values as JSON strings.
    std::string KeptFacts() {
        auto& impl = Access::Impl(*sqm);
        std::string out;
        auto put = [&out](const std::string& what, const std::string& value) {
            out += what + " " + Json(value).dump() + "\n";
        };
        const auto& s = impl.session;
        const std::pair<const char*, const std::unordered_map<std::string, std::string>*> maps[] = {
            {"stat", &s.latestStats}, {"video", &s.videoCodec}, {"other", &s.otherCodec}};
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
        std::lock_guard<std::mutex> lock(host.m);
        for (const auto& l : host.logs) put("log " + std::to_string(l.first), l.second);
        return out;
    }
};

}  // namespace

// data/intake_golden.txt: cases ("== name") for fresh collectors, real reports ("< file") and odd
// ones ("> " and the bytes to the line's end: duplicate keys, members before type, values of every
// kind and number form, broken documents, invalid UTF-8), each followed by the facts kept.
TEST(SqmIntake, KeepsWhatTheGoldenRecordSays) {
    const auto lines = testsupport::ReadLines(GoldenPath("intake_golden.txt"));
    ASSERT_GT(lines.size(), 300u);
    std::string got;
    std::unique_ptr<Intake> in;
    for (const auto& line : lines) {
        const std::string head = line.substr(0, 2), rest = line.size() > 2 ? line.substr(2) : "";
        if (head != "==" && head != "< " && head != "> ") continue;  // a fact
        if (head == "==" && in) got += in->KeptFacts();
        if (head == "==") in = std::make_unique<Intake>();
        const std::string report =  // "< ": a real report, unpacked by the build
            head == "< " ? testsupport::ReadFile(std::getenv("TESSELSDK_TEST_DATA_DIR") + ("/" + rest)) : rest;
        EXPECT_FALSE(head == "< " && report.empty()) << rest;
        if (head != "==") in->Push(report);
        got += line + "\n";
    }
    if (in) got += in->KeptFacts();
    ExpectGolden("intake_golden.txt", nullptr, got);
}

TEST(SqmIntake, DeeplyNestedReportsAreRefusedOnASmallStack) {
    const std::string member = R"({"stats":[{"type":"t","members":{"bytesSent":2,"qualityLimitationDurations":)";
    const struct { std::string head, open, close, tail; std::size_t levels; } cases[] = {
        {"", "[", "]", "", 100000},         {"", "{\"a\":", "}", "", 100000},
        {member, "[", "]", "}}]}", 100000}, {member, "{\"cpu\":", "}", "}}]}", 100000},
        {member, "[", "]", "}}]}", 61},  // one level too deep
        {member, "[", "]", "}}]}", 60}};
    for (const auto& c : cases) {
        std::string text = c.head;
        for (std::size_t i = 0; i < c.levels; ++i) text += c.open;
        text += "1";
        for (std::size_t i = 0; i < c.levels; ++i) text += c.close;
        Intake in;
        testsupport::RunOnStackOf(1 << 20, [&] { in.Push(text + c.tail); });
        const bool kept = c.levels == 60;
        EXPECT_EQ(kept ? 1u : 0u, Access::Impl(*in.sqm).session.latestStats.count("bytesSent")) << c.levels;
        EXPECT_EQ(kept ? 0 : 1, in.host.CountLogs(1, "[TesselSDK::SQM] Failed to parse StatsJson"));
    }
}

// Records in data/records_golden.txt: a START with every provider (floats widened, qp = 100 / 30),
// samples of every statistic and odd duration texts; providers missing or giving invalid UTF-8
// (replaced, never thrown); clock rates and ports that are no 32-bit number; in any locale.
TEST_F(Sqm, ScriptedSessionsPostTheGoldenRecords) {
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "German_Germany.1252"}) {
        if (std::setlocale(LC_ALL, name) != nullptr) break;
    }
    sqm->SetConfig(Enabled(0, 0, 30));
    host.AdvanceMs(1000);
    sqm->MarkPlayerConnected();
    host.AdvanceMs(2000);
    sqm->OnStreamingStart("p1", "wifi");
    PushReports(host, *sqm, 1);
    PushReports(host, *sqm, 1, 1234, Report({{"outbound-rtp", Json{{"kind", "video"}, {"targetBitrate", 8}}},
                                             {"", Json::parse(R"({"framesEncoded":1,"totalEncodeTime":2.5,"qpSum":3,
        "keyFramesEncoded":4,"totalEncodedBytesTarget":5,"encoderImplementation":"libvpx","powerEfficientEncoder":"1",
        "scalabilityMode":"L1T1","framesPerSecond":5,"framesSent":6,"frameWidth":"1280.0","frameHeight":720,
        "hugeFramesSent":7,"qualityLimitationReason":"cpu","qualityLimitationResolutionChanges":9,
        "qualityLimitationDurations":{"cpu":1.5},"totalPacketSendDelay":0.25,"jitter":0.5,"retransmittedPacketsSent":10,
        "retransmittedBytesSent":11,"fractionLost":0.125,"nackCount":12,"pliCount":13,"firCount":14,
        "roundTripTime":"0.012","totalRoundTripTime":0.75,"roundTripTimeMeasurements":15,"bytesSent":16,
        "packetsSent":17,"packetsLost":"9223372036854775808","availableOutgoingBitrate":19})")}}));
    for (const char* durations : {"{bandwidth:0,cpu:1.5,none:30.25,other:0}", "{ none : 1 ,  cpu: 2}",
                                  R"({"cpu":"1.5","none":true,"other":[1],"bandwidth":2})", R"({"cpu": 1.5,)", "[1,2]",
                                  ""}) {
        PushReports(host, *sqm, 1, 1000, Report({{"", {{"powerEfficientEncoder", "yes"}, {"encoderImplementation", ""},
                                                       {"qualityLimitationDurations", durations}}}}));
    }
    sqm->OnStreamingEnd("p1", nullptr);
    auto callbacks = host.Callbacks();
    callbacks.bitrateConfigFn = [](int& a, int& b, int&) { return a = 1, b = 2, false; };
    callbacks.memoryCapacityFn = callbacks.gpuUsageFn = nullptr;
    callbacks.httpGetFn = nullptr;
    callbacks.envFn = nullptr;
    callbacks.screenSizeFn = nullptr;
    callbacks.cpuNameFn = [] { return std::string("CPU\xFF"); };
    callbacks.timeZoneFn = [] { return std::string("+09\xFF"); };
    auto bare = MakeCollector(host, Enabled(5, 0, 30), &callbacks);
    bare->OnStreamingStart("p2", "");  // no codec known (this report is invalid UTF-8 and refused): no START
    PushReports(host, *bare, 1, 1000, "{\"stats\":[{\"type\":\"codec\",\"members\":{\"mimeType\":\"a\xff\"}}]}");
    PushReports(host, *bare, 1, 1000,
                Report({{"codec", {{"mimeType", "audio/opus"}}},
                        {"local-candidate", {{"candidateType", "host"}, {"vpn", "TRUE"}}},
                        {"remote-candidate", {{"candidateType", "host"}}},
                        {"outbound-rtp", {{"kind", "video"}, {"framesEncoded", 2}, {"qpSum", -7}}}}));
    bare->OnStreamingEnd("p2", "");
    for (const char* text : {" 48k", "fast", "99999999999", ""}) {
        bare->OnStreamingStart("p3", "");
        PushReports(host, *bare, 1, 1000, Report({{"codec", {{"mimeType", "video/H264"}, {"clockRate", text}}},
                                                  {"remote-candidate", {{"candidateType", "relay"}, {"port", text}}}}));
    }
    ExpectGolden("records_golden.txt", &host);
    std::setlocale(LC_ALL, "C");
}

TEST_F(Sqm, TimelineStartBatchesAndEnd) {
    sqm->OnStreamingStart("p1", "wifi");
    auto push = [&](int seconds) { PushReports(host, *sqm, seconds); };
    // Codec and ICE are known from the first report, but START waits for the delay.
    push(59);
    EXPECT_TRUE(host.Posts().empty());
    EXPECT_EQ(11u, Access::Impl(*sqm).session.samples.size());  // t = 5, 10, ... 55
    push(1);                                                      // t = 60
    ASSERT_EQ(1u, host.Posts().size());
    // Batches every 30 s from the first sample after START (t = 65), the first with all samples.
    push(34);  // t = 94
    EXPECT_EQ(1u, host.Posts().size());
    push(1);  // t = 95
    ASSERT_EQ(2u, host.Posts().size());
    push(30);  // t = 125: later batches every 30 s with only their own samples
    ASSERT_EQ(3u, host.Posts().size());
    push(7);  // t = 132: sample 26 at t = 130, the END's own 27
    sqm->OnStreamingEnd("p1", nullptr);
    ASSERT_EQ(4u, host.Posts().size());
    // A second end posts nothing; nor does an end before START was due, nor that START later.
    sqm->OnStreamingEnd("p1", nullptr);
    EXPECT_EQ(1, host.CountLogs(0, "[TesselSDK::SQM] END before START sent"));
    sqm->OnStreamingStart("p1", "");
    push(20);
    sqm->OnStreamingEnd("p1", "");
    EXPECT_TRUE(Access::Impl(*sqm).session.samples.empty());
    push(60);
    ExpectGolden("timeline_golden.txt", &host);  // seq_no, timestamps, offsets, durations
}

TEST_F(Sqm, StatisticsBeforeAnyStartTwoStartsAndForeignEnds) {
    sqm->SetConfig(Enabled(5, 0, 30));
    auto& s = Access::Impl(*sqm).session;
    PushReports(host, *sqm, 12);  // samples before any start: unnumbered, never posted
    ASSERT_EQ(2u, s.samples.size());
    EXPECT_EQ(0, Json::parse(s.samples[1])["seq_no"]);
    sqm->OnStreamingStart("A", "");
    PushReports(host, *sqm, 11);  // START on the first report (nothing before), then two new samples
    ASSERT_EQ(1u, host.Posts().size());
    sqm->OnStreamingStart("B", "");
    PushReports(host, *sqm, 1, 1000, "");  // the first session's codec and ICE facts build B's START
    ASSERT_EQ(2u, host.Posts().size());
    sqm->OnStreamingEnd("C", nullptr);  // a player without a recorded start: no duration; A's start stays
    EXPECT_EQ(2u, Access::Impl(*sqm).startTimes.size());
    sqm->OnStreamingStart(nullptr, nullptr);  // a null player after the start times were cleared
    PushReports(host, *sqm, 1);
    sqm->ClearStartTimes();
    sqm->OnStreamingEnd(nullptr, nullptr);
    ExpectGolden("starts_golden.txt", &host);
    // A report names the player of the later records, by a one-letter name too; an empty or null one keeps it.
    for (const char* player : {"q", "", static_cast<const char*>(nullptr)}) {
        sqm->PushWebRTCStatsReport(player, kSettled.c_str());
    }
    EXPECT_EQ("q", s.peerId);
}

TEST_F(Sqm, DisabledOrClocklessCollectorBuildsNothing) {
    const long long t0 = host.Now();
    auto callbacks = host.Callbacks();
    callbacks.nowMsFn = nullptr;
    sqm->SetConfig(TesselSDK::SqmConfig());  // off
    auto noClock = MakeCollector(host, Enabled(), &callbacks);
    for (SQM* collector : {sqm.get(), noClock.get()}) {
        collector->OnStreamingStart("p", "");
        collector->MarkPlayerConnected();  // needs only the clock
        PushReports(host, *collector, 70);
        collector->OnStreamingEnd("p", "");
        EXPECT_TRUE(Access::Impl(*collector).startTimes.empty());
        EXPECT_TRUE(Access::Impl(*collector).iceKnown);  // the intake still runs
    }
    EXPECT_EQ(t0, Access::Impl(*sqm).session.playerConnectedMs);
    EXPECT_EQ(0, Access::Impl(*noClock).session.playerConnectedMs);
    EXPECT_EQ("0 posts 0 lookups", std::to_string(host.Posts().size()) + " posts " + std::to_string(host.geoCount) +
                                       " lookups");
}

TEST(SqmSession, FirstBatchHoldsEverySampleSinceTheStart) {
    const struct { int collect, delay, reports; long long stepMs; std::size_t samples; } cases[] = {
        {1, 300, 340, 1000, 331},  // a long start delay: samples 1 to 331 in the first batch
        {0, 0, 310, 100, 302}};    // a sample at every report, ten reports a second
    for (const auto& c : cases) {
        FakeHost host;
        auto sqm = MakeCollector(host, Enabled(c.collect, c.delay, 30));
        sqm->OnStreamingStart("p1", "");
        PushReports(host, *sqm, c.reports, c.stepMs);
        ASSERT_EQ(2u, host.Posts().size()) << c.collect;  // START and one batch
        const Json batch = host.Record(1);
        std::vector<long long> seq, all(c.samples);
        for (const auto& m : batch["action_data"]["data"]) seq.push_back(m["seq_no"].get<long long>());
        std::iota(all.begin(), all.end(), 1);
        EXPECT_EQ(all, seq) << c.collect;
    }
}

TEST_F(Sqm, SampleBufferIsBoundedByBytes) {
    sqm->SetConfig(Enabled(0, 100000, 30));  // START never due: batches stay closed
    const std::string report =  // every sample 256 KiB large
        Report({{"outbound-rtp", Json{{"kind", "video"}, {"encoderImplementation", std::string(256 * 1024, 'x')}}}});
    sqm->OnStreamingStart("p", "");
    PushReports(host, *sqm, 60, 1000, report);
    auto& s = Access::Impl(*sqm).session;
    EXPECT_GE(s.samples.size(), 28u);
    EXPECT_LE(s.sampleBytes, TesselSDK::kSampleBufferBytes);  // 8 MiB of samples
    EXPECT_EQ(60, Json::parse(s.samples.back())["seq_no"]);   // the newest are kept
    EXPECT_EQ(1, host.CountLogs(1, "[TesselSDK::SQM] Sample buffer full (8 MiB) - dropping the oldest samples."));
    PushReports(host, *sqm, 1, 1000, Report({{"", {{"encoderImplementation", std::string(9 << 20, 'y')}}}}));
    EXPECT_EQ(1u, s.samples.size()) << "a sample beyond the bound is kept alone";
}

TEST_F(Sqm, StaleStartSuccessDoesNotOpenANewSession) {
    sqm->SetConfig(Enabled(5, 0, 30));
    auto& impl = Access::Impl(*sqm);
    sqm->SetRetryWaitForTesting([](std::chrono::milliseconds) { return std::chrono::milliseconds(300); });
    host.script = {500};
    sqm->OnStreamingStart("A", "");
    PushReports(host, *sqm, 1);      // START fails, a retry waits
    sqm->OnStreamingStart("B", "");  // a new session before the retry succeeds
    ASSERT_TRUE(WaitUntil([&] { return impl.retries.Running() == 0; }));
    ASSERT_EQ(2u, host.Posts().size());
    EXPECT_FALSE(impl.session.startSent);
    // Within one session, a success after the end still counts.
    host.script = {500};
    PushReports(host, *sqm, 1, 1000, "");  // START of B fails
    sqm->OnStreamingEnd("B", "");
    ASSERT_TRUE(WaitUntil([&] { return host.Posts().size() >= 4 && impl.retries.Running() == 0; }));
    std::lock_guard<std::mutex> lock(impl.sessionMutex);
    EXPECT_TRUE(impl.session.startSent);
}

namespace {

const char* kBody = R"({"streamer_id":"s","action_type":"END_STREAMING","x":"\u00e9"})";

// A collector that posts through the library's HTTP client.
std::unique_ptr<SQM> WiredCollector(FakeHost& host, const std::string& api, bool token = true) {
    auto callbacks = host.Callbacks();
    callbacks.httpPostFn = [](const std::string& url, const std::string& body, const TesselSDK::HttpHeaders& headers,
                              Done done) { TesselSDK::HttpPostJson(url, body, headers, std::move(done)); };
    if (!token) callbacks.accessTokenFn = nullptr;
    return MakeCollector(host, Enabled(5, 60, 30, api), &callbacks);
}

}  // namespace

TEST_F(Sqm, UrlRuleGzipAndAFailedGzipSendsNothing) {
    // The bearer token never goes out in clear text: only a build for the local
    // double (second column) may post over http, and only to this machine.
    const struct {
        const char* api;
        bool loopbackHttp;
        const char* url;
    } urls[] = {
        {"m.example/base///", false, "https://m.example/base/v1.0/metrics"},
        {"HTTPS://m.example/", true, "https://m.example/v1.0/metrics"},
        {"Http://m.example:9/p", true, "https://m.example:9/p/v1.0/metrics"},
        {"http://127.0.0.1:9/sqm", false, "https://127.0.0.1:9/sqm/v1.0/metrics"},
        {"http://127.0.0.1:9/sqm", true, "http://127.0.0.1:9/sqm/v1.0/metrics"},
        {"HTTP://LocalHost", true, "http://LocalHost/v1.0/metrics"},
        {"http://[::1]:9", true, "http://[::1]:9/v1.0/metrics"},
        {"http://localhost.evil.com", true, "https://localhost.evil.com/v1.0/metrics"},
        {"http://127.0.0.1.nip.io:9", true, "https://127.0.0.1.nip.io:9/v1.0/metrics"},
        {"http://127.0.0.1@evil.com", true, "https://127.0.0.1@evil.com/v1.0/metrics"},
        {"http://127.0.0.1:9x/", true, "https://127.0.0.1:9x/v1.0/metrics"},
    };
    for (const auto& u : urls) EXPECT_EQ(u.url, TesselSDK::MetricsUrl(u.api, u.loopbackHttp)) << u.api;
    EXPECT_EQ("", Gunzip(TesselSDK::GzipCompress("").value()));
    std::string big;  // larger than one output window, incompressible parts included
    for (unsigned i = 0, x = 12345; i < 200000; ++i) {
        x = x * 1103515245u + 12345u;
        big.push_back(static_cast<char>(i % 3 == 0 ? (x >> 16) & 0xFF : 'a' + i % 7));
    }
    EXPECT_EQ(big, Gunzip(TesselSDK::GzipCompress(big).value()));
    Access::Impl(*sqm).compress = [](const std::string&) { return std::nullopt; };
    Access::Post(*sqm, "END_STREAMING", kBody);
    EXPECT_TRUE(host.Posts().empty());
    EXPECT_EQ(1, host.CountLogs(2, "[TesselSDK::SQM] END_STREAMING not sent: gzip compression failed."));
}

TEST_F(Sqm, FailedPostsRetryThreeTimesThenDrop) {
    std::vector<long long> delays;  // nominal back-off of each retry (they run one after another)
    sqm->SetRetryWaitForTesting([&](std::chrono::milliseconds d) {
        delays.push_back(d.count());
        return std::chrono::milliseconds(0);
    });
    auto idle = [&] { return WaitUntil([&] { return Access::Impl(*sqm).retries.Running() == 0; }); };
    host.script = {500, 0, 201, 204};
    Access::Post(*sqm, "END_STREAMING", kBody);
    ASSERT_TRUE(idle());
    ASSERT_EQ(std::vector<std::string>(4, kBody), host.Posts());
    EXPECT_EQ((std::vector<long long>{1000, 2000, 4000}), delays);
    EXPECT_EQ(1, host.CountLogs(1, "[TesselSDK::SQM] END_STREAMING failed HTTP 500: no\\0pe (attempt 1)"));
    EXPECT_EQ(1, host.CountLogs(1, "failed HTTP 204: no\\0pe (attempt 4)"));
    EXPECT_EQ(1, host.CountLogs(2, "[TesselSDK::SQM] END_STREAMING dropped after max retries."));
    EXPECT_EQ(1, host.CountLogs(0, "payload:\n" R"({"streamer_id":"s","action_type":"END_STREAMING","x":"é"})"));
    host.script = {503};  // a null record name, and a success on a retry
    Access::Post(*sqm, nullptr, "not json");
    ASSERT_TRUE(idle());
    EXPECT_EQ(6u, host.Posts().size());
    EXPECT_EQ(1, host.CountLogs(0, "[TesselSDK::SQM] UNKNOWN: 200: {\"result\":\"ok\"}"));
}

TEST_F(Sqm, DestroyingWithPendingRetriesPostsNothingMore) {
    std::atomic<int> postsAfterDestroy{0};
    std::atomic<bool> destroyed{false};
    auto callbacks = host.Callbacks();
    callbacks.httpPostFn = [&, post = callbacks.httpPostFn](const std::string& url, const std::string& body,
                                                            const TesselSDK::HttpHeaders& headers, Done done) {
        if (destroyed) ++postsAfterDestroy;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));  // a post in flight
        post(url, body, headers, done);
    };
    for (int wait : {1000, 0}) {
        host.script.assign(8, 500);
        sqm = MakeCollector(host, Enabled(), &callbacks);
        sqm->SetRetryWaitForTesting([wait](std::chrono::milliseconds) { return std::chrono::milliseconds(wait); });
        for (int i = 0; i < 4; ++i) Access::Post(*sqm, "DURING_STREAMING", kBody);
        const auto before = std::chrono::steady_clock::now();
        sqm.reset();
        destroyed = true;
        EXPECT_LT(MsSince(before), 900) << wait;  // sleeping retries are woken
        std::this_thread::sleep_for(std::chrono::milliseconds(wait == 0 ? 50 : 1200));
        EXPECT_EQ(0, postsAfterDestroy.load());
        EXPECT_TRUE(wait == 0 || 4 == host.CountLogs(1, "[TesselSDK::SQM] DURING_STREAMING retry dropped"));
        destroyed = false;
    }
}

TEST_F(Sqm, WireGzipRecordWithHeadersAndRefusedIsStatusZero) {
    testsupport::ResetServer();
    Access::Post(*WiredCollector(host, testsupport::ServerUrl() + "/sqm/"), "END_STREAMING", kBody);
    Access::Post(*WiredCollector(host, "", false), "END_STREAMING", kBody);  // the development endpoint
    const auto reqs = testsupport::Requests("/sqm");
    ASSERT_EQ(2u, reqs.size());
    EXPECT_EQ("POST /sqm/v1.0/metrics", reqs[0].method + " " + reqs[0].path);
    EXPECT_EQ(kBody, Gunzip(reqs[0].body));
    EXPECT_EQ("gzip ZADODADUZUVU-1.0.0 Bearer tok application/json",
              reqs[0].Header("Content-Encoding") + " " + reqs[0].Header("Caller-Id") + " " +
                  reqs[0].Header("Authorization") + " " + reqs[0].Header("Content-Type"));
    EXPECT_EQ(2, host.CountLogs(0, "[TesselSDK::SQM] END_STREAMING: 200: "));
    EXPECT_EQ("/sqm-dev/virivizar-sqm/v1.0/metrics", reqs[1].path);
    EXPECT_EQ(0, reqs[1].HeaderCount("Authorization"));  // no token provider
    auto refused = WiredCollector(host, "http://127.0.0.1:1");
    Access::Post(*refused, "END_STREAMING", kBody);
    ASSERT_TRUE(WaitUntil([&] { return host.CountLogs(2, "dropped after max retries.") == 1; }));
    EXPECT_EQ(4, host.CountLogs(1, "END_STREAMING failed HTTP 0: "));

    // An api that parsers read two ways: its posts, token and all, reach only the host the loopback check read.
    testsupport::ResetServer();
    testsupport::AddRoute({{"path", "/"}, {"status", 200}});
    ASSERT_FALSE(testsupport::OtherServerUrl().empty());
    const std::string server = testsupport::ServerUrl(), other = testsupport::OtherServerUrl().substr(7);
    for (const std::string& api : {server + "#@" + other, server + "?@" + other + "/x", server + "\\@" + other})
        Access::Post(*WiredCollector(host, api), "END_STREAMING", kBody);
    const auto posted = testsupport::Requests();
    EXPECT_EQ(2u, posted.size());
    for (const auto& r : posted)
        EXPECT_EQ("127.0.0.1 Bearer tok", r.server + " " + r.Header("Authorization")) << r.path;
}

TEST_F(SlowSqm, WireRetriesOnTheRealClockAndDestroyCancelsOneHungOnTheServer) {
    testsupport::ResetServer();
    testsupport::AddRoute({{"path", "/sqm/v1.0/metrics"}, {"status", 500}, {"body", "busy"}, {"times", 4}});
    sqm = WiredCollector(host, testsupport::ServerUrl() + "/sqm");
    sqm->SetRetryWaitForTesting(nullptr);  // the real 1-2-4 s schedule
    const auto t0 = std::chrono::steady_clock::now();
    Access::Post(*sqm, "DURING_STREAMING", kBody);
    ASSERT_TRUE(WaitUntil([&] { return host.CountLogs(2, "dropped after max") == 1; }, std::chrono::seconds(14)));
    const long long took = MsSince(t0);
    EXPECT_EQ(4u, testsupport::Requests("/sqm/").size());
    // 1 + 2 + 4 s; the upper bound leaves room for a loaded machine (Wine)
    // and still tells this schedule from a longer one (2 + 4 + 8 s).
    EXPECT_TRUE(took >= 6950 && took < 11500) << took;

    testsupport::AddRoute({{"path", "/sqm-hung/v1.0/metrics"}, {"mode", "hang"}});
    testsupport::AddRoute({{"path", "/sqm-hung/v1.0/metrics"}, {"status", 500}, {"body", "busy"}, {"times", 1}});
    sqm = WiredCollector(host, testsupport::ServerUrl() + "/sqm-hung");
    Access::Post(*sqm, "DURING_STREAMING", kBody);
    ASSERT_TRUE(WaitUntil([&] { return testsupport::Requests("/sqm-hung/").size() >= 2; }));  // a retry hangs
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto before = std::chrono::steady_clock::now();
    sqm.reset();
    EXPECT_LT(MsSince(before), 1000);
    const auto lines = host.Locked([&] { return host.logs.size(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(lines, host.Locked([&] { return host.logs.size(); }));  // the cancelled retry logs nothing later
    EXPECT_EQ(2u, testsupport::Requests("/sqm-hung/").size());
}
