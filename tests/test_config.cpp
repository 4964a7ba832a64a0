// The remote configuration (parse and profile lookup) and the initialisation
// through the C interface, against the service double as configuration host.
#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <functional>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "capi/handle.h"
#include "core/cdn_config.h"
#include "core/link_logic_impl.h"
#include "log/logger.h"
#include "test_support.h"
#include "tesselsdk/tesselsdk.h"
#include "util/text.h"

using TesselSDK::CdnConfig;
using testsupport::ScopedEnv;

namespace {

CdnConfig Parse(const std::string& body, const std::string& gameId = "GAME") {
    return TesselSDK::ParseCdnConfig(body, gameId);
}

// ws|turn|event|windows|enable|dsn|collect interval|profile count
std::string Rows(const CdnConfig& c) {
    return c.webSocketUrl + "|" + c.turnApiUrl + "|" + c.eventApiUrl + "|" + c.windowsEventsApiUrl + "|" +
           (c.sentryEnable ? "on" : "off") + "|" + c.sentryDsn + "|" + std::to_string(c.sqm.metric_collect_interval_s) +
           "|" + std::to_string(c.bitrateProfiles.size());
}

// Every row, with `unreal` as the bitrate section: its Rows() are kAllRows + profile count.
std::string Document(const std::string& unreal) {
    return R"({"virivizar_ss":{"ws":{"kr":"ws.host"}},"virivizar_turn":{"api":{"kr":"https://turn"}},
        "virivizar_event":{"api":{"kr":"https://event"}},"virivizar_windows_events":{"api":{"kr":"https://win"}},
        "virivizar_sentry":{"enable":true,"dsn":"https://k@dsn/1"},"virivizar_sqm":{"metric_collect_interval_s":4},
        "virivizar_bitrate":{"Unreal":)" + unreal + "}}";
}
const std::string kAllRows = "ws.host|https://turn|https://event|https://win|on|https://k@dsn/1|4|";

std::string Fields(const CdnConfig& c, const std::string& name) {
    if (!c.bitrateProfiles.count(name)) return "missing";
    const TesselSDK::BitrateProfile& p = c.bitrateProfiles.at(name);
    return std::to_string(p.MaxBitrate) + " " + std::to_string(p.MinBitrate) + " " + std::to_string(p.Fps) + " " +
           std::to_string(p.MinQP) + " " + std::to_string(p.MaxQP) + " " + p.H264Profile + " " + p.Multipass + " " +
           p.EncoderPreset + " " + p.RateControl + " " + p.DegradationPreference;
}

}  // namespace

TEST(ConfigParse, RowsAndWhereAFailingRowEndsTheParse) {
    const std::string none = "||||off||5|0";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", none}, {"not json", none}, {"{\"a\":1} // comment", none}, {"{\"a\":1} trailing", none},
        {"[1,2]", none}, {"\"text\"", none}, {Document(R"({"AUTO":{}})"), kAllRows + "1"},
        {Document(R"("AUTO")"), kAllRows + "0"}, {Document("null"), kAllRows + "0"},
        {R"({"virivizar_ss":{"ws":{"kr":"w"}},"virivizar_turn":{"api":{"kr":5}},"virivizar_event":{"api":{"kr":"e"}}})",
         "w||||off||5|0"},  // a row of another type ends the parse
        {R"({"virivizar_ss":"text","virivizar_turn":{"api":[1]},"virivizar_event":{"api":{"kr":"e"}}})", "||e||off||5|0"},
        {R"({"virivizar_sentry":{"enable":"true","dsn":"d1"}})", "||||off|d1|5|0"},
        {R"({"virivizar_sentry":{"enable":true,"dsn_unreal":"","dsn":"d1"}})", "||||on||5|0"},
        {R"({"virivizar_sentry":{"dsn_unreal":"d2","dsn":"d1"}})", "||||off|d2|5|0"},
        {R"({"virivizar_sentry":{"dsn":7},"virivizar_bitrate":{"Unreal":{"AUTO":{}}}})", none},
    };
    for (const auto& c : cases) EXPECT_EQ(c.second, Rows(Parse(c.first))) << c.first;
}

TEST(ConfigParse, ValueOutside32BitsOrOfAnotherTypeEndsTheParse) {
    // Profiles are read in document order: "b" raises, so "a" stays and "c" is never read.
    for (const char* bad : {R"("MaxBitrate":"letters")", R"("MaxBitrate":"99999999999")", R"("MaxBitrate":null)",
                            R"("MaxBitrate":[1])", R"("MaxBitrate":2147483648)", R"("MaxBitrate":-2147483649)",
                            R"("MaxBitrate":1e300)", R"("MinQP":3000000000)"}) {
        const CdnConfig c = Parse(Document(std::string(R"({"a":{"Fps":1},"b":{"Fps":2,)") + bad + R"(},"c":{}})"));
        EXPECT_TRUE(Rows(c) == kAllRows + "1" && c.bitrateProfiles.count("a")) << bad;
    }
    // So does an interval of the metrics section: the rows before it stay, the profiles are never read.
    for (const std::string bad : {"\"ten\"", "4294967296", "-2147483649", "1e10"}) {
        EXPECT_EQ("w||||on|d|5|0", Rows(Parse(R"({"virivizar_ss":{"ws":{"kr":"w"}},"virivizar_sentry":{"enable":true,
            "dsn":"d"},"virivizar_sqm":{"metric_collect_interval_s":)" + bad + R"(},"virivizar_bitrate":{"Unreal":{}}})")))
            << bad;
    }
}

TEST(ConfigParse, ProfileValuesConvertedOrKeptAtTheirDefaultsAndLookedUp) {
    CdnConfig c = Parse(Document(R"({"none":{}, "n":5, "arr":[1],
        "text":{"MaxBitrate":"  -45xyz","MinBitrate":"123","Fps":true,"MinQP":"30","MaxQP":51.9,"H264Profile":"BASELINE",
                "Multipass":"FULL","EncoderPreset":"ULTRA_LOW_LATENCY","RateControl":"ConstQP","DegradationPreference":"BALANCED"},
        "ends":{"MaxBitrate":2147483647,"MinBitrate":-2147483648,"Fps":-7.9,"MinQP":0,"MaxQP":51},
        "wrong":{"MaxBitrate":7.9,"MinQP":-1,"MaxQP":52,"H264Profile":"high","Multipass":1,"EncoderPreset":null,
                 "RateControl":"cbr","DegradationPreference":["BALANCED"],"Fps":25}})"));
    const std::string enums = " HIGH DISABLED LOW_QUALITY CBR MAINTAIN_FRAMERATE";
    EXPECT_EQ(4u, c.bitrateProfiles.size()) << "members that are not objects are skipped";
    EXPECT_EQ("20000000 10000000 60 20 40" + enums, Fields(c, "none"));
    EXPECT_EQ("-45 123 1 30 51 BASELINE FULL ULTRA_LOW_LATENCY ConstQP BALANCED", Fields(c, "text"));
    EXPECT_EQ("2147483647 -2147483648 -7 0 51" + enums, Fields(c, "ends"));
    EXPECT_EQ("7 10000000 25 20 40" + enums, Fields(c, "wrong")) << "values outside their sets keep the defaults";
    // The lookup: the named profile, else "AUTO" (case matters), else none; it never inserts.
    EXPECT_TRUE(!FindBitrateProfile(c, "NOPE") && !FindBitrateProfile(c, nullptr));
    EXPECT_EQ(&c.bitrateProfiles.at("ends"), FindBitrateProfile(c, "ends"));
    const auto* automatic = &c.bitrateProfiles["AUTO"];
    EXPECT_TRUE(FindBitrateProfile(c, nullptr) == automatic && FindBitrateProfile(c, "ENDS") == automatic);
    EXPECT_EQ(5u, c.bitrateProfiles.size());
    c = Parse(Document(R"([{"Fps":10},7,{"Fps":12}])"));  // an array names its objects by position
    EXPECT_EQ("2 20000000 10000000 12 20 40" + enums, std::to_string(c.bitrateProfiles.size()) + " " + Fields(c, "2"));
}

namespace {

const char kDoc[] = "/application_no/STATIC/halyxapp/streaming/config_streaming.json";
const std::string kLiveDoc = std::string("/cdn-live/live") + kDoc;
const std::string kToken = "tok+en/with=chars&more-0123456789abcdef";
const std::string kMaskedToken = "tok+\xE2\x80\xA6(" + std::to_string(kToken.size()) + " chars)";
std::vector<std::string> g_calls;
bool g_throwInStreamer = false;
std::string g_url;

// Each log line after its time stamp: "[LEVEL] message".
std::vector<std::string> LogLines() {
    TesselSDK::Logger::Instance().Stop();
    auto lines = testsupport::ReadLines(TesselSDK::Logger::Instance().CurrentLogFilePath());
    for (auto& line : lines) line.erase(0, 26);
    return lines;
}
long Count(const std::vector<std::string>& lines, const std::string& line) {
    return static_cast<long>(std::count(lines.begin(), lines.end(), line));
}

nlohmann::json FullDoc() {
    return nlohmann::json::parse(R"({"virivizar_ss":{"ws":{"kr":"signal.example"}},
        "virivizar_event":{"api":{"kr":"https://event.example/n"}},"virivizar_bitrate":{"Unreal":{"AUTO":{
        "MinBitrate":1000,"MaxBitrate":3000,"Fps":30,"MinQP":10,"H264Profile":"MAIN"}}}})");
}

class InitFlow : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::ResetServer();
        TesselSDK::Logger::Instance().Stop();
        g_calls.clear();
    }
    // One handle with every callback set, initialised once; `inspect` sees it before Destroy.
    void Run(const std::function<void(TesselSDKHandle*, TesselSDK::LinkLogicImpl&)>& inspect = nullptr) {
        TesselSDKHandle* h = TesselSDK_Create("5.6.7", 4);
        TesselSDK_SetBitrateCallback(h, [](int a, int b, int c) {
            g_calls.push_back("bitrate:" + std::to_string(a) + "," + std::to_string(b) + "," + std::to_string(c));
        });
        TesselSDK_SetInitSentry(h, [](const char* dsn, const char* environment, const char* release) {
            g_calls.push_back(std::string("sentry:") + dsn + "," + environment + "," + release);
        });
        TesselSDK_SetCreateStreamer(h, [](const char*, const char* url) {
            g_calls.push_back("streamer");
            g_url = url;
            if (g_throwInStreamer) throw std::runtime_error("host failure");
        });
        TesselSDK_SetStartStreaming(h, [] { g_calls.push_back("start"); });
        TesselSDK_Initialize(h, [](bool ok) { g_calls.push_back(ok ? "init:1" : "init:0"); });
        if (inspect) inspect(h, *static_cast<TesselSDK::LinkLogicImpl*>(h->logic.load()));
        TesselSDK_Destroy(h);
    }
    void Serve(const nlohmann::json& doc, const std::string& path = kLiveDoc) {
        testsupport::AddRoute({{"path", path}, {"status", 200}, {"body", doc.dump()}});
    }
    ScopedEnv gate{"streaming_yn", "y"}, env{"ENV"}, member{"member_no", "M/77"}, game{"game_id", "GAME1"},
        token{"OMBREL_ACCESS_TOKEN", kToken}, host{"COMPUTERNAME", "123456789012345"};
};

}  // namespace

TEST_F(InitFlow, GateAndEnvironmentChooseTheDocumentWhateverTheHostLocale) {
    // A host may set a locale whose toupper changes bytes beyond ASCII: only a to z are upper-cased.
    const std::string before = std::setlocale(LC_CTYPE, nullptr);
    for (const char* name : {".1252", "en_US.ISO-8859-1", "de_DE.ISO-8859-1"}) {
        if (std::setlocale(LC_CTYPE, name)) break;
    }
    const struct { const char* gate; const char* env; std::string path; } cases[] = {  // gate null: unset
        {nullptr, "", ""}, {"", "", ""}, {"n", "", ""}, {"N", "", "/cdn-live/live"}, {"no", "live", "/cdn-live/live"},
        {"0", "zeph8", "/cdn-sandbox/sandbox"}, {"y", "SANDBOX", "/cdn-sandbox/sandbox"},
        {"y", "Dev2", "/cdn-dev2/dev2"}, {"y", "qa", "/cdn-qa/qa"}, {"y", "prod", ""}, {"y", "d\xEAv", ""},
    };
    for (const auto& c : cases) {
        testsupport::ResetServer();
        ScopedEnv g = c.gate ? ScopedEnv("streaming_yn", c.gate) : ScopedEnv("streaming_yn");
        ScopedEnv e("ENV", c.env);
        Run();
        std::string seen;
        for (const auto& r : testsupport::Requests("/cdn-")) seen += r.method + " " + r.path + ";";
        EXPECT_EQ(c.path.empty() ? "" : "GET " + c.path + kDoc + ";", seen) << c.env;
    }
    // U+02B0 is "\xCA\xB0", what such a locale would make of the game id.
    EXPECT_FALSE(Parse(R"({"virivizar_sqm":{"games":{"\u02B0":{"enabled":true}}}})", "\xEA\xB0").sqm.enabled);
    std::setlocale(LC_CTYPE, before.c_str());
    EXPECT_EQ(std::vector<std::string>(11, "init:0"), g_calls);
    EXPECT_EQ(1, Count(LogLines(), "[ERROR] [TesselSDK::Initialize] Invalid ENV value: 'D\xEAV'"));
}

TEST_F(InitFlow, EachOutcomeReportedOnceAfterTheHostCallbacks) {
    Run();  // nothing scripted: 404
    testsupport::AddRoute({{"path", kLiveDoc}, {"status", 200}, {"body", "not json"}});
    Run();
    auto doc = FullDoc();
    doc.erase("virivizar_ss");
    Serve(doc);
    std::string eventApiUrl;  // the rest of the configuration is kept
    Run([&](TesselSDKHandle* h, TesselSDK::LinkLogicImpl&) { eventApiUrl = TesselSDK_GetEventApiUrl(h); });
    EXPECT_EQ("https://event.example/n", eventApiUrl);
    // A DSN with reporting off goes to the host with ENV as read; without profiles the default bit rate applies.
    doc = FullDoc();
    doc.erase("virivizar_bitrate");
    doc["virivizar_sentry"] = {{"enable", false}, {"dsn", "https://key@reporter.example/3"}};
    Serve(doc, std::string("/cdn-dev/dev") + kDoc);
    {
        ScopedEnv e("ENV", "dev");
        Run();
    }
    doc = FullDoc();  // reporting on without a DSN starts nothing
    doc["virivizar_sentry"] = {{"enable", true}, {"dsn", ""}};
    Serve(doc);
    Run();
    g_throwInStreamer = true;  // the host's exception stays in the library
    EXPECT_NO_THROW(Run());
    g_throwInStreamer = false;
    EXPECT_EQ((std::vector<std::string>{"init:0", "init:0", "init:0",
                                        "sentry:https://key@reporter.example/3,dev,unreal-vuzavedurozazi-tesselsdk",
                                        "bitrate:10000000,20000000,60", "streamer", "start", "init:1",
                                        "bitrate:1000,3000,30", "streamer", "start", "init:1",
                                        "bitrate:1000,3000,30", "streamer", "init:0"}),
              g_calls);
    EXPECT_EQ(1, Count(LogLines(), "[ERROR] [TesselSDK::Initialize] CDN fetch failed with HTTP code: 404, "
                                   "Response: no configuration scripted"));
}

TEST_F(InitFlow, FullInitialisationLogsTheTokenOnlyMasked) {
    Serve(FullDoc());
    ScopedEnv badGame("game_id", "G\xC3\xA9\xFF");  // the GA data repairs what is not UTF-8
    std::string id;
    Run([&](TesselSDKHandle*, TesselSDK::LinkLogicImpl& logic) {
        id = logic.StreamerId();
        TesselSDK::EncoderSettings enc;  // an unknown profile gives "AUTO"
        EXPECT_TRUE(logic.GetEncoderConfig("NOPE", &enc));
        EXPECT_EQ("10 40 MAIN CBR", std::to_string(enc.MinQP) + " " + std::to_string(enc.MaxQP) + " " +
                                        enc.H264Profile + " " + enc.RateControl);
    });
    EXPECT_EQ((std::vector<std::string>{"bitrate:1000,3000,30", "streamer", "start", "init:1"}), g_calls);
    // The URL carries the logged GA data, Base64 and then URL encoded.
    const auto lines = LogLines();
    const std::string gaPrefix = "[DEBUG]   GA Data (JSON): ";
    const auto ga = std::find_if(lines.begin(), lines.end(), [&](const std::string& l) { return !l.rfind(gaPrefix, 0); });
    ASSERT_NE(lines.end(), ga);
    const std::string gaText = ga->substr(gaPrefix.size());
    const std::string head = "wss://signal.example/s/" + id + "/?token=";
    const std::string tail = "&member_no=M%2F77&reconnect_cnt=0&ga_data=" +
                             TesselSDK::UrlEncode(TesselSDK::Base64Encode(gaText));
    EXPECT_EQ(head + "tok%2Ben%2Fwith%3Dchars%26more-0123456789abcdef" + tail, g_url);
    EXPECT_EQ(R"({"game_id":"G)" "\xC3\xA9\xEF\xBF\xBD" R"(","platform":"Windows","pc_name":"12345678901234...",)"
              R"("ge_type":4,"start_dt":"T","streamer_id":")" + id + R"(","gc_info":{"nv_enc":1,"series":"S"}})",
              std::regex_replace(gaText, std::regex(R"re("start_dt":"1\d{12}"(.*)"series":"[^"]+")re"),
                                 R"("start_dt":"T"$1"series":"S")"));
    // The token reaches the log only masked, never raw or encoded.
    EXPECT_EQ(1, Count(lines, "[DEBUG]   Token: " + kMaskedToken));
    EXPECT_EQ(1, Count(lines, "[DEBUG] [TesselSDK::Initialize] Full Signalling URL: " + head + kMaskedToken + tail));
    for (const auto& line : lines) {
        EXPECT_TRUE(line.find(kToken) == std::string::npos && line.find("tok%2Ben") == std::string::npos) << line;
    }
}

TEST_F(InitFlow, OwnReporterReportsStartAndShutdown) {
    auto doc = FullDoc();
    const std::string port = testsupport::ServerUrl().substr(testsupport::ServerUrl().rfind(':') + 1);
    doc["virivizar_sentry"] = {{"enable", true}, {"dsn_unreal", "http://publickey@127.0.0.1:" + port + "/42"}};
    Serve(doc);
    Run([](TesselSDKHandle* h, TesselSDK::LinkLogicImpl&) {
        testsupport::WaitForRequests("/api/42/envelope/", 1);
        TesselSDK_Shutdown(h);  // reports, flushes and closes the reporter
    });
    EXPECT_EQ("bitrate:1000,3000,30", g_calls.front()) << "the host's InitSentry is not used";
    // The start event carries the tags, the shutdown event the breadcrumb of the completed start.
    const auto requests = testsupport::Requests("/api/42/envelope/");
    for (const auto& r : requests) EXPECT_NE(std::string::npos, r.Header("X-Sentry-Auth").find("sentry_key=publickey,"));
    std::string seen;
    for (const auto& event : testsupport::EnvelopePayloads(requests, "event")) {
        const auto& tags = event.value("tags", nlohmann::ordered_json::object());
        seen += event["message"].value("formatted", "") + "|" + tags.value("TESSELSDK_ENV", "") + "|" +
                tags.value("TESSELSDK_MEMBER_NO", "") + "|" + tags.value("TESSELSDK_GAME_ID", "") + "|" +
                tags.value("runtime.name", "") + "|" + event.value("release", "") + "|" + event.value("level", "") +
                "|";
        for (const auto& b : event.value("breadcrumbs", nlohmann::ordered_json::array())) seen += b.value("type", "") + ":" + b.value("message", "");
        seen += "\n";
    }
    EXPECT_EQ("TesselSDK initialized successfully|LIVE|M/77|GAME1|UnrealEngine|unreal-vuzavedurozazi-tesselsdk|info|\n"
              "TesselSDK shutting down|LIVE|M/77|GAME1|UnrealEngine|unreal-vuzavedurozazi-tesselsdk|info|"
              "lifecycle:TesselSDK initialization complete\n",
              seen);
}
