// The HTTP client against the local service double: statuses and bodies,
// the header lines on the wire, redirects, timeouts, transport failures and
// the completion's contract. The same cases run on both transports.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#endif

#include "net/http_client.h"
#include "test_support.h"

using namespace TesselSDK;
using testsupport::RecordedRequest;

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

// Wine's WinHTTP differs from Windows' in two places these tests touch; the
// cases say where.
using testsupport::UnderWine;

}  // namespace

TEST(HttpClient, DeliversStatusAndBodyOfEveryAnswer) {
    for (const int status : {200, 201, 404, 500, 503}) {
        const Outcome out = Get(Url("/status/" + std::to_string(status)));
        EXPECT_TRUE(out.result) << status;
        EXPECT_EQ(1, out.calls);
        EXPECT_EQ(status, out.status);
        EXPECT_EQ("status " + std::to_string(status), out.body);
    }
    const Outcome empty = Get(Url("/empty"));
    EXPECT_TRUE(empty.result);
    EXPECT_EQ(200, empty.status);
    EXPECT_EQ("", empty.body);
}

TEST(HttpClient, LargeChunkedBodyArrivesByteExact) {
    const int size = 1 << 20;
    const Outcome out = Get(Url("/chunked/" + std::to_string(size)));
    ASSERT_EQ(200, out.status);
    ASSERT_EQ(static_cast<size_t>(size), out.body.size());
    for (int i = 0; i < size; ++i) {
        if (static_cast<unsigned char>(out.body[i]) != i % 251) FAIL() << "byte " << i << " differs";
    }
}

TEST(HttpClient, BinaryAnswerBodyIsRawBytes) {
    testsupport::ResetServer();
    const std::string bytes("\x1f\x8b\x00\xff\xfe\r\n\xc3\xa9", 9);
    testsupport::AddRoute({{"path", "/bin"}, {"status", 200}, {"body_b64", "H4sA//4NCsOp"}});  // those bytes
    const Outcome out = Get(Url("/bin"));
    EXPECT_EQ(200, out.status);
    EXPECT_EQ(bytes, out.body);
}

TEST(HttpClient, JsonPostSendsItsLinesInOrderWithContentTypeTwice) {
    testsupport::ResetServer();
    const std::string body = std::string("{\"k\":\"caf\xC3\xA9\",\"z\":\"") + std::string("\0\x01\xff", 3) + "\"}";
    const HttpHeaders headers = {{"caller-id", "cid"},      {"X-Nation", "KR"},
                                 {"Content-Type", "application/json"}, {"Authorization", "Bearer tok"},
                                 {"X-Lang", "ko"},          {"Content-Encoding", "identity"}};
    const Outcome out = Post(Url("/event/v1.0/notify"), body, headers);
    EXPECT_TRUE(out.result);
    EXPECT_EQ(200, out.status);

    const auto requests = testsupport::Requests("/event");
    ASSERT_EQ(1u, requests.size());
    const RecordedRequest& r = requests[0];
    EXPECT_EQ("POST", r.method);
    EXPECT_EQ(body, r.body);
    EXPECT_EQ(std::to_string(body.size()), r.Header("Content-Length"));
    EXPECT_EQ("TesselSDK/1.0", r.Header("User-Agent"));
    EXPECT_EQ(2, r.HeaderCount("Content-Type"));
    EXPECT_EQ(0, r.HeaderCount("Accept"));
    EXPECT_EQ(0, r.HeaderCount("Expect"));
    EXPECT_EQ(0, r.HeaderCount("Accept-Encoding"));

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
    EXPECT_EQ("cid", r.Header("caller-id"));
    EXPECT_EQ("Bearer tok", r.Header("Authorization"));
}

TEST(HttpClient, LargePostBodyGoesOutByteExactWithoutWaitingForContinue) {
    testsupport::ResetServer();
    std::string body(1536 * 1024, '\0');
    for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>((i * 7) % 256);
    const auto start = std::chrono::steady_clock::now();
    const Outcome out = Post(Url("/telemetry/large"), body);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
    EXPECT_EQ(200, out.status);
    const auto requests = testsupport::Requests("/telemetry/large");
    ASSERT_EQ(1u, requests.size());
    EXPECT_EQ(0, requests[0].HeaderCount("Expect"));
    EXPECT_TRUE(requests[0].body == body) << requests[0].body.size() << " bytes arrived";
}

TEST(HttpClient, GetCarriesNoBodyAndNoContentType) {
    testsupport::ResetServer();
    const Outcome out = Get(Url("/echo?streamer_id=a-1-2"), {{"caller-id", "x"}, {"X-Empty", ""}});
    EXPECT_EQ(200, out.status);
    const auto requests = testsupport::Requests("/echo");
    ASSERT_EQ(1u, requests.size());
    EXPECT_EQ("GET", requests[0].method);
    EXPECT_EQ("/echo?streamer_id=a-1-2", requests[0].path);
    EXPECT_EQ("", requests[0].body);
    EXPECT_EQ(0, requests[0].HeaderCount("Content-Type"));
    EXPECT_EQ(0, requests[0].HeaderCount("Transfer-Encoding"));
    const std::string length = requests[0].Header("Content-Length");
    EXPECT_TRUE(length.empty() || length == "0") << length;
    EXPECT_EQ("TesselSDK/1.0", requests[0].Header("User-Agent"));
    EXPECT_EQ(1, requests[0].HeaderCount("X-Empty"));
    EXPECT_EQ("", requests[0].Header("X-Empty"));
}

TEST(HttpClient, NonAsciiBytesReachTheWireUnchanged) {
    testsupport::ResetServer();
    // A Latin-1 byte in a header value goes out as that very byte (the double
    // reads header bytes as Latin-1 and reports them as UTF-8); a UTF-8 path
    // goes out percent-encoded as UTF-8.
    const Outcome out = Get(Url("/echo/caf\xC3\xA9 x"), {{"X-Name", "caf\xE9"}});
    EXPECT_EQ(200, out.status);
    const auto requests = testsupport::Requests("/echo");
    ASSERT_EQ(1u, requests.size());
    EXPECT_EQ("/echo/caf%C3%A9%20x", requests[0].path);
    // Wine's WinHTTP writes header text as UTF-8, so U+00E9 arrives as two
    // bytes there; a byte widened as a signed char (U+FFE9) would arrive as
    // three ("\xEF\xBF\xA9") or as a replacement.
    const std::string expected = UnderWine() ? "caf\xC3\x83\xC2\xA9" : "caf\xC3\xA9";
    EXPECT_EQ(expected, requests[0].Header("X-Name"));
}

TEST(HttpClient, HeaderValueCannotInjectFurtherLines) {
    testsupport::ResetServer();
    Get(Url("/echo"), {{"X-Lang", "ko\r\nX-Injected: 1"}, {"X-Nation", "KR"}});
    const auto requests = testsupport::Requests("/echo");
    ASSERT_EQ(1u, requests.size());
    EXPECT_EQ(0, requests[0].HeaderCount("X-Injected"));
    EXPECT_EQ(0, requests[0].HeaderCount("X-Lang"));
    EXPECT_EQ("KR", requests[0].Header("X-Nation"));
}

TEST(HttpClient, RedirectToAnotherPathIsFollowed) {
    testsupport::ResetServer();
    Outcome out = Get(Url("/redirect/302?to=/status/201"));
    EXPECT_TRUE(out.result);
    EXPECT_EQ(201, out.status);
    EXPECT_EQ("status 201", out.body);

    // 307 sends the POST again, body and lines included.
    out = Post(Url("/redirect/307?to=/echo/after-307"), "{\"b\":2}", {{"caller-id", "c"}});
    EXPECT_EQ(200, out.status);
    const auto after307 = testsupport::Requests("/echo/after-307");
    ASSERT_EQ(1u, after307.size());
    EXPECT_EQ("POST", after307[0].method);
    EXPECT_EQ("{\"b\":2}", after307[0].body);
    EXPECT_EQ("c", after307[0].Header("caller-id"));
    EXPECT_EQ("TesselSDK/1.0", after307[0].Header("User-Agent"));

    // A redirect that is not followed reaches the caller as it is.
    out = Get(Url("/redirect/304?to=/status/201"));
    EXPECT_EQ(304, out.status);
}

TEST(HttpClient, RedirectOf302TurnsPostIntoGet) {
    if (UnderWine()) GTEST_SKIP() << "Wine keeps the dropped body's Content-Length and the double waits for it";
    testsupport::ResetServer();
    const Outcome out = Post(Url("/redirect/302?to=/echo/after-302"), "{\"a\":1}");
    EXPECT_EQ(200, out.status);
    const auto after302 = testsupport::Requests("/echo/after-302");
    ASSERT_EQ(1u, after302.size());
    EXPECT_EQ("GET", after302[0].method);
    EXPECT_EQ("", after302[0].body);
}

TEST(HttpClient, EndlessRedirectsFailWithoutAResponse) {
    testsupport::ResetServer();
    testsupport::AddRoute({{"path", "/loop"}, {"status", 302}, {"headers", {{"Location", "/loop"}}}});
    const Outcome out = Get(Url("/loop"));
    EXPECT_FALSE(out.result);
    EXPECT_EQ(0, out.status);
    EXPECT_EQ(kHttpFailReceiveResponse, out.body);
    const size_t hops = testsupport::Requests("/loop").size();
    EXPECT_GE(hops, 5u);
    EXPECT_LE(hops, 12u);
}

TEST(HttpClient, TelemetryTimeoutsBoundAServerThatNeverAnswers) {
    const auto start = std::chrono::steady_clock::now();
    Outcome out;
    out.result = HttpPostJson(Url("/hang"), "{}", {}, 500, 500, 1500, 1500, Recorder(out));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_FALSE(out.result);
    EXPECT_EQ(1, out.calls);
    EXPECT_EQ(0, out.status);
    EXPECT_EQ(kHttpFailReceiveResponse, out.body);
    EXPECT_GE(elapsed, std::chrono::milliseconds(1400));
    EXPECT_LT(elapsed, std::chrono::seconds(5));
}

TEST(HttpClient, TimeoutsLimitStallsNotTheWholeExchange) {
    // Ten bytes, 100 ms apart: longer than the receive timeout in total, but
    // never silent for that long.
    Outcome out;
    out.result = HttpRequest("GET", Url("/slow/100"), "", "", {}, Recorder(out), 500, 500, 700, 700);
    EXPECT_TRUE(out.result);
    EXPECT_EQ(200, out.status);
    EXPECT_EQ("ssssssssss", out.body);
}

TEST(HttpClient, BodyThatStallsGivesStatusAndWhatArrived) {
    // One byte, then two seconds of silence against a 400 ms receive timeout.
    Outcome out;
    out.result = HttpRequest("GET", Url("/slow/2000"), "", "", {}, Recorder(out), 300, 300, 400, 400);
    EXPECT_TRUE(out.result);
    EXPECT_EQ(200, out.status);
    EXPECT_EQ("s", out.body);
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
    const Outcome out = Get("http://service.tesselsdk.invalid/status/204");
    EXPECT_EQ(204, out.status);
    const auto requests = testsupport::Requests("http://service.tesselsdk.invalid");
    ASSERT_EQ(1u, requests.size());
    EXPECT_EQ("http://service.tesselsdk.invalid/status/204", requests[0].path);
}

TEST(HttpClient, RefusedConnectionIsStatusZeroWithAFailureText) {
    // Port 1 on the loopback: nothing listens there.
    const Outcome out = Get("http://127.0.0.1:1/x");
    EXPECT_FALSE(out.result);
    EXPECT_EQ(1, out.calls);
    EXPECT_EQ(0, out.status);
    // The connect step of WinHTTP touches no network; the refusal surfaces
    // when the request is sent, on both transports.
    EXPECT_EQ(kHttpFailSendRequest, out.body);
}

TEST(HttpClient, HttpsToAPlainServerFailsWhileSending) {
    std::string url = Url("/echo/tls");
    url.replace(0, 4, "https");
    const Outcome out = Get(url);
    EXPECT_FALSE(out.result);
    EXPECT_EQ(0, out.status);
    EXPECT_EQ(kHttpFailSendRequest, out.body);
}

TEST(HttpClient, UrlsTheTransportCannotTakeFailBeforeAnythingIsSent) {
    testsupport::ResetServer();
    const std::string longTarget = "/echo/" + std::string(1018, 'a');  // 1024 characters
    for (const std::string& url : {Url(longTarget), "http://" + std::string(256, 'h') + "/x",
                                   std::string("ftp://127.0.0.1/x"), std::string("127.0.0.1/x"), std::string("")}) {
        const Outcome out = Get(url);
        EXPECT_FALSE(out.result) << url;
        EXPECT_EQ(1, out.calls);
        EXPECT_EQ(0, out.status);
        EXPECT_EQ(kHttpFailParseUrl, out.body) << url;
    }
    EXPECT_TRUE(testsupport::Requests("/echo").empty());

    const Outcome justFits = Get(Url(longTarget.substr(0, 1023)));
    EXPECT_EQ(200, justFits.status) << justFits.body;
}

TEST(HttpClient, ConnectionDroppedMidBodyGivesStatusAndPartialBody) {
    const Outcome out = Get(Url("/reset"));
    EXPECT_TRUE(out.result);
    EXPECT_EQ(200, out.status);
    EXPECT_EQ(std::string(1000, 'x'), out.body);
}

TEST(HttpClient, CompletionRunsOnceOnTheCallingThreadOnEveryPath) {
    const std::vector<std::string> urls = {Url("/status/200"), Url("/status/404"), "http://127.0.0.1:1/",
                                           "not a url"};
    for (const std::string& url : urls) {
        const Outcome out = Get(url);
        EXPECT_EQ(1, out.calls) << url;
        EXPECT_EQ(std::this_thread::get_id(), out.thread) << url;
    }
}

TEST(HttpClient, ThrowingCompletionReachesTheCallerAfterOneCall) {
    int calls = 0;
    const auto throwing = [&calls](int, const std::string&) {
        ++calls;
        throw std::runtime_error("caller's own failure");
    };
    EXPECT_THROW(HttpGet(Url("/status/200"), throwing), std::runtime_error);
    EXPECT_THROW(HttpGet("bad", throwing), std::runtime_error);
    EXPECT_EQ(2, calls);
}

TEST(HttpClient, EmptyCompletionStillSendsTheRequest) {
    testsupport::ResetServer();
    bool result = false;
    EXPECT_NO_THROW(result = HttpPostJson(Url("/telemetry/std_halyx"), "{}", {}, HttpCompletion()));
    EXPECT_TRUE(result);
    EXPECT_EQ(1u, testsupport::Requests("/telemetry").size());
}

TEST(HttpClient, RequestsFromManyThreadsAtOnce) {
    std::atomic<int> good{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&good, t] {
            for (int i = 0; i < 5; ++i) {
                const std::string tag = std::to_string(t) + "-" + std::to_string(i);
                Outcome out;
                HttpPostJson(Url("/status/202"), tag, {}, Recorder(out));
                if (out.calls == 1 && out.status == 202 && out.thread == std::this_thread::get_id()) ++good;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(30, good.load());
}
