// Initialisation end to end through the exported functions, against the
// service double standing in for the configuration host.
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "capi/handle.h"
#include "core/cdn_environments.h"
#include "core/ga_data.h"
#include "core/link_logic_impl.h"
#include "core/signalling_url.h"
#include "log/logger.h"
#include "test_support.h"
#include "tesselsdk/tesselsdk.h"

namespace {

const char kDoc[] = "/application_no/STATIC/halyxapp/streaming/config_streaming.json";
const std::string kLiveDoc = std::string("/cdn-live/live") + kDoc;
const std::string kToken = "tok+en/with=chars&more-0123456789abcdef";

std::vector<std::string> g_calls;
bool g_throwInStreamer = false;

void OnInit(bool ok) { g_calls.push_back(std::string("init:") + (ok ? "1" : "0")); }
void Bitrate(int a, int b, int c) {
    g_calls.push_back("bitrate:" + std::to_string(a) + "," + std::to_string(b) + "," + std::to_string(c));
}
void Sentry(const char* dsn, const char* env, const char* rel) {
    g_calls.push_back(std::string("sentry:") + dsn + "," + env + "," + rel);
}
std::string g_streamerId, g_url;
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
        if (open == std::string::npos) continue;
        const size_t close = line.find("] ", open + 3);
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
        if (it == lines.end()) {
            std::string all;
            for (const auto& l : lines) all += "\n  " + l;
            return ::testing::AssertionFailure() << "missing (in order): " << e << "\nlog:" << all;
        }
        ++it;
    }
    return ::testing::AssertionSuccess();
}

bool Contains(const std::vector<std::string>& lines, const std::string& needle) {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& l) { return l.find(needle) != std::string::npos; });
}

std::string QueryValue(const std::string& url, const std::string& key) {
    const size_t at = url.find(key + "=");
    if (at == std::string::npos) return "";
    const size_t from = at + key.size() + 1;
    return url.substr(from, url.find('&', from) - from);
}

std::string PercentDecode(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string Base64Decode(const std::string& in) {
    static const std::string chars = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned val = 0;
    int bits = -8;
    for (char c : in) {
        if (c == '=') break;
        const size_t pos = chars.find(c);
        if (pos == std::string::npos) return "<bad base64>";
        val = ((val << 6) | static_cast<unsigned>(pos)) & 0xFFFFFFu;
        bits += 6;
        if (bits >= 0) {
            out += static_cast<char>((val >> bits) & 0xFF);
            bits -= 8;
        }
    }
    return out;
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

nlohmann::json FullDoc() {
    return nlohmann::json::parse(R"({
        "virivizar_ss":{"ws":{"kr":"signal.example"}},
        "virivizar_turn":{"api":{"kr":"https://turn.example"}},
        "virivizar_event":{"api":{"kr":"https://event.example/notify"}},
        "virivizar_bitrate":{"Unreal":{"AUTO":{"MinBitrate":1000,"MaxBitrate":3000,"Fps":30,"MinQP":10,
                                               "H264Profile":"MAIN"}}}})");
}

}  // namespace

TEST_F(InitFlow, GateStopsBeforeAnyRequest) {
    {
        testsupport::ScopedEnv unset("streaming_yn");
        Run();
    }
    {
        testsupport::ScopedEnv empty("streaming_yn", "");
        Run();
    }
    {
        testsupport::ScopedEnv off("streaming_yn", "n");
        Run();
    }
    EXPECT_EQ((std::vector<std::string>{"init:0", "init:0", "init:0"}), g_calls);
    EXPECT_TRUE(testsupport::Requests("/cdn-").empty());
    EXPECT_TRUE(InOrder(LogMessages(),
                        {"INFO [TesselSDK::Initialize] streaming_yn is empty, skipping initialization",
                         "INFO [TesselSDK::Initialize] streaming_yn is empty, skipping initialization",
                         "INFO [TesselSDK::Initialize] streaming_yn is not enabled, skipping initialization"}));
}

TEST_F(InitFlow, OnlyLowerCaseNDisables) {
    for (const char* v : {"N", "no", "0"}) {
        testsupport::ScopedEnv g("streaming_yn", v);
        Run();
    }
    EXPECT_EQ(3u, testsupport::Requests("/cdn-live/").size());
    EXPECT_TRUE(InOrder(LogMessages(), {"INFO [TesselSDK::Initialize] streaming_yn: N",
                                        "INFO [TesselSDK::Initialize] Starting initialization...",
                                        "DEBUG [TesselSDK::Initialize] SdkVersion: 5.6.7"}));
}

TEST_F(InitFlow, InvalidEnvironmentMakesNoRequest) {
    testsupport::ScopedEnv e("ENV", "prod");
    Run();
    EXPECT_EQ(std::vector<std::string>{"init:0"}, g_calls);
    EXPECT_TRUE(testsupport::Requests("/cdn-").empty());
    EXPECT_TRUE(InOrder(LogMessages(), {"ERROR [TesselSDK::Initialize] Invalid ENV value: 'PROD'"}));
}

TEST_F(InitFlow, EnvironmentChoosesTheDocument) {
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"live", "/cdn-live/live"}, {"zeph8", "/cdn-sandbox/sandbox"}, {"SANDBOX", "/cdn-sandbox/sandbox"},
        {"", "/cdn-live/live"},     {"Dev2", "/cdn-dev2/dev2"},        {"qa", "/cdn-qa/qa"}};
    for (const auto& c : cases) {
        testsupport::ResetServer();
        testsupport::ScopedEnv e("ENV", c.first);
        Run();
        const auto reqs = testsupport::Requests("/cdn-");
        ASSERT_EQ(1u, reqs.size()) << c.first;
        EXPECT_EQ("GET", reqs[0].method);
        EXPECT_EQ(c.second + kDoc, reqs[0].path) << c.first;
    }
    EXPECT_TRUE(InOrder(LogMessages(), {"INFO [TesselSDK::Initialize] Fetching CDN config from: " +
                                        testsupport::ServerUrl() + "/cdn-qa/qa" + kDoc}));
}

TEST(CdnEnvironments, SevenNamesSandboxTwice) {
    const auto table = TesselSDK::BuildCdnEnvironmentTable();
    EXPECT_EQ(7u, table.size());
    EXPECT_EQ(table.at("SANDBOX"), table.at("ZEPH8"));
    for (const auto& e : table) EXPECT_NE(std::string::npos, e.second.find(kDoc)) << e.first;
    EXPECT_NE(table.at("DEV"), table.at("DEV2"));
}

TEST_F(InitFlow, FetchFailureReportsStatusAndBody) {
    Run();
    EXPECT_EQ(std::vector<std::string>{"init:0"}, g_calls);
    EXPECT_TRUE(InOrder(LogMessages(), {"ERROR [TesselSDK::Initialize] CDN fetch failed with HTTP code: 404, "
                                        "Response: no configuration scripted"}));
}

TEST_F(InitFlow, BodyThatIsNotJsonEndsWithoutSignallingHost) {
    testsupport::AddRoute({{"path", kLiveDoc}, {"status", 200}, {"body", "not json"}});
    Run();
    EXPECT_EQ(std::vector<std::string>{"init:0"}, g_calls);
    EXPECT_TRUE(InOrder(LogMessages(),
                        {"DEBUG [TesselSDK::Initialize] CDN Response (8 bytes): not json",
                         "INFO [TesselSDK::Initialize] SQM virivizar_sqm: collect=5s delay_start=60s during_push=30s "
                         "sqm_enabled=false metrics_api=(none)",
                         "ERROR [TesselSDK::Initialize] Failed to parse WebSocket URL from CDN config"}));
}

TEST_F(InitFlow, MissingSignallingHostKeepsTheRestOfTheConfiguration) {
    auto doc = FullDoc();
    doc.erase("virivizar_ss");
    ServeConfig(doc);
    Run();
    EXPECT_EQ(std::vector<std::string>{"init:0"}, g_calls);
    EXPECT_EQ("https://event.example/notify", eventApiUrl);
    EXPECT_TRUE(
        InOrder(LogMessages(), {"ERROR [TesselSDK::Initialize] Failed to parse WebSocket URL from CDN config"}));
}

TEST_F(InitFlow, FullInitialisation) {
    ServeConfig(FullDoc());
    testsupport::ScopedEnv host("COMPUTERNAME", "a-very-long-computer-name-for-the-test-0123456789");
    Run();
    EXPECT_EQ((std::vector<std::string>{"bitrate:1000,3000,30", "streamer", "start", "init:1"}), g_calls);
    EXPECT_EQ(streamerId, g_streamerId);
    EXPECT_EQ(0u, streamerId.rfind("M77-4-", 0));

    // wss://<host>/s/<id>/?token=..&member_no=..&reconnect_cnt=0&ga_data=..
    const std::string head = "wss://signal.example/s/" + streamerId + "/?token=";
    ASSERT_EQ(0u, g_url.rfind(head, 0)) << g_url;
    EXPECT_EQ("tok%2Ben%2Fwith%3Dchars%26more-0123456789abcdef", QueryValue(g_url, "token"));
    EXPECT_EQ("M77", QueryValue(g_url, "member_no"));
    EXPECT_EQ("0", QueryValue(g_url, "reconnect_cnt"));
    const std::string gaEncoded = QueryValue(g_url, "ga_data");
    EXPECT_EQ(std::string::npos, gaEncoded.find_first_of("+/="));
    const std::string gaText = Base64Decode(PercentDecode(gaEncoded));
    const auto ga = nlohmann::ordered_json::parse(gaText);
    std::vector<std::string> keys;
    for (auto it = ga.begin(); it != ga.end(); ++it) keys.push_back(it.key());
    EXPECT_EQ((std::vector<std::string>{"game_id", "platform", "pc_name", "ge_type", "start_dt", "streamer_id",
                                        "gc_info"}),
              keys);
    EXPECT_EQ("GAME1", ga["game_id"]);
    EXPECT_EQ("Windows", ga["platform"]);
    EXPECT_EQ("a-very-long-co...", ga["pc_name"]);
    EXPECT_TRUE(ga["ge_type"].is_number_integer());
    EXPECT_EQ(4, ga["ge_type"]);
    ASSERT_TRUE(ga["start_dt"].is_string());
    EXPECT_GT(std::stoll(ga["start_dt"].get<std::string>()), 1600000000000LL);
    EXPECT_EQ(streamerId, ga["streamer_id"]);
    EXPECT_EQ(1, ga["gc_info"]["nv_enc"]);
    EXPECT_TRUE(ga["gc_info"]["series"].is_string());
    EXPECT_EQ(ga.dump(), gaText);  // compact

    const auto lines = LogMessages();
    EXPECT_TRUE(InOrder(lines, {
        "INFO [TesselSDK::Initialize] WebSocket URL: signal.example",
        "DEBUG [TesselSDK::Initialize] TURN API URL: https://turn.example",
        "DEBUG [TesselSDK::Initialize] Event API URL: https://event.example/notify",
        "DEBUG [TesselSDK::Initialize] Bitrate (Default): Min=1000, Max=3000, FPS=30",
        "INFO [TesselSDK] Debug: Parsed Sentry config: enable=false, dsn=",
        "DEBUG ===== WebSocket Connection Parameters =====",
        "DEBUG   StreamerId: " + streamerId,
        "DEBUG   MemberNo: M77",
        "DEBUG   GameId: GAME1",
        "DEBUG   GA Data (JSON): " + gaText,
        "DEBUG   GA Data (Base64): " + PercentDecode(gaEncoded),
        "DEBUG   Token: tok+\xE2\x80\xA6(" + std::to_string(kToken.size()) + " chars)",
        "DEBUG ===========================================",
        "INFO [TesselSDK::Initialize] Signalling URL created (length: " + std::to_string(g_url.size()) + ")",
        "DEBUG [TesselSDK::Initialize] Full Signalling URL: " + head + "tok+\xE2\x80\xA6(" +
            std::to_string(kToken.size()) + " chars)" + g_url.substr(g_url.find("&member_no=")),
    }));
    // The token itself never reaches the log, raw or encoded.
    EXPECT_FALSE(Contains(lines, kToken));
    EXPECT_FALSE(Contains(lines, "tok%2Ben"));
}

TEST_F(InitFlow, NoAutoProfileAndHostReporterSettings) {
    auto doc = FullDoc();
    doc.erase("virivizar_bitrate");
    doc["virivizar_sentry"] = {{"enable", false}, {"dsn", "https://key@reporter.example/3"}};
    ServeConfig(doc, std::string("/cdn-dev/dev") + kDoc);
    testsupport::ScopedEnv e("ENV", "dev");
    Run();
    EXPECT_EQ((std::vector<std::string>{"sentry:https://key@reporter.example/3,dev,unreal-vuzavedurozazi-tesselsdk",
                                        "bitrate:10000000,20000000,60", "streamer", "start", "init:1"}),
              g_calls);
}

TEST_F(InitFlow, EnabledReportingWithoutDsnStartsNothing) {
    auto doc = FullDoc();
    doc["virivizar_sentry"] = {{"enable", true}, {"dsn", ""}};
    ServeConfig(doc);
    Run();
    EXPECT_EQ((std::vector<std::string>{"bitrate:1000,3000,30", "streamer", "start", "init:1"}), g_calls);
    EXPECT_TRUE(InOrder(LogMessages(), {"INFO [TesselSDK] Debug: Parsed Sentry config: enable=true, dsn="}));
}

TEST_F(InitFlow, InvalidUtf8InGaDataIsReplacedNotThrown) {
    ServeConfig(FullDoc());
    testsupport::ScopedEnv badGame("game_id", "G\xFF\xFE");
    Run();
    ASSERT_EQ((std::vector<std::string>{"bitrate:1000,3000,30", "streamer", "start", "init:1"}), g_calls);
    const auto ga = nlohmann::json::parse(Base64Decode(PercentDecode(QueryValue(g_url, "ga_data"))));
    EXPECT_EQ("G\xEF\xBF\xBD\xEF\xBF\xBD", ga["game_id"]);
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
    auto* impl = static_cast<TesselSDK::LinkLogicImpl*>(logic);
    int a = 0, b = 0, c = 0;
    EXPECT_TRUE(impl->BuildProviderTable().bitrateConfigFn(a, b, c));
    EXPECT_EQ(1000, a);
    EXPECT_EQ(3000, b);
    EXPECT_EQ(30, c);
    a = b = c = 0;
    EXPECT_TRUE(logic->GetBitrateConfig("NOPE", &a, &b, &c));
    EXPECT_EQ(1000, a);
    TesselSDK::EncoderSettings enc;
    EXPECT_TRUE(logic->GetEncoderConfig(nullptr, &enc));
    EXPECT_EQ(10, enc.MinQP);
    EXPECT_EQ(40, enc.MaxQP);
    EXPECT_EQ("MAIN", enc.H264Profile);
    EXPECT_EQ("CBR", enc.RateControl);
    TesselSDK::LinkLogic::Destroy(logic);
}

TEST_F(InitFlow, OwnReporterStartsAndReportsTheStart) {
    auto doc = FullDoc();
    const std::string port = testsupport::ServerUrl().substr(testsupport::ServerUrl().rfind(':') + 1);
    doc["virivizar_sentry"] = {{"enable", true}, {"dsn_unreal", "http://publickey@127.0.0.1:" + port + "/42"}};
    ServeConfig(doc);
    TesselSDKHandle* h = TesselSDK_Create("5.6.7", 4);
    TesselSDK_SetInitSentry(h, &Sentry);
    TesselSDK_Initialize(h, &OnInit);
    EXPECT_EQ(std::vector<std::string>{"init:1"}, g_calls);  // the host's InitSentry is not used

    testsupport::WaitForRequests("/api/42/envelope/", 1);
    TesselSDK_Shutdown(h);  // flushes and closes the reporter
    TesselSDK_Destroy(h);
    const auto reqs = testsupport::Requests("/api/42/envelope/");
    bool found = false;
    for (const auto& r : reqs) {
        if (r.body.find("TesselSDK initialized successfully") == std::string::npos) continue;
        found = true;
        // Envelope: a header line, then item header and payload lines, each JSON.
        std::vector<nlohmann::json> parts;
        size_t from = 0;
        while (from < r.body.size()) {
            size_t end = r.body.find('\n', from);
            if (end == std::string::npos) end = r.body.size();
            if (end > from) parts.push_back(nlohmann::json::parse(r.body.substr(from, end - from)));
            from = end + 1;
        }
        ASSERT_GE(parts.size(), 3u);
        const auto& event = parts[2];
        const auto& tags = event["tags"];
        EXPECT_EQ("LIVE", tags["TESSELSDK_ENV"]);
        EXPECT_EQ("M77", tags["TESSELSDK_MEMBER_NO"]);
        EXPECT_EQ("GAME1", tags["TESSELSDK_GAME_ID"]);
        EXPECT_EQ("UnrealEngine", tags["runtime.name"]);
        EXPECT_TRUE(tags.contains("TESSELSDK_VERSION"));
        EXPECT_TRUE(tags.contains("gpu.name"));
        EXPECT_TRUE(tags.contains("pc_name"));
        EXPECT_FALSE(tags.contains("unreal.is_main_thread"));
        EXPECT_EQ("unreal-vuzavedurozazi-tesselsdk", event["release"]);
    }
    EXPECT_TRUE(found);
    EXPECT_TRUE(InOrder(LogMessages(), {"INFO [TesselSDK::Initialize] Sentry initialization successful!",
                                        "DEBUG [TesselSDK::Initialize] Sentry tags configured"}));
}

TEST(SignallingUrl, PartsAndEncoding) {
    EXPECT_EQ("wss://https://h/x//s/id 1/?token=a%20b&member_no=m%2F1&reconnect_cnt=0&ga_data=QUJ%2B%2F%3D",
              TesselSDK::BuildSignalingUrl("https://h/x/", "id 1", "a b", "m/1", "QUJ+/=", 0));
    EXPECT_EQ("wss://h/s/i/?token=&member_no=&reconnect_cnt=3&ga_data=",
              TesselSDK::BuildSignalingUrl("h", "i", "", "", "", 3));
}

TEST(SignallingUrl, TokenIsMaskedForTheLog) {
    EXPECT_EQ("abcd\xE2\x80\xA6(8 chars)", TesselSDK::MaskToken("abcdefgh"));
    EXPECT_EQ("ab\xE2\x80\xA6(2 chars)", TesselSDK::MaskToken("ab"));
    EXPECT_EQ("\xE2\x80\xA6(0 chars)", TesselSDK::MaskToken(""));
    EXPECT_EQ("wss://h/s/i/?token=a+b/\xE2\x80\xA6(6 chars)&member_no=m&reconnect_cnt=0&ga_data=x",
              TesselSDK::SignallingUrlForLog("h", "i", "a+b/cd", "m", "x", 0));
}

TEST(GaData, PcNameIsCutAtFifteenBytes) {
    EXPECT_EQ("12345678901234", TesselSDK::ShortenPcName("12345678901234"));
    EXPECT_EQ("12345678901234...", TesselSDK::ShortenPcName("123456789012345"));
    EXPECT_EQ("", TesselSDK::ShortenPcName(""));
}

TEST(GaData, TextIsCompactAndRepairsBadBytes) {
    nlohmann::ordered_json ga;
    ga["b"] = "\xC3\xA9";  // é stays as it is
    ga["a"] = "x\xC3";      // a cut multi-byte character
    EXPECT_EQ("{\"b\":\"\xC3\xA9\",\"a\":\"x\xEF\xBF\xBD\"}", TesselSDK::GaDataText(ga));
}
