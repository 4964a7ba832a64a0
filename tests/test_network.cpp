// Against the service double: the HTTP client (both transports), TURN, mobile notification, telemetry.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>
#if defined(_WIN32)
#include <windows.h>
#endif

#include "core/turn.h"
#include "net/http_client.h"
#include "net/http_redirect_policy.h"
#include "net/http_url.h"
#include "sdk_session.h"
#include "util/cancel.h"
#include "util/clock.h"

using namespace TesselSDK;
using namespace testsupport;
using nlohmann::ordered_json;
using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;
using Servers = std::vector<PlatformInterface::IceServer>;

namespace {

struct Outcome {
    bool result = false;
    int status = -1;
    std::string body;
    std::string Text() const { return std::to_string(result) + " " + std::to_string(status) + " " + body; }
};

std::string Url(const std::string& path) { return ServerUrl() + path; }

// Wine's WinHTTP differs from Windows' in a few places; the tests that meet them say where.
bool UnderWine() {
#if defined(_WIN32)
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}

// Every path of a request calls its completion exactly once, on the caller's thread.
Outcome Request(const std::string& method, const std::string& url, const std::string& body = "",
                const HttpHeaders& headers = {}, int receiveMs = -1) {
    Outcome out;
    int calls = 0;
    const auto caller = std::this_thread::get_id();
    const auto done = [&](int status, const std::string& text) {
        calls += std::this_thread::get_id() == caller ? 1 : 100;
        out.status = status;
        out.body = text;
    };
    const int shortMs = receiveMs < 0 ? -1 : 500;
    out.result = HttpRequest(method, url, method == "POST" ? "application/json" : "", body, headers, done, shortMs,
                             shortMs, receiveMs, receiveMs);
    EXPECT_EQ(1, calls) << url;
    return out;
}
Outcome Get(const std::string& url, const HttpHeaders& headers = {}) { return Request("GET", url, "", headers); }
std::string Fail(const char* text) { return std::string("0 0 ") + text; }

// "Name=value;" for each header line of `r` named in `names`, in the order received.
std::string Picked(const RecordedRequest& r, const std::vector<std::string>& names) {
    std::string out;
    for (const auto& h : r.headers)
        if (std::find(names.begin(), names.end(), h.first) != names.end()) out += h.first + "=" + h.second + ";";
    return out;
}

const char kTurnAnswer[] =
    R"({"value":{"ice_servers":[{"urls":"stun:a:3478","username":"","credential":""},)"
    R"({"urls":["turn:b?transport=udp","turn:b?transport=tcp"],"username":"u1","credential":"s3cr\"et"}]}})";

// Each server as "url,url|username|credential", joined by ";".
std::string Summary(const Servers& servers) {
    std::string out;
    for (const auto& s : servers) {
        out += out.empty() ? "" : ";";
        for (size_t i = 0; i < s.urls.size(); ++i) out += (i ? "," : "") + s.urls[i];
        out += "|" + s.username + "|" + s.credential;
    }
    return out;
}

const char kTelemetryPath[] = "/telemetry/std_halyx";

class Telemetry : public ::testing::Test {
protected:
    void SetUp() override { ResetServer(); }
    ScopedEnv noLanguage{"OMBREL_LANGUAGE"}, noNation{"OMBREL_NATION"};  // the platform fails
};
class SlowTelemetry : public Telemetry {};

}  // namespace

TEST(HttpClient, PostGoesOutByteExactWithItsLinesInOrderAndNoExpectContinue) {
    ResetServer();
    std::string body(1536 * 1024, '\0');
    for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>((i * 7) % 256);
    const HttpHeaders headers = {{"caller-id", "c"}, {"X-Nation", "KR"}, {"Content-Type", "application/json"},
                                 {"Authorization", "Bearer t"}, {"X-Lang", "ko"}, {"Content-Encoding", "identity"}};
    EXPECT_EQ(200, Request("POST", Url("/event/large"), body, headers).status);
    const RecordedRequest r = Requests("/event/large").at(0);
    EXPECT_TRUE(r.method == "POST" && r.body == body && r.Header("User-Agent") == "TesselSDK/1.0");
    // Ours in order (a map entry "Content-Type" is a line of its own); no Accept, Expect, Accept-Encoding.
    EXPECT_EQ("Content-Type=application/json;Authorization=Bearer t;Content-Encoding=identity;"
              "Content-Type=application/json;X-Lang=ko;X-Nation=KR;caller-id=c;",
              Picked(r, {"Content-Type", "Authorization", "Content-Encoding", "X-Lang", "X-Nation", "caller-id",
                         "Accept", "Expect", "Accept-Encoding"}));
}

TEST(HttpClient, BytesReachTheWireUnchangedAndHeaderLinesCannotBeInjected) {
    ResetServer();
    Get(Url("/echo/caf\xC3\xA9 x\xF0\x9F\x98\x80\"<>\\^`{|}\x7F\t?id=%41&q=\xEC\x95\x88"),
        {{"X-Name", "caf\xE9"}, {"X-Text", "\xEC\x95\x88"}, {"X-Empty", ""}, {"X-Lang", "ko\r\nX-Injected: 1"},
         {"X-Cr", "a\rX-Injected: 2"}, {"X-Nul", std::string("a\0X-Injected: 3", 15)}, {"X-Colon: b", "c"}, {"", "x"}});
    Get(Url("/echo/caf\xE9"));  // not UTF-8: each byte is a character of its own
    const auto requests = Requests("/echo");
    const RecordedRequest& r = requests.at(0);
    EXPECT_EQ("GET /echo/caf%C3%A9%20x%F0%9F%98%80%22%3C%3E%5C%5E%60%7B%7C%7D%7F%09?id=%41&q=%EC%95%88 /echo/caf%C3%A9",
              r.method + " " + r.path + " " + requests.at(1).path);
    EXPECT_EQ("X-Empty=;", Picked(r, {"Content-Type", "Transfer-Encoding", "X-Injected", "X-Lang", "X-Cr", "X-Nul",
                                      "X-Colon", "X-Empty"}));
    EXPECT_TRUE(r.body.empty() && (r.Header("Content-Length").empty() || r.Header("Content-Length") == "0"));
    // A header byte goes out as that very byte (the double reports Latin-1 as UTF-8), UTF-8 text included.
    // Wine's WinHTTP writes header text as UTF-8: two bytes there; a byte widened as a signed char would give
    // three, a value decoded as UTF-8 its own bytes.
    EXPECT_EQ(UnderWine() ? "caf\xC3\x83\xC2\xA9 \xC3\x83\xC2\xAC\xC3\x82\xC2\x95\xC3\x82\xC2\x88"
                          : "caf\xC3\xA9 \xC3\xAC\xC2\x95\xC2\x88",
              r.Header("X-Name") + " " + r.Header("X-Text"));
}

TEST(HttpClient, RedirectsAreFollowedAsWinHttpDoesAndCredentialsStayWithTheirOrigin) {
    ResetServer();
    // 307 and 301 send the request again with body and lines, "Authorization" only to the same origin
    // ("localhost" is another host); 302 turns a POST, 303 any method, into a GET without the body.
    const HttpHeaders auth = {{"Authorization", "s"}, {"caller-id", "c"}};
    const std::string elsewhere = "http://localhost" + ServerUrl().substr(ServerUrl().rfind(':')) + "/echo/elsewhere";
    EXPECT_EQ(200, Request("POST", Url("/redirect/307?to=/echo/307"), "{\"b\":2}", auth).status);
    EXPECT_EQ(200, Request("POST", Url("/redirect/307?to=" + elsewhere), "{}", auth).status);
    EXPECT_EQ(200, Request("POST", Url("/redirect/302?to=/echo/302"), "{\"a\":1}").status);
    EXPECT_EQ(200, Request("PUT", Url("/redirect/303?to=/echo/303"), "{\"c\":3}").status);
    AddRoute({{"path", "/dir/page"}, {"status", 301}, {"headers", {{"Location", "sibling?q"}}}});
    EXPECT_EQ(404, Request("PUT", Url("/dir/page"), "x").status);
    std::string seen;
    for (const auto& r : Requests())
        seen += r.method + " " + r.path + " " + r.body + " " + r.Header("Authorization") + r.Header("caller-id") + "\n";
    EXPECT_EQ("POST /redirect/307?to=/echo/307 {\"b\":2} sc\nPOST /echo/307 {\"b\":2} sc\nPOST /redirect/307?to=" +
                  elsewhere + " {} sc\nPOST /echo/elsewhere {} c\nPOST /redirect/302?to=/echo/302 {\"a\":1} \n"
                  "GET /echo/302  \nPUT /redirect/303?to=/echo/303 {\"c\":3} \nGET /echo/303  \nPUT /dir/page x \n"
                  "PUT /dir/sibling?q x \n",
              seen);
    // Not followed: a 304, a redirect without a location; a loop or a location we cannot reach fails.
    AddRoute({{"path", "/nowhere"}, {"status", 302}});
    EXPECT_EQ("304 302", std::to_string(Get(Url("/redirect/304?to=/echo")).status) + " " +
                             std::to_string(Get(Url("/nowhere")).status));
    AddRoute({{"path", "/loop"}, {"status", 302}, {"headers", {{"Location", "/loop"}}}});
    EXPECT_EQ(Fail(kHttpFailReceiveResponse), Get(Url("/loop")).Text());
    EXPECT_EQ(Fail(kHttpFailReceiveResponse), Get(Url("/redirect/302?to=ftp://h/x")).Text());

    // URLs that parsers read two ways ('#', '?' or '\' before an '@'; an escaped host), as a request's own URL
    // and as a Location: each goes to the host the checks read, or nowhere; never to the other host.
    ASSERT_FALSE(OtherServerUrl().empty());
    const std::string other = OtherServerUrl().substr(sizeof("http://") - 1);
    ResetServer();
    for (const std::string& twoWays : {Url("#@" + other + "/landing"), Url("?@" + other + "/x"),
                                       Url("\\@" + other + "/x"), "http://127.0.0.%32" + other.substr(9) + "/x"}) {
        AddRoute({{"path", "/two-ways"}, {"status", 307}, {"headers", {{"Location", twoWays}}}});
        Request("POST", twoWays, "{}", auth);
        Request("POST", Url("/two-ways"), "{}", auth);
    }
    EXPECT_EQ(Fail(kHttpFailParseUrl), Get(Url("\\@" + other + "/x")).Text());
    const auto reached = Requests();
    EXPECT_EQ(8u, reached.size());
    for (const auto& r : reached) EXPECT_EQ("127.0.0.1 s", r.server + " " + r.Header("Authorization")) << r.path;
}

TEST(HttpClient, AnswersCarryStatusAndRawBodyAndTransportFailuresAreStatusZeroWithTheirText) {
    ResetServer();
    for (const std::string status : {"200", "404", "500"})
        EXPECT_EQ("1 " + status + " status " + status, Get(Url("/status/" + status)).Text());
    std::string chunked(1 << 20, '\0');
    for (size_t i = 0; i < chunked.size(); ++i) chunked[i] = static_cast<char>(i % 251);
    EXPECT_TRUE(chunked == Get(Url("/chunked/" + std::to_string(chunked.size()))).body);
    // An empty completion is skipped, the request sent all the same.
    EXPECT_TRUE(HttpPostJson(Url("/event/none"), "{}", {}, HttpCompletion()) && Requests("/event/none").size() == 1);
    const std::string tls = "https" + Url("/echo/tls").substr(4);
    // A refused port and a failed handshake surface when the request is sent, as with WinHTTP.
    EXPECT_EQ(Fail(kHttpFailSendRequest), Get("http://127.0.0.1:1/x").Text());
    EXPECT_EQ(Fail(kHttpFailSendRequest), Get(tls).Text());
    const std::string longTarget = "/echo/" + std::string(1018, 'a');  // 1024 characters
    EXPECT_EQ(Fail(kHttpFailParseUrl), Get(Url(longTarget)).Text());
    EXPECT_EQ(Fail(kHttpFailParseUrl), Get("ftp://127.0.0.1/x").Text());
    EXPECT_TRUE(Requests("/echo").empty());
    EXPECT_EQ(200, Get(Url(longTarget.substr(0, 1023))).status);
    EXPECT_EQ("1 200 " + std::string(1000, 'x'), Get(Url("/reset")).Text());  // cut mid-body: what arrived
    // A body is read up to the bound and cut there, as a failed read: the status and the bytes before it.
    const Outcome large = Get(Url("/large/" + std::to_string(kHttpMaxBodyBytes + (1 << 20))));
    ASSERT_EQ("1 200 " + std::to_string(kHttpMaxBodyBytes), std::to_string(large.result) + " " +
                                                                 std::to_string(large.status) + " " +
                                                                 std::to_string(large.body.size()));
    size_t i = 0;
    while (i < large.body.size() && large.body[i] == static_cast<char>(i % 251)) ++i;
    EXPECT_EQ(kHttpMaxBodyBytes, i);
#if !defined(_WIN32)  // WinHTTP's default proxy comes from the system's settings
    ScopedEnv proxy("http_proxy", ServerUrl()), noProxy("no_proxy"), noProxyUpper("NO_PROXY");
    EXPECT_EQ(204, Get("http://service.tesselsdk.invalid/status/204").status);
    EXPECT_EQ("http://service.tesselsdk.invalid/status/204", Requests("http://service.tesselsdk.invalid").at(0).path);
#endif
}

TEST(SlowHttpClient, TimeoutsLimitSilenceNotTheWholeExchangeAndCancellationEndsEveryPhase) {
    const auto start = Clock::now();
    EXPECT_EQ(Fail(kHttpFailReceiveResponse), Request("POST", Url("/hang"), "{}", {}, 1500).Text());
    const auto elapsed = Clock::now() - start;
    EXPECT_TRUE(elapsed >= Ms(1400) && elapsed < Ms(UnderWine() ? 3000 : 2000));
    // Ten bytes 100 ms apart outlast the timeout but are never silent that long; one byte, then 2 s of silence.
    EXPECT_EQ("ssssssssss", Request("GET", Url("/slow/100"), "", {}, 700).body);
    EXPECT_EQ("1 200 s", Request("GET", Url("/slow/2000"), "", {}, 400).Text());

    // Cancelled after 500 ms waiting for the answer, and with the headers in while the body stalls.
    for (const std::string& path : {std::string("/hang"), std::string("/slow/3000")}) {
        CancelToken token;
        std::thread canceller([&token] { std::this_thread::sleep_for(Ms(500)); token.Cancel(); });
        const auto begun = Clock::now();
        CancelScope scope(&token);
        EXPECT_EQ(Fail(kHttpFailReceiveResponse), Get(Url(path)).Text()) << path;
        EXPECT_LT(Clock::now() - begun, Ms(1000)) << path;
        canceller.join();
    }
}

TEST(SlowHttpClient, HeadersCutShortFailInBoundedTimeAndMemoryAndCancellationEndsTheWait) {
    ResetServer();
    // "HTTP/1.1 200 OK", one header line, then silence past the receive timeout.
    AddRoute({{"path", "/stall"}, {"mode", "stall_mid_headers"}, {"stall_ms", 4000}});
    // Wine's WinHTTP takes such headers as a response whose body cannot be read. The cancellation at 2.5 s
    // comes only after a request that outlasts its timeout; at 0.5 s it ends the wait for the answer.
    for (const int receiveMs : {1000, -1}) {
        const int cancelMs = receiveMs < 0 ? 500 : 2500;
        CancelToken token;
        std::thread canceller([&token, cancelMs] { std::this_thread::sleep_for(Ms(cancelMs)); token.Cancel(); });
        const auto begun = Clock::now();
        CancelScope scope(&token);
        const bool timedOut = receiveMs > 0 && UnderWine();
        EXPECT_EQ(timedOut ? "1 200 " : Fail(kHttpFailReceiveResponse),
                  Request("GET", Url("/stall"), "", {}, receiveMs).Text());
        EXPECT_LT(Clock::now() - begun, Ms(receiveMs > 0 ? 2000 : 1000));
        canceller.join();
    }
}

TEST(HttpUrl, SplitAsTheWindowsTransportCracksAndAnotherSchemeOrPortIsAnotherOrigin) {
    HttpUrlParts p;
    const auto got = [&] { return std::to_string(p.secure) + p.host + ":" + std::to_string(p.port) + p.pathAndQuery; };
    EXPECT_TRUE(SplitHttpUrl("HTTPS://user:pw@Example.com", p) && got() == "1Example.com:443");
    EXPECT_TRUE(SplitHttpUrl("http://[::1]:8080?x=1", p) && got() == "0[::1]:8080?x=1");
    for (const char* bad : {"127.0.0.1/x", "http://:80/x", "http://h:65536/", "http://h:8o/", "http://[::1/x"})
        EXPECT_FALSE(SplitHttpUrl(bad, p)) << bad;
    // Limits in UTF-16 units: 255 for the host, 1023 for the target.
    EXPECT_TRUE(SplitHttpUrl("http://" + std::string(255, 'h') + "/", p));
    EXPECT_FALSE(SplitHttpUrl("http://" + std::string(256, 'h') + "/", p));
    std::string path = "/";  // 1 + 500 + 2 (a surrogate pair) + 520 = 1023 units in 1525 bytes
    for (int i = 0; i < 500; ++i) path += "\xC3\xA9";
    path += "\xF0\x9F\x98\x80" + std::string(520, 'p');
    EXPECT_TRUE(SplitHttpUrl("http://h" + path, p));
    EXPECT_FALSE(SplitHttpUrl("http://h" + path + "p", p));
    EXPECT_FALSE(SplitHttpUrl("http://h\xE9" + path, p)) << "not UTF-8: one unit per byte";
    HttpUrlParts& from = p;
    ASSERT_TRUE(SplitHttpUrl("http://h/p", from));
    for (const char* other : {"https://h/p", "http://h:8080/p", "//g/p"})
        EXPECT_TRUE(PlanRedirect(307, "GET", from, other).crossOrigin) << other;
    EXPECT_FALSE(PlanRedirect(307, "GET", from, "HTTP://H:80/q").crossOrigin);
    ASSERT_TRUE(SplitHttpUrl("https://h/p", from));
    EXPECT_EQ(RedirectAction::Deliver, PlanRedirect(307, "GET", from, "http://h/p").action);
    EXPECT_EQ((std::vector<std::string>{"Caller-Id: c", "X: authorization"}),
              WithoutAuthorization({"Authorization: t", "Caller-Id: c", "authorization: x", "X: authorization"}));
}

TEST(Turn, EveryOutcomeReachesTheCompletionOrConnectionReadyAndNoSecretIsLogged) {
    EXPECT_EQ("https://t//v1.0/turn-api/turn-ip?streamer_id=7", BuildTurnApiUrl("t//", "7"));  // one '/' less
    ResetServer();
    std::string events;
    const auto record = [&events](const std::string& what, bool ok, int status, const char* message) {
        events += what + " " + std::to_string(ok) + " " + std::to_string(status) + " " + message + "\n";
    };
    PlatformInterface p;
    p.OnApplyRTCConfig = [&](const Servers& s) { events += Summary(s) + "\n"; };
    p.OnConnectionReady = [&](const char* id, bool ok, int status, const char* text) { record(id, ok, status, text); };
    const auto done = [&](bool ok, int status, const char* message) { record("done", ok, status, message); };
    auto logic = MakeLogic(p);
    LogWindow log;
    logic->HandlePlayerConnected("p0", true, done);  // no TURN base yet
    ASSERT_TRUE(InitializeWith(logic.get(), SessionConfig()));
    AddRoute({{"prefix", "/turn/"}, {"status", 200}, {"body", "<html>ok</html>"}});  // the newest route answers first
    AddRoute({{"prefix", "/turn/"}, {"status", 200}, {"body", kTurnAnswer}, {"times", 1}});
    AddRoute({{"prefix", "/turn/"}, {"status", 404}, {"body", "no such streamer"}, {"times", 2}});
    std::optional<ScopedEnv> token(std::in_place, "OMBREL_ACCESS_TOKEN", "tok-1");
    logic->HandlePlayerConnected("p1", true, done);
    logic->HandlePlayerConnected(nullptr, true, nullptr);  // a null player id is taken as empty
    token.emplace("OMBREL_ACCESS_TOKEN");
    logic->HandlePlayerConnected("p2", false, nullptr);
    logic->HandlePlayerConnected("p3", true, done);
    EXPECT_EQ("done 0 0 TURN API URL missing\ndone 0 404 TURN fetch failed\n 0 404 TURN fetch failed\n"
              "stun:a:3478||;turn:b?transport=udp,turn:b?transport=tcp|u1|s3cr\"et\np2 1 200 Connection ready\n"
              "\ndone 1 200 Connection ready\n",
              events);
    const auto requests = Requests("/turn/v1.0/turn-api/turn-ip?streamer_id=" + StreamerIdOf(logic.get()));
    const std::vector<std::string> names = {"Authorization", "caller-id"};
    EXPECT_EQ("Authorization=Bearer tok-1;caller-id=HALYXTESSELSDK-UNREAL-1.0;caller-id=HALYXTESSELSDK-UNREAL-1.0;",
              Picked(requests.at(1), names) + Picked(requests.at(2), names));
    // The answer is logged with every credential masked, and the token never.
    EXPECT_TRUE(log.WaitFor(R"("credential":"***"},{"urls":["turn:b?transport=udp","turn:b?transport=tcp"],)"
                            R"("username":"u1","credential":"***"}]}})"));
    EXPECT_EQ(0u, log.Count("s3cr") + log.Count("tok-1"));
}

TEST(Turn, RefusedOrBrokenServicesReachTheHostAsFailures) {
    ResetServer();
    AddRoute({{"prefix", "/turn-reset/"}, {"mode", "reset"}});
    for (const std::string& turn : {std::string("http://127.0.0.1:1"), Url("/turn-reset")}) {
        auto config = SessionConfig();
        config["virivizar_turn"]["api"]["kr"] = turn;
        config["virivizar_event"]["api"]["kr"] = "http://127.0.0.1:1/notify";
        auto logic = MakeLogic();
        ASSERT_TRUE(InitializeWith(logic.get(), config));
        LogWindow log;
        std::string outcome;
        logic->HandlePlayerConnected("p", true, [&](bool ok, int status, const char*) {
            outcome += std::to_string(ok) + " " + std::to_string(status);
        });
        // Headers arrived, then the connection broke: the status stands with the body so far.
        EXPECT_EQ(turn == "http://127.0.0.1:1" ? "0 0" : "1 200", outcome);
        logic->SendMobileNotify("key", "{\"a\":1}", "ko");
        EXPECT_TRUE(log.WaitFor("[TesselSDK::SendMobileNotify] Response: 0 - "));
    }
}

TEST(Turn, HostMayShutDownOrDestroyInsideItsCallbacks) {
    ResetServer();
    int applied = 0, ready = 0;
    LinkLogic* raw = nullptr;
    PlatformInterface p;
    p.OnApplyRTCConfig = [&](const Servers&) { ++applied; raw->Shutdown(); };  // destroys this very callback
    p.OnConnectionReady = [&](const char*, bool, int, const char*) { ++ready; };
    raw = LinkLogic::Create("1", 0, p);
    ASSERT_TRUE(InitializeWith(raw, SessionConfig()));
    raw->HandlePlayerConnected("p1", true, nullptr);
    raw->HandlePlayerConnected("p1", true, nullptr);
    EXPECT_EQ("1 0", std::to_string(applied) + " " + std::to_string(ready)) << "no host callback after Shutdown";
    bool done = false;
    raw->HandlePlayerConnected("p1", true, [&](bool ok, int, const char*) { done = ok; LinkLogic::Destroy(raw); });
    EXPECT_TRUE(done);
}

TEST(Turn, IceServersReadUntilTheFirstFaultAndCredentialsMaskedInAnyForm) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {R"({"value":{"ice_servers":[{"urls":"stun:x"},{"urls":["a","b"],"username":"u","credential":"c"},)"
         R"({"urls":7,"username":"n"},"text",3,{"other":1}]}})", "stun:x||;a,b|u|c;|n|;||;||;||"},
        {R"({"value":{"ice_servers":[{"urls":"a"},{"urls":"b","username":null},{"urls":"c"}]}})", "a||"},
        {R"({"value":{"ice_servers":[{"urls":"a"},{"urls":["b",5]},{"urls":"c"}]}})", "a||"},
        {R"({"value":{"ice_servers":[{"urls":"a"}]}} x)", ""}};
    for (const auto& c : cases) EXPECT_EQ(c.second, Summary(ParseIceServers(c.first))) << c.first;
    EXPECT_EQ(R"([{"credential":"***","x":1},{"credential" : "***" },{"credential":"***")",
              MaskTurnCredentials(R"([{"credential":"a\"b\\","x":1},{"credential" : 12 },{"credential":"cut\)"));
}

TEST(Notify, BodyHeadersAndDefaultsAsSentOnceAndHostileInputNever) {
    ResetServer();
    auto logic = MakeLogic();
    LogWindow log;
    MakeLogic()->SendMobileNotify("k", "{}", "en");  // never initialised: no event API URL
    ASSERT_TRUE(InitializeWith(logic.get(), SessionConfig()));
    ScopedEnv language("OMBREL_LANGUAGE", "ko-KR");
    std::optional<ScopedEnv> token(std::in_place, "OMBREL_ACCESS_TOKEN", "tok-9");
    std::optional<ScopedEnv> nation(std::in_place, "OMBREL_NATION", "KR");
    for (const char* payload : {"[1,2]", R"({"a":1} x)", R"({"a":1, /* c */ "b":2})", "{\"a\":\"\xFF\"}", "{"})
        logic->SendMobileNotify("k", payload, "en");
    logic->SendMobileNotify("key \xC3", "{}", "en");
    logic->SendMobileNotify("k", "{}", "en \xFF");
    EXPECT_TRUE(log.WaitFor("[ERROR] [TesselSDK::SendMobileNotify] ", 8));
    EXPECT_TRUE(Requests("/event").empty());

    logic->SendMobileNotify("key-1", R"({"level": 2, "text": "fire"})", "ko-KR");
    logic->SendMobileNotify("k", "{}", nullptr);  // the default language, in the body as in the header
    nation.emplace("OMBREL_NATION", "");
    logic->SendMobileNotify(nullptr, "", "");  // no X-Lang; an empty nation is sent as it is
    nation.emplace("OMBREL_NATION");
    token.emplace("OMBREL_ACCESS_TOKEN");
    AddRoute({{"path", "/event/v1.0/notify"}, {"status", 500}, {"body", "boom"}});
    logic->SendMobileNotify("k", nullptr, "ja-JP");  // a failed ask is "US"; never retried
    std::string seen;
    for (const auto& r : Requests("/event/v1.0/notify"))
        seen += r.method + " " + r.body + "\n" + Picked(r, {"Authorization", "X-Lang", "X-Nation"}) + "\n";
    const size_t blank = seen.find("Bearer ;");  // a transport may trim the blank after "Bearer"
    if (blank != std::string::npos) seen.erase(blank + 6, 1);
    EXPECT_EQ(R"(POST {"integration_key":"key-1","payload":"{\"level\": 2, \"text\": \"fire\"}","lang_code":"ko-KR",)"
              R"("alarm_payload":{"level":2,"text":"fire"}})" "\nAuthorization=Bearer tok-9;X-Lang=ko-KR;X-Nation=KR;\n"
              R"(POST {"integration_key":"k","payload":"{}","lang_code":"en-US","alarm_payload":{}})"
              "\nAuthorization=Bearer tok-9;X-Lang=en-US;X-Nation=KR;\n"
              R"(POST {"integration_key":"","payload":"","lang_code":"","alarm_payload":{}})"
              "\nAuthorization=Bearer tok-9;X-Nation=;\n"
              R"(POST {"integration_key":"k","payload":"","lang_code":"ja-JP","alarm_payload":{}})"
              "\nAuthorization=Bearer;X-Lang=ja-JP;X-Nation=US;\n",
              seen);
    EXPECT_TRUE(log.WaitFor("[INFO] [TesselSDK::SendMobileNotify] Response: 500 - boom"));
}

TEST_F(Telemetry, DocumentCarriesEveryFieldInOrderAndShutdownReturnsOnceTheQueueIsSent) {
    ScopedEnv gameId("game_id", "G-42"), env("ENV", "qa2"), member("member_no", "777"), guid("guid", "guid-1"),
        session("ref_session_id", "sess-9");
    AddRoute({{"path", kTelemetryPath}, {"status", 200}, {"delay_ms", 50}});
    auto logic = MakeLogic();
    const long long before = NowEpochMs();
    logic->SendTallo("app.start", "12.5", "hello \xEC\x95\x88", "wifi");
    // Only "linkplay.heartbeat" itself with a connection type sends that in place of the message.
    logic->SendTallo("linkplay.heartbeat", "1", "msg", "tcp");
    logic->SendTallo("linkplay.heartbeat", "2", "msg", "");
    logic->SendTallo("Linkplay.Heartbeat", "3", "", "tcp");
    logic->SendTallo(nullptr, nullptr, nullptr, nullptr);
    logic->Shutdown();
    const auto sent = Requests(kTelemetryPath);
    ASSERT_EQ(5u, sent.size());
    EXPECT_EQ("POST 2", sent[0].method + " " + std::to_string(sent[0].HeaderCount("Content-Type")));
    ordered_json doc = ordered_json::parse(sent[0].body);
    EXPECT_EQ(doc.dump(), sent[0].body) << "compact, UTF-8 unescaped";
    const long long stamp = std::stoll(doc["client_timestamp"].get<std::string>());  // the epoch milliseconds
    EXPECT_TRUE(before <= stamp && stamp <= NowEpochMs());
    std::string shape = doc["client_time"];
    std::replace_if(shape.begin(), shape.end(), [](char c) { return c >= '0' && c <= '9'; }, '9');
    EXPECT_EQ("9999.99.99  99.99.99", shape);
    doc["client_time"] = "T";
    doc["client_timestamp"] = "S";
    EXPECT_EQ(R"({"client_time":"T","game_id":"G-42","environment":"qa2","log_source_type":"streaming_sdk",)"
              R"("member_no":"777","guid":"guid-1","streamer_id":")" + StreamerIdOf(logic.get()) +
                  R"(","locale":"en-US","country_ip":"US","session_id":"sess-9","sdk_version":"9.8.7",)"
                  R"("client_timestamp":"S","action_info":{"action_type":"app.start","action_param":)"
                  R"({"elapsed_time":"12.5","message":"hello 안"}}})",
              doc.dump());
    std::string params;  // in order; the last waited behind four slow posts, stamped when it went
    for (size_t i = 1; i < sent.size(); ++i)
        params += ordered_json::parse(sent[i].body)["action_info"]["action_param"].dump();
    EXPECT_EQ(R"({"elapsed_time":"1","connection_type":"tcp"}{"elapsed_time":"2","message":"msg"})"
              R"({"elapsed_time":"3"}{"elapsed_time":""})", params);
    EXPECT_GE(std::stoll(ordered_json::parse(sent[4].body)["client_timestamp"].get<std::string>()), before + 200);
}

TEST_F(Telemetry, PlatformLocaleIsKeptOnlyOnceItDiffersFromTheDefault) {
    auto logic = MakeLogic();
    const std::vector<std::pair<const char*, const char*>> answers = {
        {nullptr, nullptr}, {"en-US", "US"}, {"fr-FR", "FR"}, {nullptr, nullptr}, {"de-DE", "DE"}};
    std::string seen;
    for (size_t i = 0; i < answers.size(); ++i) {
        std::optional<ScopedEnv> language, nation;  // unset: the platform fails
        if (answers[i].first)
            language.emplace("OMBREL_LANGUAGE", answers[i].first), nation.emplace("OMBREL_NATION", answers[i].second);
        logic->SendTallo("a", "", "", "");
        const auto event = ordered_json::parse(WaitForRequests(kTelemetryPath, i + 1).back().body);
        seen += event["locale"].get<std::string>() + "/" + event["country_ip"].get<std::string>() + " ";
    }
    EXPECT_EQ("en-US/US en-US/US fr-FR/FR fr-FR/FR fr-FR/FR ", seen);
}

TEST_F(Telemetry, ServiceFailuresAndHugeAnswersAreLoggedCutAndTheWorkerGoesOn) {
    AddRoute({{"path", kTelemetryPath}, {"status", 503}, {"body", "busy"}, {"times", 1}});
    AddRoute({{"path", kTelemetryPath}, {"status", 200}, {"body", std::string(5 << 20, 'x')}, {"times", 1}});
    auto logic = MakeLogic();
    LogWindow log;
    // The first cannot be written as JSON: it is lost, the others go.
    for (const char* action : {"bad \xFF\xFE", "1", "2", "3"}) logic->SendTallo(action, "", "", "");
    EXPECT_TRUE(log.WaitFor("[DEBUG] [TesselSDK::SendTallo] Telemetry sent successfully, Response: {\"result\""));
    EXPECT_EQ(1u, log.Count("[ERROR] [TesselSDK::SendTallo] Exception occurred while sending telemetry"));
    EXPECT_EQ(1u, log.Count("[WARN] [TesselSDK::SendTallo] Telemetry failed with HTTP code: 503, Response: busy"));
    EXPECT_EQ(1u, log.Count("Response: " + std::string(4096, 'x') + "... [5242880 bytes in all]"));
}

TEST_F(Telemetry, ShutdownSendsTheWholeQueueWhateverStatusTheServiceAnswers) {
    for (const int status : {503, 400}) {
        ResetServer();
        // The failing answer comes once Shutdown has begun; 200s follow (the newest route answers first).
        AddRoute({{"path", kTelemetryPath}, {"status", 200}});
        AddRoute({{"path", kTelemetryPath}, {"status", status}, {"delay_ms", 300}, {"times", 1}});
        auto logic = MakeLogic();
        LogWindow log;
        for (int i = 0; i < 5; ++i) logic->SendTallo("e", std::to_string(i).c_str(), "", "");
        logic->Shutdown();
        EXPECT_EQ(5u, Requests(kTelemetryPath).size()) << status;
        EXPECT_EQ(1u, log.Count("Telemetry failed with HTTP code: " + std::to_string(status))) << status;
        EXPECT_EQ(0u, log.Count("dropped")) << status;
    }
}

TEST_F(Telemetry, ConcurrentSendersDuringConcurrentShutdowns) {
    auto logic = MakeLogic();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] { for (int i = 0; i < 300; ++i) logic->SendTallo("l", "", "", ""); });
    threads.emplace_back([&] { logic->Shutdown(); });
    logic->Shutdown();
    for (auto& t : threads) t.join();
}

TEST_F(Telemetry, ShutdownsOnTwoThreadsBothReturnOnceTheQueueIsSentAndLoseNoLine) {
    AddRoute({{"path", kTelemetryPath}, {"status", 200}, {"delay_ms", 150}});
    auto logic = MakeLogic();
    LogWindow log;
    for (int i = 0; i < 3; ++i) logic->SendTallo("e", "", "", "");
    std::atomic<bool> go{false};
    size_t sentWhenReturned[2] = {0, 0};
    std::vector<std::thread> threads;
    for (size_t* sent : {&sentWhenReturned[0], &sentWhenReturned[1]})
        threads.emplace_back([&, sent] {
            while (!go) std::this_thread::yield();
            logic->Shutdown();
            *sent = Requests(kTelemetryPath).size();
        });
    go = true;
    for (auto& t : threads) t.join();
    EXPECT_EQ("3 3", std::to_string(sentWhenReturned[0]) + " " + std::to_string(sentWhenReturned[1]));
    // The logger stops once, after the drain and the last lines of the Shutdown that did it.
    EXPECT_EQ(3u, log.Count("[DEBUG] [TesselSDK::SendTallo] Telemetry sent successfully"));
    EXPECT_NE(std::string::npos,
              log.Lines().back().find("[DEBUG] [TesselSDK::Shutdown] Final StreamerId: " + StreamerIdOf(logic.get())));
}

TEST_F(SlowTelemetry, FullQueueDropsTheOldestEvents) {
    AddRoute({{"path", kTelemetryPath}, {"status", 200}, {"delay_ms", 1000}, {"times", 1}});
    auto logic = MakeLogic();
    LogWindow log;
    logic->SendTallo("stuck", "0", "", "");
    ASSERT_EQ(1u, WaitForRequests(kTelemetryPath, 1).size());
    // The worker now waits on the slow post; fill the queue past its limit.
    for (size_t i = 1; i <= kTelemetryQueueLimit + 10; ++i) logic->SendTallo("e", std::to_string(i).c_str(), "", "");
    logic->Shutdown();
    // The oldest queued events are the ones dropped: sending resumes at 11, in order.
    const auto sent = Requests(kTelemetryPath);
    std::string expected, actual;
    for (size_t i = 0; i < sent.size(); ++i) {
        expected += "\"" + std::to_string(i ? 10 + i : 0) + "\"";
        actual += ordered_json::parse(sent[i].body)["action_info"]["action_param"]["elapsed_time"].dump();
    }
    EXPECT_EQ(expected, actual);
    EXPECT_EQ(1u, log.Count("[WARN] [TesselSDK::SendTallo] Telemetry queue full (1000 events), dropping the oldest"));
}

TEST_F(SlowTelemetry, ShutdownSendsTheWholeQueueWhileTheServiceAnswersSlowly) {
    // Slow answers, ten of them longer than any one post may take: all go.
    AddRoute({{"path", kTelemetryPath}, {"status", 200}, {"delay_ms", 350}});
    auto logic = MakeLogic();
    LogWindow log;
    for (int i = 0; i < 10; ++i) logic->SendTallo("e", std::to_string(i).c_str(), "", "");
    logic->Shutdown();
    EXPECT_EQ(10u, Requests(kTelemetryPath).size());
    EXPECT_EQ(10u, log.Count("[DEBUG] [TesselSDK::SendTallo] Telemetry sent successfully"));
    EXPECT_EQ(0u, log.Count("dropped"));
}

TEST_F(SlowTelemetry, ShutdownDrainIsBoundedWhileTheServiceHangs) {
    AddRoute({{"path", kTelemetryPath}, {"mode", "hang"}});
    auto logic = MakeLogic();
    LogWindow log;
    for (int i = 0; i < 10; ++i) logic->SendTallo("e", std::to_string(i).c_str(), "", "");
    ASSERT_EQ(1u, WaitForRequests(kTelemetryPath, 1).size());  // the first post hangs before Shutdown
    const auto start = Clock::now();
    logic->Shutdown();
    // The post in flight times out and ends the drain: Shutdown waits for no more than its time-outs.
    EXPECT_LT(Clock::now() - start, Ms(500 + 500 + 1500 + 1500));
    EXPECT_EQ(1u, Requests(kTelemetryPath).size());
    EXPECT_EQ(1u, log.Count("[WARN] [TesselSDK::SendTallo] Telemetry service failed during shutdown, dropped 9 queued"));
}

TEST_F(SlowTelemetry, ShutdownDrainEndsAtItsTimeLimitCancellingThePostInFlight) {
    // Answers in 0.6 s: the first goes, the second is in flight at the limit.
    AddRoute({{"path", kTelemetryPath}, {"status", 200}, {"delay_ms", 600}});
    LogicPtr logic(new LinkLogicImpl("9.8.7", 3, {}, Ms(1000)));
    LogWindow log;
    for (int i = 0; i < 10; ++i) logic->SendTallo("e", std::to_string(i).c_str(), "", "");
    const auto start = Clock::now();
    logic->Shutdown();
    const auto took = Clock::now() - start;
    EXPECT_TRUE(took >= Ms(950) && took < Ms(1400)) << std::chrono::duration_cast<Ms>(took).count();
    EXPECT_EQ(2u, Requests(kTelemetryPath).size());
    EXPECT_EQ(1u, log.Count("[DEBUG] [TesselSDK::SendTallo] Telemetry sent successfully"));
    EXPECT_EQ(1u, log.Count("[WARN] [TesselSDK::SendTallo] Telemetry failed with HTTP code: 0"));
    EXPECT_EQ(1u, log.Count("[WARN] [TesselSDK::SendTallo] Telemetry shutdown time limit reached, dropped 8 queued"));
}

TEST_F(SlowTelemetry, ShutdownStaysBoundedWhenTheServiceStallsMidHeaders) {
    AddRoute({{"path", kTelemetryPath}, {"mode", "stall_mid_headers"}, {"stall_ms", 10000}});
    auto logic = MakeLogic();
    logic->SendTallo("e", "1", "", "");
    ASSERT_EQ(1u, WaitForRequests(kTelemetryPath, 1).size());
    const auto start = Clock::now();
    logic->Shutdown();
    EXPECT_LT(Clock::now() - start, Ms(6000));
}
