// The HTTP client against the local service double: statuses and bodies,
// the header lines on the wire, redirects, timeouts, transport failures and
// the completion's contract. The same cases run on both transports.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "net/http_client.h"
#include "test_support.h"
#include "util/cancel.h"

using namespace TesselSDK;
using testsupport::RecordedRequest;
using testsupport::UnderWine;
using Clock = std::chrono::steady_clock;

namespace {

struct Outcome {
    bool result = false;
    int calls = 0;
    int status = -1;
    std::string body;
    std::thread::id thread;
};

HttpCompletion Recorder(Outcome& out) {
    return [&out](int status, const std::string& body) {
        ++out.calls;
        out.status = status;
        out.body = body;
        out.thread = std::this_thread::get_id();
    };
}

std::string Url(const std::string& path) { return testsupport::ServerUrl() + path; }

Outcome Get(const std::string& url, const HttpHeaders& headers = {}) {
    Outcome out;
    out.result = HttpGet(url, headers, Recorder(out));
    return out;
}

Outcome Post(const std::string& url, const std::string& body, const HttpHeaders& headers = {}) {
    Outcome out;
    out.result = HttpPostJson(url, body, headers, Recorder(out));
    return out;
}

RecordedRequest OnlyRequest(const std::string& prefix) {
    const auto requests = testsupport::Requests(prefix);
    EXPECT_EQ(1u, requests.size()) << prefix;
    return requests.empty() ? RecordedRequest() : requests[0];
}

}  // namespace

TEST(HttpClient, AnswersArriveWithTheirStatusAndRawBody) {
    for (const int status : {200, 404, 500}) {
        const Outcome out = Get(Url("/status/" + std::to_string(status)));
        EXPECT_TRUE(out.result) << status;
        EXPECT_EQ(status, out.status);
        EXPECT_EQ("status " + std::to_string(status), out.body);
    }
    Outcome out = Get(Url("/empty"));
    EXPECT_EQ(200, out.status);
    EXPECT_EQ("", out.body);

    testsupport::ResetServer();
    testsupport::AddRoute({{"path", "/bin"}, {"status", 200}, {"body_b64", "H4sA//4NCsOp"}});
    EXPECT_EQ(std::string("\x1f\x8b\x00\xff\xfe\r\n\xc3\xa9", 9), Get(Url("/bin")).body);

    const int size = 1 << 20;
    out = Get(Url("/chunked/" + std::to_string(size)));
    ASSERT_EQ(static_cast<size_t>(size), out.body.size());
    for (int i = 0; i < size; ++i) {
        if (static_cast<unsigned char>(out.body[i]) != i % 251) FAIL() << "byte " << i << " differs";
    }
}

TEST(HttpClient, JsonPostSendsItsLinesInOrderWithContentTypeTwice) {
    testsupport::ResetServer();
    const std::string body = std::string("{\"k\":\"caf\xC3\xA9\",\"z\":\"") + std::string("\0\x01\xff", 3) + "\"}";
    const HttpHeaders headers = {{"caller-id", "cid"},      {"X-Nation", "KR"},
                                 {"Content-Type", "application/json"}, {"Authorization", "Bearer tok"},
                                 {"X-Lang", "ko"},          {"Content-Encoding", "identity"}};
    EXPECT_TRUE(Post(Url("/event/v1.0/notify"), body, headers).result);

    const RecordedRequest r = OnlyRequest("/event");
    EXPECT_EQ("POST", r.method);
    EXPECT_EQ(body, r.body);
    EXPECT_EQ("TesselSDK/1.0", r.Header("User-Agent"));
    for (const char* absent : {"Accept", "Expect", "Accept-Encoding"}) EXPECT_EQ(0, r.HeaderCount(absent)) << absent;
    // Our lines keep their relative order; the transport's own may surround them.
    const std::vector<std::string> ours = {"Content-Type", "Authorization", "Content-Encoding", "Content-Type",
                                           "X-Lang",       "X-Nation",      "caller-id"};
    std::vector<std::string> seen;
    for (const auto& header : r.headers) {
        for (const auto& name : ours) {
            if (header.first == name) {
                seen.push_back(header.first);
                break;
            }
        }
    }
    EXPECT_EQ(ours, seen);
}

TEST(HttpClient, LargePostGoesOutByteExactWithoutWaitingForContinue) {
    testsupport::ResetServer();
    std::string body(1536 * 1024, '\0');
    for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>((i * 7) % 256);
    const auto start = Clock::now();
    EXPECT_EQ(200, Post(Url("/telemetry/large"), body).status);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(900));
    EXPECT_TRUE(OnlyRequest("/telemetry/large").body == body);
}

TEST(HttpClient, GetCarriesNoBodyAndNoContentType) {
    testsupport::ResetServer();
    EXPECT_EQ(200, Get(Url("/echo?streamer_id=a-1-2"), {{"X-Empty", ""}}).status);
    const RecordedRequest r = OnlyRequest("/echo");
    EXPECT_EQ("GET", r.method);
    EXPECT_EQ("/echo?streamer_id=a-1-2", r.path);
    EXPECT_EQ("", r.body);
    EXPECT_EQ(0, r.HeaderCount("Content-Type"));
    EXPECT_EQ(0, r.HeaderCount("Transfer-Encoding"));
    const std::string length = r.Header("Content-Length");
    EXPECT_TRUE(length.empty() || length == "0") << length;
    EXPECT_EQ(1, r.HeaderCount("X-Empty"));
}

TEST(HttpClient, NonAsciiBytesReachTheWireUnchangedAndLinesCannotBeInjected) {
    testsupport::ResetServer();
    // A Latin-1 byte in a header value goes out as that very byte (the double
    // reads header bytes as Latin-1 and reports them as UTF-8); a UTF-8 path
    // goes out percent-encoded as UTF-8.
    Get(Url("/echo/caf\xC3\xA9 x"), {{"X-Name", "caf\xE9"}, {"X-Lang", "ko\r\nX-Injected: 1"}});
    const RecordedRequest r = OnlyRequest("/echo");
    EXPECT_EQ("/echo/caf%C3%A9%20x", r.path);
    // Wine's WinHTTP writes header text as UTF-8, so U+00E9 arrives as two
    // bytes there; a byte widened as a signed char (U+FFE9) would arrive as
    // three ("\xEF\xBF\xA9") or as a replacement.
    EXPECT_EQ(UnderWine() ? "caf\xC3\x83\xC2\xA9" : "caf\xC3\xA9", r.Header("X-Name"));
    EXPECT_EQ(0, r.HeaderCount("X-Injected"));
    EXPECT_EQ(0, r.HeaderCount("X-Lang"));
}

TEST(HttpClient, RedirectsAreHandledAsWinHttpDoes) {
    testsupport::ResetServer();
    Outcome out = Get(Url("/redirect/302?to=/status/201"));
    EXPECT_TRUE(out.result);
    EXPECT_EQ(201, out.status);

    // 307 sends the POST again, body and lines included.
    EXPECT_EQ(200, Post(Url("/redirect/307?to=/echo/after-307"), "{\"b\":2}", {{"caller-id", "c"}}).status);
    const RecordedRequest r = OnlyRequest("/echo/after-307");
    EXPECT_EQ("POST", r.method);
    EXPECT_EQ("{\"b\":2}", r.body);
    EXPECT_EQ("c", r.Header("caller-id"));

    // 302 turns it into a GET without the body.
    EXPECT_EQ(200, Post(Url("/redirect/302?to=/echo/after-302"), "{\"a\":1}").status);
    const RecordedRequest after302 = OnlyRequest("/echo/after-302");
    EXPECT_EQ("GET", after302.method);
    EXPECT_EQ("", after302.body);

    // "Authorization" stays with its origin: kept on the same one, dropped
    // when another host (the same double, named "localhost") is the target.
    const HttpHeaders auth = {{"Authorization", "Bearer secret"}, {"caller-id", "c"}};
    std::string elsewhere = Url("/echo/elsewhere");
    elsewhere.replace(elsewhere.find("127.0.0.1"), 9, "localhost");
    EXPECT_EQ(200, Get(Url("/redirect/307?to=/echo/same-origin"), auth).status);
    EXPECT_EQ(200, Get(Url("/redirect/307?to=" + elsewhere), auth).status);
    EXPECT_EQ("Bearer secret", OnlyRequest("/echo/same-origin").Header("Authorization"));
    EXPECT_EQ(0, OnlyRequest("/echo/elsewhere").HeaderCount("Authorization"));
    EXPECT_EQ("c", OnlyRequest("/echo/elsewhere").Header("caller-id"));

    // A redirect that is not followed reaches the caller as it is.
    EXPECT_EQ(304, Get(Url("/redirect/304?to=/status/201")).status);

    testsupport::AddRoute({{"path", "/loop"}, {"status", 302}, {"headers", {{"Location", "/loop"}}}});
    out = Get(Url("/loop"));
    EXPECT_FALSE(out.result);
    EXPECT_EQ(0, out.status);
    EXPECT_EQ(kHttpFailReceiveResponse, out.body);
    EXPECT_LE(testsupport::Requests("/loop").size(), 12u);
}

TEST(HttpClient, TelemetryTimeoutsBoundAServerThatNeverAnswers) {
    const auto start = Clock::now();
    Outcome out;
    out.result = HttpPostJson(Url("/hang"), "{}", {}, 500, 500, 1500, 1500, Recorder(out));
    const auto elapsed = Clock::now() - start;
    EXPECT_FALSE(out.result);
    EXPECT_EQ(0, out.status);
    EXPECT_EQ(kHttpFailReceiveResponse, out.body);
    // The receive timeout, not a whole second or more beyond it.
    EXPECT_GE(elapsed, std::chrono::milliseconds(1400));
    EXPECT_LT(elapsed, std::chrono::milliseconds(UnderWine() ? 3000 : 2000));
}

TEST(HttpClient, TimeoutsLimitStallsNotTheWholeExchange) {
    // Ten bytes, 100 ms apart: longer than the receive timeout in total, but
    // never silent for that long.
    Outcome out;
    HttpRequest("GET", Url("/slow/100"), "", "", {}, Recorder(out), 500, 500, 700, 700);
    EXPECT_EQ(200, out.status);
    EXPECT_EQ("ssssssssss", out.body);
}

TEST(HttpClient, FailureAfterTheHeadersGivesTheStatusAndWhatArrived) {
    // One byte, then two seconds of silence against a 400 ms receive timeout.
    Outcome out;
    out.result = HttpRequest("GET", Url("/slow/2000"), "", "", {}, Recorder(out), 300, 300, 400, 400);
    EXPECT_TRUE(out.result);
    EXPECT_EQ(200, out.status);
    EXPECT_EQ("s", out.body);

    out = Get(Url("/reset"));  // the connection drops mid-body
    EXPECT_TRUE(out.result);
    EXPECT_EQ(200, out.status);
    EXPECT_EQ(std::string(1000, 'x'), out.body);
}

TEST(HttpClient, CancellationEndsTheTransferInEveryPhase) {
    // Waiting for the answer, and with the headers in while the body stalls.
    for (const std::string& path : {std::string("/hang"), std::string("/slow/3000")}) {
        CancelToken token;
        Outcome out;
        Clock::time_point end;
        std::thread transfer([&] {
            CancelScope scope(&token);
            out.result = HttpGet(Url(path), Recorder(out));
            end = Clock::now();
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        const auto cancelled = Clock::now();
        token.Cancel();
        transfer.join();
        EXPECT_LT(end - cancelled, std::chrono::milliseconds(500)) << path;
        EXPECT_FALSE(out.result) << path;
        EXPECT_EQ(0, out.status) << path;
        EXPECT_EQ(kHttpFailReceiveResponse, out.body) << path;
    }
}

TEST(HttpClient, TransportFailuresAreStatusZeroWithTheirText) {
    std::string tls = Url("/echo/tls");
    tls.replace(0, 4, "https");
    // The connect step of WinHTTP touches no network: a refused port and a
    // failed handshake surface when the request is sent, on both transports.
    for (const std::string& url : {std::string("http://127.0.0.1:1/x"), tls}) {
        const Outcome out = Get(url);
        EXPECT_FALSE(out.result) << url;
        EXPECT_EQ(0, out.status);
        EXPECT_EQ(kHttpFailSendRequest, out.body);
    }

    testsupport::ResetServer();
    const std::string longTarget = "/echo/" + std::string(1018, 'a');  // 1024 characters
    for (const std::string& url : {Url(longTarget), "http://" + std::string(256, 'h') + "/x",
                                   std::string("ftp://127.0.0.1/x"), std::string("127.0.0.1/x"), std::string("")}) {
        const Outcome out = Get(url);
        EXPECT_FALSE(out.result) << url;
        EXPECT_EQ(0, out.status);
        EXPECT_EQ(kHttpFailParseUrl, out.body) << url;
    }
    EXPECT_TRUE(testsupport::Requests("/echo").empty());
    EXPECT_EQ(200, Get(Url(longTarget.substr(0, 1023))).status);
}

TEST(HttpClient, ProxyComesFromTheEnvironment) {
#if defined(_WIN32)
    GTEST_SKIP() << "WinHTTP's default proxy comes from the system's settings, not the environment";
#endif
    testsupport::ResetServer();
    // The double answers proxy requests too: it records the absolute target.
    testsupport::ScopedEnv proxy("http_proxy", testsupport::ServerUrl());
    testsupport::ScopedEnv noProxy("no_proxy");
    testsupport::ScopedEnv noProxyUpper("NO_PROXY");
    EXPECT_EQ(204, Get("http://service.tesselsdk.invalid/status/204").status);
    EXPECT_EQ("http://service.tesselsdk.invalid/status/204", OnlyRequest("http://service.tesselsdk.invalid").path);
}

TEST(HttpClient, CompletionRunsOnceOnTheCallingThreadOnEveryPath) {
    for (const std::string& url : {Url("/status/404"), std::string("http://127.0.0.1:1/"), std::string("bad")}) {
        const Outcome out = Get(url);
        EXPECT_EQ(1, out.calls) << url;
        EXPECT_EQ(std::this_thread::get_id(), out.thread) << url;
    }
    // An empty completion is skipped; the request goes out all the same.
    testsupport::ResetServer();
    EXPECT_TRUE(HttpPostJson(Url("/telemetry/std_halyx"), "{}", {}, HttpCompletion()));
    EXPECT_EQ(1u, testsupport::Requests("/telemetry").size());
}
