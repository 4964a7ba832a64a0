// Initialisation end to end through the exported functions, against the
// service double standing in for the configuration host.
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "capi/handle.h"
#include "core/ga_data.h"
#include "core/link_logic_impl.h"
#include "core/signalling_url.h"
#include "log/logger.h"
#include "test_support.h"
#include "tesselsdk/tesselsdk.h"
#include "util/text.h"

namespace {

const char kDoc[] = "/application_no/STATIC/halyxapp/streaming/config_streaming.json";
const std::string kLiveDoc = std::string("/cdn-live/live") + kDoc;
const std::string kToken = "tok+en/with=chars&more-0123456789abcdef";
const std::string kMaskedToken = "tok+\xE2\x80\xA6(" + std::to_string(kToken.size()) + " chars)";

std::vector<std::string> g_calls;
bool g_throwInStreamer = false;
std::string g_streamerId, g_url;

void OnInit(bool ok) { g_calls.push_back(std::string("init:") + (ok ? "1" : "0")); }
void Bitrate(int a, int b, int c) {
    g_calls.push_back("bitrate:" + std::to_string(a) + "," + std::to_string(b) + "," + std::to_string(c));
}
void Sentry(const char* dsn, const char* env, const char* rel) {
    g_calls.push_back(std::string("sentry:") + dsn + "," + env + "," + rel);
}
void Streamer(const char* id, const char* url) {
    g_calls.push_back("streamer");
    g_streamerId = id;
    g_url = url;
    if (g_throwInStreamer) throw std::runtime_error("host failure");
}
void Start() { g_calls.push_back("start"); }

// "LEVEL message" of each log line, without the time stamp.
std::vector<std::string> LogMessages() {
    TesselSDK::Logger::Instance().Stop();
    std::vector<std::string> out;
    for (const std::string& line : testsupport::ReadLines(TesselSDK::Logger::Instance().CurrentLogFilePath())) {
        const size_t open = line.find("] [");
        const size_t close = open == std::string::npos ? open : line.find("] ", open + 3);
        if (close == std::string::npos) continue;
        out.push_back(line.substr(open + 3, close - open - 3) + " " + line.substr(close + 2));
    }
    return out;
}

// Whether `expected` appear in `lines` in this order (other lines between).
::testing::AssertionResult InOrder(const std::vector<std::string>& lines, const std::vector<std::string>& expected) {
    auto it = lines.begin();
    for (const auto& e : expected) {
        it = std::find(it, lines.end(), e);
        if (it == lines.end()) return ::testing::AssertionFailure() << "missing (in order): " << e;
        ++it;
    }
    return ::testing::AssertionSuccess();
}

std::string QueryValue(const std::string& url, const std::string& key) {
    const size_t at = url.find(key + "=");
    if (at == std::string::npos) return "";
    const size_t from = at + key.size() + 1;
    return url.substr(from, url.find('&', from) - from);
}

nlohmann::json FullDoc() {
    return nlohmann::json::parse(R"({
        "virivizar_ss":{"ws":{"kr":"signal.example"}},
        "virivizar_turn":{"api":{"kr":"https://turn.example"}},
        "virivizar_event":{"api":{"kr":"https://event.example/notify"}},
        "virivizar_bitrate":{"Unreal":{"AUTO":{"MinBitrate":1000,"MaxBitrate":3000,"Fps":30,"MinQP":10,
                                               "H264Profile":"MAIN"}}}})");
}

class InitFlow : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::ResetServer();
        TesselSDK::Logger::Instance().Stop();
        g_calls.clear();
        g_throwInStreamer = false;
        g_url.clear();
    }

    // One handle with every callback set, initialised once.
    void Run() {
        TesselSDKHandle* h = TesselSDK_Create("5.6.7", 4);
        TesselSDK_SetBitrateCallback(h, &Bitrate);
        TesselSDK_SetInitSentry(h, &Sentry);
        TesselSDK_SetCreateStreamer(h, &Streamer);
        TesselSDK_SetStartStreaming(h, &Start);
        TesselSDK_Initialize(h, &OnInit);
        streamerId = static_cast<TesselSDK::LinkLogicImpl*>(h->logic.load())->StreamerId();
        eventApiUrl = TesselSDK_GetEventApiUrl(h);
        TesselSDK_Destroy(h);
    }

    void ServeConfig(const nlohmann::json& doc, const std::string& path = kLiveDoc) {
        testsupport::AddRoute({{"path", path}, {"status", 200}, {"body", doc.dump()}});
    }

    testsupport::ScopedEnv gate{"streaming_yn", "y"};
    testsupport::ScopedEnv env{"ENV"};
    testsupport::ScopedEnv member{"member_no", "M77"};
    testsupport::ScopedEnv game{"game_id", "GAME1"};
    testsupport::ScopedEnv token{"OMBREL_ACCESS_TOKEN", kToken};
    std::string streamerId;
    std::string eventApiUrl;
};

}  // namespace

TEST_F(InitFlow, GateAndEnvironmentChooseTheRequest) {
    const struct {
        const char* gate;  // null: unset
        const char* env;
        std::string path;  // "": no request
    } cases[] = {
        {nullptr, "", ""}, {"", "", ""}, {"n", "", ""}, {"N", "", "/cdn-live/live"},
        {"no", "live", "/cdn-live/live"}, {"0", "zeph8", "/cdn-sandbox/sandbox"},
        {"y", "SANDBOX", "/cdn-sandbox/sandbox"}, {"y", "Dev2", "/cdn-dev2/dev2"}, {"y", "prod", ""},
        {"y", "qa", "/cdn-qa/qa"},
    };
    for (const auto& c : cases) {
        testsupport::ResetServer();
        testsupport::ScopedEnv g = c.gate ? testsupport::ScopedEnv("streaming_yn", c.gate)
                                          : testsupport::ScopedEnv("streaming_yn");
        testsupport::ScopedEnv e("ENV", c.env);
        Run();
        const auto requests = testsupport::Requests("/cdn-");
        if (c.path.empty()) {
            EXPECT_TRUE(requests.empty()) << c.env;
        } else {
            ASSERT_EQ(1u, requests.size()) << c.env;
            EXPECT_EQ("GET", requests[0].method);
            EXPECT_EQ(c.path + kDoc, requests[0].path) << c.env;
        }
    }
    EXPECT_EQ(std::vector<std::string>(10, "init:0"), g_calls);
    EXPECT_TRUE(InOrder(LogMessages(),
                        {"INFO [TesselSDK::Initialize] streaming_yn is empty, skipping initialization",
                         "INFO [TesselSDK::Initialize] streaming_yn is empty, skipping initialization",
                         "INFO [TesselSDK::Initialize] streaming_yn is not enabled, skipping initialization",
                         "INFO [TesselSDK::Initialize] streaming_yn: N",
                         "INFO [TesselSDK::Initialize] Starting initialization...",
                         "DEBUG [TesselSDK::Initialize] SdkVersion: 5.6.7",
                         "ERROR [TesselSDK::Initialize] Invalid ENV value: 'PROD'",
                         "INFO [TesselSDK::Initialize] Fetching CDN config from: " + testsupport::ServerUrl() +
                             "/cdn-qa/qa" + kDoc}));
}

TEST_F(InitFlow, FailuresReportFalseWithTheirLines) {
    Run();  // nothing scripted: 404
    testsupport::AddRoute({{"path", kLiveDoc}, {"status", 200}, {"body", "not json"}});
    Run();
    auto doc = FullDoc();
    doc.erase("virivizar_ss");
    ServeConfig(doc);
    Run();
    EXPECT_EQ(std::vector<std::string>(3, "init:0"), g_calls);
    EXPECT_EQ("https://event.example/notify", eventApiUrl) << "the rest of the configuration is kept";
    EXPECT_TRUE(InOrder(LogMessages(),
                        {"ERROR [TesselSDK::Initialize] CDN fetch failed with HTTP code: 404, "
                         "Response: no configuration scripted",
                         "DEBUG [TesselSDK::Initialize] CDN Response (8 bytes): not json",
                         "INFO [TesselSDK::Initialize] SQM virivizar_sqm: collect=5s delay_start=60s during_push=30s "
                         "sqm_enabled=false metrics_api=(none)",
                         "ERROR [TesselSDK::Initialize] Failed to parse WebSocket URL from CDN config",
                         "ERROR [TesselSDK::Initialize] Failed to parse WebSocket URL from CDN config"}));
}

TEST_F(InitFlow, FullInitialisation) {
    ServeConfig(FullDoc());
    testsupport::ScopedEnv host("COMPUTERNAME", "a-very-long-computer-name-for-the-test-0123456789");
    // Bytes that are not UTF-8 are repaired in the GA data instead of failing it.
    testsupport::ScopedEnv badGame("game_id", "G\xC3\xA9\xFF");
    Run();
    EXPECT_EQ((std::vector<std::string>{"bitrate:1000,3000,30", "streamer", "start", "init:1"}), g_calls);
    EXPECT_EQ(streamerId, g_streamerId);

    // wss://<host>/s/<id>/?token=..&member_no=..&reconnect_cnt=0&ga_data=..
    const std::string head = "wss://signal.example/s/" + streamerId + "/?token=";
    ASSERT_EQ(0u, g_url.rfind(head, 0)) << g_url;
    EXPECT_EQ("tok%2Ben%2Fwith%3Dchars%26more-0123456789abcdef", QueryValue(g_url, "token"));
    EXPECT_EQ("M77", QueryValue(g_url, "member_no"));
    EXPECT_EQ("0", QueryValue(g_url, "reconnect_cnt"));
    // The URL carries the logged GA data, Base64 and then URL encoded.
    const auto lines = LogMessages();
    const std::string gaPrefix = "DEBUG   GA Data (JSON): ";
    const auto gaLine = std::find_if(lines.begin(), lines.end(),
                                     [&](const std::string& l) { return l.rfind(gaPrefix, 0) == 0; });
    ASSERT_NE(lines.end(), gaLine);
    const std::string gaText = gaLine->substr(gaPrefix.size());
    const std::string gaBase64 = TesselSDK::Base64Encode(gaText);
    EXPECT_EQ(TesselSDK::UrlEncode(gaBase64), QueryValue(g_url, "ga_data"));
    auto ga = nlohmann::ordered_json::parse(gaText);
    EXPECT_EQ(ga.dump(), gaText) << "compact, non-ASCII unescaped";
    ASSERT_TRUE(ga["start_dt"].is_string() && ga["gc_info"]["series"].is_string());
    EXPECT_GT(std::stoll(ga["start_dt"].get<std::string>()), 1600000000000LL);
    ga["start_dt"] = "T";
    ga["gc_info"]["series"] = "S";
    EXPECT_EQ(R"({"game_id":"G)" "\xC3\xA9\xEF\xBF\xBD"
              R"(","platform":"Windows","pc_name":"a-very-long-co...","ge_type":4,"start_dt":"T","streamer_id":")" +
                  streamerId + R"(","gc_info":{"nv_enc":1,"series":"S"}})",
              ga.dump());

    EXPECT_TRUE(InOrder(lines, {
        "INFO [TesselSDK::Initialize] WebSocket URL: signal.example",
        "DEBUG [TesselSDK::Initialize] TURN API URL: https://turn.example",
        "DEBUG [TesselSDK::Initialize] Event API URL: https://event.example/notify",
        "DEBUG [TesselSDK::Initialize] Bitrate (Default): Min=1000, Max=3000, FPS=30",
        "INFO [TesselSDK] Debug: Parsed Sentry config: enable=false, dsn=",
        "DEBUG ===== WebSocket Connection Parameters =====",
        "DEBUG   StreamerId: " + streamerId,
        "DEBUG   MemberNo: M77",
        "DEBUG   GameId: G\xC3\xA9\xFF",
        "DEBUG   GA Data (JSON): " + gaText,
        "DEBUG   GA Data (Base64): " + gaBase64,
        "DEBUG   Token: " + kMaskedToken,
        "DEBUG ===========================================",
        "INFO [TesselSDK::Initialize] Signalling URL created (length: " + std::to_string(g_url.size()) + ")",
        "DEBUG [TesselSDK::Initialize] Full Signalling URL: " + head + kMaskedToken +
            g_url.substr(g_url.find("&member_no=")),
    }));
    // The token itself never reaches the log, raw or encoded.
    for (const auto& line : lines) {
        EXPECT_EQ(std::string::npos, line.find(kToken)) << line;
        EXPECT_EQ(std::string::npos, line.find("tok%2Ben")) << line;
    }
}

TEST_F(InitFlow, ReportingSettingsAndDefaultBitrate) {
    // A DSN with reporting off goes to the host, before the bit rate.
    auto doc = FullDoc();
    doc.erase("virivizar_bitrate");
    doc["virivizar_sentry"] = {{"enable", false}, {"dsn", "https://key@reporter.example/3"}};
    ServeConfig(doc, std::string("/cdn-dev/dev") + kDoc);
    {
        testsupport::ScopedEnv e("ENV", "dev");
        Run();
    }
    // Reporting on without a DSN starts nothing.
    doc = FullDoc();
    doc["virivizar_sentry"] = {{"enable", true}, {"dsn", ""}};
    ServeConfig(doc);
    Run();
    EXPECT_EQ((std::vector<std::string>{"sentry:https://key@reporter.example/3,dev,unreal-vuzavedurozazi-tesselsdk",
                                        "bitrate:10000000,20000000,60", "streamer", "start", "init:1",
                                        "bitrate:1000,3000,30", "streamer", "start", "init:1"}),
              g_calls);
    EXPECT_TRUE(InOrder(LogMessages(), {"INFO [TesselSDK] Debug: Parsed Sentry config: enable=true, dsn="}));
}

TEST_F(InitFlow, ThrowingHostCallbackReportsFailureOnce) {
    ServeConfig(FullDoc());
    g_throwInStreamer = true;
    EXPECT_NO_THROW(Run());
    EXPECT_EQ((std::vector<std::string>{"bitrate:1000,3000,30", "streamer", "init:0"}), g_calls);
}

TEST_F(InitFlow, ClassInterfaceLookupsAfterInitialisation) {
    ServeConfig(FullDoc());
    TesselSDK::LinkLogic* logic = TesselSDK::LinkLogic::Create("1", 0, TesselSDK::PlatformInterface());
    bool result = false;
    logic->Initialize([&](bool ok) { result = ok; });
    EXPECT_TRUE(result);
    int a = 0, b = 0, c = 0;
    EXPECT_TRUE(logic->GetBitrateConfig("AUTO", &a, &b, &c));
    EXPECT_EQ((std::vector<int>{1000, 3000, 30}), (std::vector<int>{a, b, c}));
    TesselSDK::EncoderSettings enc;
    EXPECT_TRUE(logic->GetEncoderConfig("NOPE", &enc));
    EXPECT_EQ("10 40 MAIN CBR", std::to_string(enc.MinQP) + " " + std::to_string(enc.MaxQP) + " " +
                                    enc.H264Profile + " " + enc.RateControl);
    TesselSDK::LinkLogic::Destroy(logic);
}

TEST_F(InitFlow, OwnReporterReportsStartAndShutdown) {
    auto doc = FullDoc();
    const std::string port = testsupport::ServerUrl().substr(testsupport::ServerUrl().rfind(':') + 1);
    doc["virivizar_sentry"] = {{"enable", true}, {"dsn_unreal", "http://publickey@127.0.0.1:" + port + "/42"}};
    ServeConfig(doc);
    TesselSDKHandle* h = TesselSDK_Create("5.6.7", 4);
    TesselSDK_SetInitSentry(h, &Sentry);
    TesselSDK_Initialize(h, &OnInit);
    EXPECT_EQ(std::vector<std::string>{"init:1"}, g_calls);  // the host's InitSentry is not used
    testsupport::WaitForRequests("/api/42/envelope/", 1);
    TesselSDK_Shutdown(h);  // reports, flushes and closes the reporter
    TesselSDK_Destroy(h);

    // The library posts to the DSN's project with the key; the start event
    // carries the tags in the order set, the shutdown event the breadcrumb of
    // the completed start.
    const auto requests = testsupport::Requests("/api/42/envelope/");
    for (const auto& r : requests) EXPECT_NE(std::string::npos, r.Header("X-Sentry-Auth").find("sentry_key=publickey,"));
    nlohmann::ordered_json started, stopping;
    for (const auto& event : testsupport::EnvelopePayloads(requests, "event")) {
        const std::string text = event["message"].value("formatted", "");
        if (text == "TesselSDK initialized successfully") started = event;
        if (text == "TesselSDK shutting down") stopping = event;
    }
    ASSERT_TRUE(started.is_object() && stopping.is_object());
    std::vector<std::string> tagKeys;
    for (const auto& tag : started["tags"].items()) tagKeys.push_back(tag.key());
    EXPECT_EQ((std::vector<std::string>{"TESSELSDK_VERSION", "TESSELSDK_ENV", "TESSELSDK_MEMBER_NO", "TESSELSDK_GAME_ID",
                                        "gpu.name", "runtime.name", "pc_name"}),
              tagKeys);
    const auto& tags = started["tags"];
    EXPECT_EQ("LIVE", tags["TESSELSDK_ENV"]);
    EXPECT_EQ("M77", tags["TESSELSDK_MEMBER_NO"]);
    EXPECT_EQ("GAME1", tags["TESSELSDK_GAME_ID"]);
    EXPECT_EQ("UnrealEngine", tags["runtime.name"]);
    EXPECT_EQ("unreal-vuzavedurozazi-tesselsdk", started["release"]);
    EXPECT_EQ("info", started["level"]);
    EXPECT_EQ("TesselSDK initialization complete", stopping["breadcrumbs"].back()["message"]);
    EXPECT_EQ("lifecycle", stopping["breadcrumbs"].back()["type"]);
    EXPECT_TRUE(InOrder(LogMessages(), {"INFO [TesselSDK::Initialize] Sentry initialization successful!",
                                        "DEBUG [TesselSDK::Initialize] Sentry tags configured",
                                        "DEBUG [TesselSDK::Shutdown] Sentry closed"}));
}

TEST(SignallingUrl, PartsEncodingAndMasking) {
    // The host and the streamer id are inserted as they are.
    EXPECT_EQ("wss://https://h/x//s/id 1/?token=a%20b&member_no=m%2F1&reconnect_cnt=3&ga_data=QUJ%2B%2F%3D",
              TesselSDK::BuildSignalingUrl("https://h/x/", "id 1", "a b", "m/1", "QUJ+/=", 3));
    EXPECT_EQ("ab\xE2\x80\xA6(2 chars)", TesselSDK::MaskToken("ab"));
    EXPECT_EQ("\xE2\x80\xA6(0 chars)", TesselSDK::MaskToken(""));
    EXPECT_EQ("12345678901234", TesselSDK::ShortenPcName("12345678901234"));
    EXPECT_EQ("12345678901234...", TesselSDK::ShortenPcName("123456789012345"));
}
