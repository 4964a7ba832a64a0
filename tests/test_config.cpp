// The remote configuration (parse and profile lookup) and the initialisation
// through the C interface, against the service double as configuration host.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "capi/handle.h"
#include "core/cdn_config.h"
#include "core/link_logic_impl.h"
#include "sdk_session.h"
#include "tesselsdk/tesselsdk.h"
#include "util/text.h"
#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

using testsupport::ScopedEnv;

namespace {

template <typename... T> std::string Join(const T&... parts) {
    std::ostringstream out;
    ((out << parts << '|'), ...);
    return out.str();
}

auto Parse(const std::string& body, const std::string& id = "GAME") { return TesselSDK::ParseCdnConfig(body, id); }

std::string Rows(const TesselSDK::CdnConfig& c) {
    return Join(c.webSocketUrl, c.turnApiUrl, c.eventApiUrl, c.windowsEventsApiUrl, c.sentryEnable, c.sentryDsn,
                c.sqm.metric_collect_interval_s, c.bitrateProfiles.size());
}

std::string Fields(const TesselSDK::CdnConfig& c, const std::string& name) {
    const TesselSDK::BitrateProfile& p = c.bitrateProfiles.at(name);
    return Join(p.MaxBitrate, p.MinBitrate, p.Fps, p.MinQP, p.MaxQP, p.H264Profile, p.Multipass, p.EncoderPreset,
                p.RateControl, p.DegradationPreference);
}

// Every row, with `unreal` as the bitrate section: its Rows() are kAllRows + the profile count.
std::string Document(const std::string& unreal, const std::string& interval = "4") {
    return R"({"virivizar_ss":{"ws":{"kr":"ws.host"}},"virivizar_turn":{"api":{"kr":"https://turn"}},
        "virivizar_event":{"api":{"kr":"https://event"}},"virivizar_windows_events":{"api":{"kr":"https://win"}},
        "virivizar_sentry":{"enable":true,"dsn":"https://k@dsn/1"},"virivizar_sqm":{"metric_collect_interval_s":)" +
           interval + R"(},"virivizar_bitrate":{"Unreal":)" + unreal + "}}";
}
const std::string kAllRows = "ws.host|https://turn|https://event|https://win|1|https://k@dsn/1|4|";

const char kDoc[] = "/application_no/STATIC/halyxapp/streaming/config_streaming.json";
const std::string kToken = "tok+en/with=chars&more-0123456789abcdef";
const std::string kMaskedToken = "tok+\xE2\x80\xA6(" + std::to_string(kToken.size()) + " chars)";
const std::string kWs = R"("virivizar_ss":{"ws":{"kr":"signal.example"}})";
const std::string kAuto = R"("virivizar_bitrate":{"Unreal":{"AUTO":{"MaxBitrate":3,"Fps":30,"MinQP":10}}})";
std::vector<std::string> g_calls;
bool g_throwInStreamer = false;
std::string g_url;

class InitFlow : public ::testing::Test {
protected:
    using Handle = std::unique_ptr<TesselSDKHandle, decltype(&TesselSDK_Destroy)>;
    void SetUp() override {
        testsupport::ResetServer();
        TesselSDK::Logger::Instance().Init();
        log.emplace();
        g_calls.clear();
    }
    // The lines logged since SetUp once one holds `last`, each after its time stamp: "[LEVEL] message".
    std::vector<std::string> LogLines(const std::string& last) {
        EXPECT_TRUE(log->WaitFor(last)) << last;
        auto lines = log->Lines();
        for (auto& line : lines) line.erase(0, 26);
        return lines;
    }
    static Handle Run() {
        Handle h(TesselSDK_Create("5.6.7", 4), &TesselSDK_Destroy);
        TesselSDK_SetBitrateCallback(h.get(), [](int a, int b, int c) { g_calls.push_back(Join("bitrate", a, b, c)); });
        TesselSDK_SetInitSentry(
            h.get(), [](const char* d, const char* e, const char* r) { g_calls.push_back(Join("sentry", d, e, r)); });
        TesselSDK_SetCreateStreamer(h.get(), [](const char*, const char* url) {
            g_calls.push_back("streamer");
            g_url = url;
            if (g_throwInStreamer) throw std::runtime_error("host failure");
        });
        TesselSDK_SetStartStreaming(h.get(), [] { g_calls.push_back("start"); });
        TesselSDK_Initialize(h.get(), [](bool ok) { g_calls.push_back(Join("init", ok)); });
        return h;
    }
    static void Serve(const std::string& body, const std::string& env = "live") {
        ServeRoute({{"status", 200}, {"body", body}}, env);
    }
    static void ServeRoute(nlohmann::json route, const std::string& env = "live") {
        route["path"] = "/cdn-" + env + "/" + env + kDoc;
        testsupport::AddRoute(route);
    }
    std::optional<testsupport::LogWindow> log;
    ScopedEnv gate{"streaming_yn", "y"}, env{"ENV"}, member{"member_no", "M/77"}, game{"game_id", "GAME1"},
        token{"OMBREL_ACCESS_TOKEN", kToken}, host{"COMPUTERNAME", "123456789012345"};
};
using SlowInitFlow = InitFlow;

#if defined(_WIN32)
int OpenToWrite(const char* path) {
    return _open(path, _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
}
int (*const Dup)(int) = _dup;
int (*const Dup2)(int, int) = _dup2;
int (*const Close)(int) = _close;
#else
int OpenToWrite(const char* path) { return open(path, O_WRONLY | O_CREAT | O_TRUNC, 0600); }
int (*const Dup)(int) = dup;
int (*const Dup2)(int, int) = dup2;
int (*const Close)(int) = close;
#endif

// Gathers what the process writes to its standard output and error into a file until Stop.
class OutputCapture {
public:
    explicit OutputCapture(std::string path) : path_(std::move(path)) {
        std::fflush(nullptr);
        const int fd = OpenToWrite(path_.c_str());
        for (int i = 0; i < 2 && fd >= 0; ++i) {
            saved_[i] = Dup(i + 1);
            Dup2(fd, i + 1);
        }
        if (fd >= 0) Close(fd);
    }
    ~OutputCapture() { Stop(); }
    OutputCapture(const OutputCapture&) = delete;
    OutputCapture& operator=(const OutputCapture&) = delete;
    // Restores both streams; what was written to them meanwhile.
    std::string Stop() {
        std::fflush(nullptr);
        for (int i = 0; i < 2; ++i) {
            if (saved_[i] < 0) continue;
            Dup2(saved_[i], i + 1);
            Close(saved_[i]);
            saved_[i] = -1;
        }
        return testsupport::ReadFile(path_);
    }

private:
    std::string path_;
    int saved_[2] = {-1, -1};
};

}  // namespace

TEST(ConfigParse, RowsAndWhereAFailingRowOrValueOutside32BitsEndsTheParse) {
    const std::string none = "||||0||5|0|";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", none}, {"not json", none}, {"{\"a\":1} // comment", none}, {"{\"a\":1} trailing", none}, {"[1,2]", none},
        {Document(R"({"AUTO":{}})"), kAllRows + "1|"}, {Document(R"("AUTO")"), kAllRows + "0|"},
        {R"({"virivizar_ss":{"ws":{"kr":"w"}},"virivizar_turn":{"api":{"kr":5}},"virivizar_event":{"api":{"kr":"e"}}})",
         "w||||0||5|0|"},  // a row of another type ends the parse
        {R"({"virivizar_ss":"t","virivizar_turn":{"api":[1]},"virivizar_event":{"api":{"kr":"e"}}})", "||e||0||5|0|"},
        {R"({"virivizar_sentry":{"enable":"true","dsn":"d1"}})", "||||0|d1|5|0|"},
        {R"({"virivizar_sentry":{"enable":true,"dsn_unreal":"","dsn":"d1"}})", "||||1||5|0|"},
        {R"({"virivizar_sentry":{"dsn_unreal":"d2","dsn":"d1"}})", "||||0|d2|5|0|"},
        {R"({"virivizar_sentry":{"dsn":7},"virivizar_bitrate":{"Unreal":{"AUTO":{}}}})", none},
    };
    for (const auto& c : cases) EXPECT_EQ(c.second, Rows(Parse(c.first))) << c.first;
    // Profiles are read in document order: "b" raises, so "a" stays and "c" is never read. An interval of the
    // metrics section of another type ends the parse too: the rows before it stay, the profiles are never read.
    for (const char* bad : {R"("MaxBitrate":"letters")", R"("MaxBitrate":"99999999999")", R"("MaxBitrate":null)",
                            R"("MaxBitrate":[1])", R"("MaxBitrate":2147483648)", R"("MaxBitrate":-2147483649)",
                            R"("MaxBitrate":1e300)", R"("MinQP":3000000000)"}) {
        const auto c = Parse(Document(std::string(R"({"a":{"Fps":1},"b":{"Fps":2,)") + bad + R"(},"c":{}})"));
        EXPECT_TRUE(Rows(c) == kAllRows + "1|" && c.bitrateProfiles.count("a")) << bad;
    }
    EXPECT_EQ(Rows(Parse(Document("null", "5"))), Rows(Parse(Document(R"({"P":{}})", "\"ten\""))));
    // A number outside 32 bits takes that interval's default with a WARN line, and the rest is read.
    for (const char* v : {"4294967356", "-2147483649", "1e10"}) {
        std::vector<std::string> warnings;
        const auto c = TesselSDK::ParseCdnConfig(Document(R"({"P":{}})", v), "GAME",
                                                 [&](const std::string& line) { warnings.push_back(line); });
        EXPECT_EQ("ws.host|https://turn|https://event|https://win|1|https://k@dsn/1|5|1|", Rows(c)) << v;
        EXPECT_EQ(std::vector<std::string>{"[TesselSDK::SQM] metric_collect_interval_s " +
                                           nlohmann::ordered_json::parse(v).dump() +
                                           " is out of range; the default 5 is used."},
                  warnings);
    }
}

TEST(ConfigParse, ProfileValuesConvertedOrKeptAtTheirDefaultsAndLookedUp) {
    auto c = Parse(Document(R"({"n":5, "arr":[1],
        "text":{"MaxBitrate":"  -45xyz","MinBitrate":"123","Fps":true,"MinQP":"30","MaxQP":51.9,"Multipass":"FULL",
            "H264Profile":"BASELINE","EncoderPreset":"ULTRA_LOW_LATENCY","DegradationPreference":"BALANCED"},
        "lim":{"MaxBitrate":2147483647,"MinBitrate":-2147483648,"Fps":-7.9,"MinQP":0,"RateControl":"ConstQP"},
        "wrong":{"MaxBitrate":7.9,"MinQP":-1,"MaxQP":52,"H264Profile":"high","Multipass":1,"EncoderPreset":null,
                 "RateControl":"cbr","DegradationPreference":["BALANCED"],"Fps":25}})"));
    const std::string enums = "HIGH|DISABLED|LOW_QUALITY|CBR|MAINTAIN_FRAMERATE|";
    EXPECT_EQ(3u, c.bitrateProfiles.size()) << "members that are not objects are skipped";
    EXPECT_EQ("-45|123|1|30|51|BASELINE|FULL|ULTRA_LOW_LATENCY|CBR|BALANCED|", Fields(c, "text"));
    EXPECT_EQ("2147483647|-2147483648|-7|0|40|HIGH|DISABLED|LOW_QUALITY|ConstQP|MAINTAIN_FRAMERATE|", Fields(c, "lim"));
    EXPECT_EQ("7|10000000|25|20|40|" + enums, Fields(c, "wrong")) << "values outside their sets keep the defaults";
    // The lookup: the named profile, else "AUTO" (case matters), else none; it never inserts.
    EXPECT_TRUE(!FindBitrateProfile(c, "NOPE") && !FindBitrateProfile(c, nullptr) && FindBitrateProfile(c, "lim"));
    const auto* automatic = &c.bitrateProfiles["AUTO"];
    EXPECT_TRUE(FindBitrateProfile(c, nullptr) == automatic && FindBitrateProfile(c, "LIM") == automatic &&
                c.bitrateProfiles.size() == 4);
    c = Parse(Document(R"([{"Fps":10},7,{"Fps":12}])"));  // an array names its objects by position
    EXPECT_EQ("2|20000000|10000000|12|20|40|" + enums, Join(c.bitrateProfiles.size()) + Fields(c, "2"));
}

TEST_F(InitFlow, GateAndEnvironmentChooseTheDocumentWhateverTheHostLocale) {
    // A host may set a locale whose toupper changes bytes beyond ASCII: only a to z are upper-cased.
    const std::string before = std::setlocale(LC_CTYPE, nullptr);
    if (!std::setlocale(LC_CTYPE, ".1252")) std::setlocale(LC_CTYPE, "en_US.ISO-8859-1");
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
        const auto seen = testsupport::Requests("/cdn-");
        EXPECT_EQ(c.path.empty() ? "0|" : c.path + kDoc, seen.size() == 1 ? seen[0].path : Join(seen.size())) << c.env;
    }
    // U+02B0 is "\xCA\xB0", what such a locale would make of the game id.
    EXPECT_FALSE(Parse(R"({"virivizar_sqm":{"games":{"\u02B0":{"enabled":true}}}})", "\xEA\xB0").sqm.enabled);
    std::setlocale(LC_CTYPE, before.c_str());
    EXPECT_EQ(std::vector<std::string>(11, "init|0|"), g_calls);
    const std::string invalid = "[ERROR] [TesselSDK::Initialize] Invalid ENV value: 'D\xEAV'";
    const auto lines = LogLines(invalid);
    EXPECT_EQ(1, std::count(lines.begin(), lines.end(), invalid));
}

TEST_F(InitFlow, EachOutcomeReportedOnceAfterTheHostCallbacks) {
    ScopedEnv dev("ENV", "dev");
    Serve(R"({"virivizar_event":{"api":{"kr":"https://event.example/n"}},)" + kAuto + "}", "dev");  // no WebSocket host
    EXPECT_STREQ("https://event.example/n", TesselSDK_GetEventApiUrl(Run().get())) << "the rest is kept";
    // A DSN with reporting off goes to the host with ENV as read; without profiles the default bit rate applies.
    Serve("{" + kWs + R"(,"virivizar_sentry":{"enable":false,"dsn":"https://key@reporter.example/3"}})", "dev");
    Run();
    Serve("{" + kWs + "," + kAuto + R"(,"virivizar_sentry":{"enable":true,"dsn":""}})", "dev");  // no DSN: no reporter
    Run();
    g_throwInStreamer = true;  // the host's exception stays in the library
    EXPECT_NO_THROW(Run());
    g_throwInStreamer = false;
    EXPECT_EQ((std::vector<std::string>{
                  "init|0|", "sentry|https://key@reporter.example/3|dev|unreal-vuzavedurozazi-tesselsdk|",
                  "bitrate|10000000|20000000|60|", "streamer", "start", "init|1|", "bitrate|10000000|3|30|", "streamer",
                  "start", "init|1|", "bitrate|10000000|3|30|", "streamer", "init|0|"}),
              g_calls);
}

TEST_F(InitFlow, FullInitialisationLogsTheTokenOnlyMasked) {
    // An interval out of range before the profiles costs only that interval.
    Serve("{" + kWs + R"(,"virivizar_sqm":{"start_streaming_push_delay_s":4294967356},)" + kAuto + "}");
    ScopedEnv badGame("game_id", "G\xC3\xA9\xFF");  // the GA data repairs what is not UTF-8
    const auto h = Run();
    auto& logic = *static_cast<TesselSDK::LinkLogicImpl*>(h->logic.load());
    TesselSDK::EncoderSettings enc;  // an unknown profile gives "AUTO"
    EXPECT_TRUE(logic.GetEncoderConfig("NOPE", &enc));
    EXPECT_EQ("10|40|HIGH|CBR|", Join(enc.MinQP, enc.MaxQP, enc.H264Profile, enc.RateControl));
    EXPECT_EQ((std::vector<std::string>{"bitrate|10000000|3|30|", "streamer", "start", "init|1|"}), g_calls);
    // The URL carries the logged GA data, Base64 and then URL encoded.
    const auto lines = LogLines("Full Signalling URL");
    const std::string gaPrefix = "[DEBUG]   GA Data (JSON): ";
    const auto gaLine = std::find_if(lines.begin(), lines.end(), [&](const auto& l) { return !l.rfind(gaPrefix, 0); });
    ASSERT_NE(lines.end(), gaLine);
    const std::string gaText = gaLine->substr(gaPrefix.size());
    const std::string head = "wss://signal.example/s/" + logic.StreamerId() + "/?token=";
    const std::string tail =
        "&member_no=M%2F77&reconnect_cnt=0&ga_data=" + TesselSDK::UrlEncode(TesselSDK::Base64Encode(gaText));
    EXPECT_EQ(head + "tok%2Ben%2Fwith%3Dchars%26more-0123456789abcdef" + tail, g_url);
    std::string ga = gaText;  // its time in milliseconds and the GPU series replaced
    ga.replace(ga.find(R"("series":")") + 10, std::string::npos, R"(S"}})");
    ga.replace(ga.find(R"("start_dt":"1)") + 12, 13, "T");
    EXPECT_EQ(R"({"game_id":"G)" "\xC3\xA9\xEF\xBF\xBD" R"(","platform":"Windows","pc_name":"12345678901234...",)"
              R"("ge_type":4,"start_dt":"T","streamer_id":")" + logic.StreamerId() +
                  R"(","gc_info":{"nv_enc":1,"series":"S"}})", ga);
    // The token reaches the log only masked, never raw or encoded.
    EXPECT_EQ(1, std::count(lines.begin(), lines.end(), "[DEBUG]   Token: " + kMaskedToken));
    EXPECT_EQ(1, std::count(lines.begin(), lines.end(),
                            "[WARN] [TesselSDK::SQM] start_streaming_push_delay_s 4294967356 is out of range; the "
                            "default 60 is used."));
    EXPECT_EQ(1, std::count(lines.begin(), lines.end(),
                            "[DEBUG] [TesselSDK::Initialize] Full Signalling URL: " + head + kMaskedToken + tail));
    for (const auto& line : lines)
        EXPECT_TRUE(line.find(kToken) == std::string::npos && line.find("tok%2Ben") == std::string::npos) << line;
}

TEST_F(InitFlow, OwnReporterReportsStartAndShutdownAndWritesNothingToTheHostsOutput) {
    const std::string port = testsupport::ServerUrl().substr(testsupport::ServerUrl().rfind(':') + 1);
    const std::string dsn = "http://key@127.0.0.1:" + port + "/42";
    Serve("{" + kWs + R"(,"virivizar_sentry":{"enable":true,"dsn_unreal":")" + dsn + "\"}}");
    // With its debug setting on, the reporter keeps to itself the service's answers, its traces and
    // what it makes of an earlier run's session whose start it cannot read.
    testsupport::AddRoute({{"prefix", "/api/42/envelope/"}, {"status", 200}, {"body", std::string(20000, 'i')}});
    std::filesystem::create_directories(".sentry-native/0.run");
    std::ofstream(".sentry-native/0.run/session.json")
        << R"({"started":"2020-01-01T00:00:00.5zzzzzZ","attrs":{"release":"r"}})";
    OutputCapture output("reporter-output.txt");
    const auto h = Run();
    testsupport::WaitForRequests("/api/42/envelope/", 1);
    TesselSDK_Shutdown(h.get());  // reports, flushes and closes the reporter
    const std::string written = output.Stop();
    EXPECT_EQ(0u, written.size()) << written.substr(0, 500);
    EXPECT_EQ("bitrate|10000000|20000000|60|", g_calls.front()) << "the host's InitSentry is not used";
    std::string bodies;  // the start event with the tags, the shutdown event with the breadcrumb of the completed start
    for (const auto& r : testsupport::Requests("/api/42/envelope/")) bodies += r.body;
    for (const char* fact : {R"(initialized successfully")", R"(shutting down")", R"("TESSELSDK_ENV":"LIVE")",
                             R"("lifecycle","message":"TesselSDK initialization complete")",
                             R"("TESSELSDK_GAME_ID":"GAME1")", R"("release":"unreal-vuzavedurozazi-tesselsdk")"})
        EXPECT_NE(std::string::npos, bodies.find(fact)) << fact;
    // Our reporter lines in order (the reporter's own "[Sentry] " lines left out), each event id the one sent.
    std::vector<std::string> steps;
    for (std::string line : LogLines("Final StreamerId")) {
        const std::string text = line.substr(line.find("] ") + 2);
        const bool wrapper = !text.rfind("[Sentry] Event captured: ", 0) || !text.rfind("[Sentry] Breadcrumb: ", 0);
        const bool own = text.rfind("[Sentry] ", 0) == 0;  // the reporter's, or a wrapper's
        const bool named = text.find("Sentry") != std::string::npos || text.find("Shutdown]") != std::string::npos;
        if (!wrapper && (own || !named)) continue;
        if (!text.rfind("[Sentry] Event captured: ", 0)) {
            const std::string id = line.substr(line.size() - std::min<size_t>(36, line.size()));
            EXPECT_NE(std::string::npos, bodies.find("\"event_id\":\"" + id + "\"")) << line;
            line.resize(line.size() - id.size());
        }
        steps.push_back(line);
    }
    EXPECT_EQ((std::vector<std::string>{"[DEBUG] [Sentry] Breadcrumb: CDN configuration loaded",
                                        "[INFO] [TesselSDK] Debug: Parsed Sentry config: enable=true, dsn=" + dsn,
                                        "[INFO] [TesselSDK::Initialize] Sentry initialization successful!",
                                        "[DEBUG] [TesselSDK::Initialize] Sentry tags configured",
                                        "[DEBUG] [Sentry] Event captured: ",
                                        "[DEBUG] [Sentry] Breadcrumb: TesselSDK initialization complete",
                                        "[INFO] [TesselSDK::Shutdown] Shutting down...",
                                        "[DEBUG] [Sentry] Event captured: ",
                                        "[DEBUG] [Sentry] Breadcrumb: TesselSDK shutdown initiated",
                                        "[DEBUG] [TesselSDK::Shutdown] Sentry closed",
                                        "[DEBUG] [TesselSDK::Shutdown] Final StreamerId: " +
                                            static_cast<TesselSDK::LinkLogicImpl*>(h->logic.load())->StreamerId()}),
              steps);
}

TEST_F(InitFlow, UnusableConfigurationAnswersFailOnceAndSlowOrHugeOnesDoNot) {
    std::string huge = "{" + kWs + R"(,"padding":")" + std::string(5 << 20, 'p') + R"(","virivizar_bitrate":{"Unreal":{)";
    for (int i = 0; i < 2000; ++i) huge += (i ? ",\"P" : "\"P") + std::to_string(i) + "\":{\"Fps\":1}";
    const nlohmann::json routes[] = {
        {{"status", 500}, {"body", "internal error"}},
        {{"status", 200}, {"body_b64", TesselSDK::Base64Encode("<html>\xff\xfe</html>")}},
        {{"mode", "reset"}},  // mid-body: a transport failure or a truncated document, as the client notices
        {{"status", 200}, {"body", "{" + kWs + "}"}, {"delay_ms", 1500}},
        {{"status", 200}, {"body", huge + "}}}"}}};
    for (const auto& route : routes) {
        testsupport::ResetServer();
        ServeRoute(route);
        Run();
    }
    const std::vector<std::string> ok = {"bitrate|10000000|20000000|60|", "streamer", "start", "init|1|"};
    std::vector<std::string> expected(3, "init|0|");
    for (int i = 0; i < 2; ++i) expected.insert(expected.end(), ok.begin(), ok.end());
    EXPECT_EQ(expected, g_calls);
    EXPECT_TRUE(log->WaitFor("CDN fetch failed with HTTP code: 500"));
    EXPECT_TRUE(log->WaitFor("Failed to parse WebSocket URL from CDN config"));
}

TEST_F(SlowInitFlow, ConfigurationServerThatNeverAnswersIsBoundedByTheDefaultTimeouts) {
    ServeRoute({{"mode", "hang"}});
    const auto start = std::chrono::steady_clock::now();
    Run();
    // WinHTTP waits for the response headers at most 90 s (set explicitly, so Wine is
    // bounded too), the Linux client 30 s without progress; the server hangs for 120 s.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(100));
    EXPECT_EQ(std::vector<std::string>{"init|0|"}, g_calls);
    EXPECT_TRUE(log->WaitFor("CDN fetch failed with HTTP code: 0"));
}
