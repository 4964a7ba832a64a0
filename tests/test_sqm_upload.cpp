#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

#include "net/http_client.h"
#include "sqm/sqm_gzip.h"
#include "sqm_test_host.h"
#include "tesselsdk_endpoints.h"

using namespace sqmtest;
using TesselSDK::SQM;
using TesselSDK::SqmTestAccess;

namespace {

const char* kBody = R"({"streamer_id":"s","action_type":"END_STREAMING","x":"\u00e9"})";

bool Idle(SQM& sqm) {
    return testsupport::WaitUntil([&] { return SqmTestAccess::Impl(sqm).retries.Running() == 0; });
}

}  // namespace

TEST(SqmUpload, UrlRuleAndHeaders) {
    using TesselSDK::MetricsUrl;
    EXPECT_EQ(std::string(TESSELSDK_SQM_DEV_URL) + "/virivizar-sqm/v1.0/metrics", MetricsUrl(""));
    EXPECT_EQ("https://m.example/base/v1.0/metrics", MetricsUrl("m.example/base///"));
    EXPECT_EQ("https:///v1.0/metrics", MetricsUrl("///"));
    // A value that carries its scheme is used as given.
    EXPECT_EQ("https://m.example/v1.0/metrics", MetricsUrl("https://m.example/"));
    EXPECT_EQ("https://m.example/v1.0/metrics", MetricsUrl("HTTPS://m.example/"));
    EXPECT_EQ("http://m.example:9/v1.0/metrics", MetricsUrl("Http://m.example:9"));
    EXPECT_EQ("http://127.0.0.1:9/sqm/v1.0/metrics", MetricsUrl("http://127.0.0.1:9/sqm"));
    EXPECT_EQ("https://httpbin.example/v1.0/metrics", MetricsUrl("httpbin.example"));

    FakeHost host;
    auto sqm = MakeCollector(host);
    EXPECT_EQ((TesselSDK::HttpHeaders{{"Authorization", "Bearer given"},
                                      {"Caller-Id", "ZADODADUZUVU-1.0.0"},
                                      {"Content-Encoding", "gzip"},
                                      {"Content-Type", "application/json"}}),
              SqmTestAccess::Headers(*sqm, "given"));
    EXPECT_EQ("Bearer tok", SqmTestAccess::Headers(*sqm, "").at("Authorization"));
    auto callbacks = host.Callbacks();
    callbacks.accessTokenFn = nullptr;
    EXPECT_EQ(0u, SqmTestAccess::Headers(*MakeCollector(host, EnabledConfig(), callbacks), "").count("Authorization"));
}

TEST(SqmUpload, GzipIsARealStream) {
    const std::string empty = TesselSDK::GzipCompress("").value();
    EXPECT_EQ("\x1f\x8b", empty.substr(0, 2));
    EXPECT_EQ("", Gunzip(empty));
    // Larger than one output window, incompressible parts included.
    std::string big;
    unsigned x = 12345;
    for (int i = 0; i < 200000; ++i) {
        x = x * 1103515245u + 12345u;
        big.push_back(static_cast<char>(i % 3 == 0 ? (x >> 16) & 0xFF : 'a' + i % 7));
    }
    EXPECT_EQ(big, Gunzip(TesselSDK::GzipCompress(big).value()));

    // A body that cannot be compressed is not posted.
    FakeHost host;
    auto sqm = MakeCollector(host);
    SqmTestAccess::Impl(*sqm).compress = [](const std::string&) { return std::nullopt; };
    SqmTestAccess::Post(*sqm, "END_STREAMING", kBody);
    EXPECT_TRUE(host.Posts().empty());
    EXPECT_EQ(1, host.CountLogs(2, "[TesselSDK::SQM] END_STREAMING not sent: gzip compression failed."));
}

TEST(SqmUpload, FailedPostsRetryThreeTimesThenDrop) {
    FakeHost host;
    auto sqm = MakeCollector(host);
    std::vector<long long> delays;  // nominal back-off of each retry
    sqm->SetRetryWaitForTesting([&](std::chrono::milliseconds d) {
        delays.push_back(d.count());  // retries run one after another
        return std::chrono::milliseconds(0);
    });
    host.Answer({500, 0, 201, 204});
    SqmTestAccess::Post(*sqm, "END_STREAMING", kBody);
    ASSERT_TRUE(Idle(*sqm));
    const auto posts = host.Posts();
    ASSERT_EQ(4u, posts.size());
    for (const auto& p : posts) EXPECT_EQ(kBody, p.body);
    EXPECT_EQ((std::vector<long long>{1000, 2000, 4000}), delays);
    EXPECT_EQ(1, host.CountLogs(1, "[TesselSDK::SQM] END_STREAMING failed HTTP 500: nope (attempt 1)"));
    EXPECT_EQ(1, host.CountLogs(1, "failed HTTP 0: nope (attempt 2)"));
    EXPECT_EQ(1, host.CountLogs(1, "failed HTTP 201: nope (attempt 3)"));
    EXPECT_EQ(1, host.CountLogs(1, "failed HTTP 204: nope (attempt 4)"));
    EXPECT_EQ(1, host.CountLogs(2, "[TesselSDK::SQM] END_STREAMING dropped after max retries."));
    // The payload is logged once, re-serialised with UTF-8 kept.
    EXPECT_EQ(1, host.CountLogs(0, "payload"));
    EXPECT_EQ(1, host.CountLogs(0, "[TesselSDK::SQM] END_STREAMING payload:\n"
                                   R"({"streamer_id":"s","action_type":"END_STREAMING","x":"é"})"));

    // A success on a retry, a raw payload line and a null record name.
    host.Answer({503});
    SqmTestAccess::Post(*sqm, nullptr, "not json");
    ASSERT_TRUE(Idle(*sqm));
    EXPECT_EQ(6u, host.Posts().size());
    EXPECT_EQ(1, host.CountLogs(0, "[TesselSDK::SQM] UNKNOWN payload (raw):\nnot json"));
    EXPECT_EQ(1, host.CountLogs(1, "[TesselSDK::SQM] UNKNOWN failed HTTP 503"));
    EXPECT_EQ(1, host.CountLogs(0, "[TesselSDK::SQM] UNKNOWN: 200: {\"result\":\"ok\"}"));
    EXPECT_EQ(1, host.CountLogs(2, ""));
}

TEST(SqmUpload, DestroyingWithPendingRetriesPostsNothingMore) {
    FakeHost host;
    std::atomic<int> postsAfterDestroy{0};
    std::atomic<bool> destroyed{false};
    auto callbacks = host.Callbacks();
    auto post = callbacks.httpPostFn;
    callbacks.httpPostFn = [&, post](const std::string& url, const std::string& body,
                                     const TesselSDK::HttpHeaders& headers,
                                     std::function<void(int, const std::string&)> done) {
        if (destroyed) ++postsAfterDestroy;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));  // a post in flight
        post(url, body, headers, done);
    };
    for (int wait : {0, 1000}) {
        host.Answer({500, 500, 500, 500, 500, 500, 500, 500});
        auto sqm = std::make_unique<SQM>();
        sqm->SetHostCallbacks(callbacks, "1", 2);
        sqm->SetConfig(EnabledConfig());
        sqm->SetRetryWaitForTesting([wait](std::chrono::milliseconds) { return std::chrono::milliseconds(wait); });
        for (int i = 0; i < 4; ++i) SqmTestAccess::Post(*sqm, "DURING_STREAMING", kBody);
        const auto before = std::chrono::steady_clock::now();
        sqm.reset();
        destroyed = true;
        // Sleeping retries are woken; at most the posts in flight are awaited.
        EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(900)) << wait;
        std::this_thread::sleep_for(std::chrono::milliseconds(wait == 0 ? 50 : 1200));
        EXPECT_EQ(0, postsAfterDestroy.load());
        // Each retry still asleep leaves a line naming its record.
        if (wait > 0) {
            EXPECT_EQ(4, host.CountLogs(1, "[TesselSDK::SQM] DURING_STREAMING retry dropped"));
        }
        destroyed = false;
        std::lock_guard<std::mutex> lock(host.m);
        host.script.clear();
        host.logs.clear();
    }
}

// --- Against the service double, through the library's HTTP client -------

namespace {

std::unique_ptr<SQM> WiredCollector(FakeHost& host, const std::string& api) {
    auto callbacks = host.Callbacks();
    callbacks.httpPostFn = [](const std::string& url, const std::string& body, const TesselSDK::HttpHeaders& headers,
                              std::function<void(int, const std::string&)> done) {
        TesselSDK::HttpPostJson(url, body, headers, std::move(done));
    };
    auto config = EnabledConfig();
    config.api = api;
    return MakeCollector(host, config, callbacks);
}

}  // namespace

TEST(SqmUploadWire, BodyIsGzipOfTheRecordWithHeaders) {
    testsupport::ResetServer();
    FakeHost host;
    SqmTestAccess::Post(*WiredCollector(host, testsupport::ServerUrl() + "/sqm/"), "END_STREAMING", kBody);
    const auto reqs = testsupport::Requests("/sqm/");
    ASSERT_EQ(1u, reqs.size());
    EXPECT_EQ("POST", reqs[0].method);
    EXPECT_EQ("/sqm/v1.0/metrics", reqs[0].path);
    EXPECT_EQ(kBody, Gunzip(reqs[0].body));
    EXPECT_EQ("gzip", reqs[0].Header("Content-Encoding"));
    EXPECT_EQ("ZADODADUZUVU-1.0.0", reqs[0].Header("Caller-Id"));
    EXPECT_EQ("Bearer tok", reqs[0].Header("Authorization"));
    EXPECT_EQ(2, reqs[0].HeaderCount("Content-Type"));
    EXPECT_EQ(1, host.CountLogs(0, "[TesselSDK::SQM] END_STREAMING: 200: "));

    // Without a configured host the development endpoint is used.
    SqmTestAccess::Post(*WiredCollector(host, ""), "END_STREAMING", kBody);
    EXPECT_EQ(1u, testsupport::Requests("/sqm-dev/virivizar-sqm/v1.0/metrics").size());
}

TEST(SqmUploadWire, ServerErrorRetriesOnTheRealClock) {
    testsupport::ResetServer();
    testsupport::AddRoute({{"path", "/sqm/v1.0/metrics"}, {"status", 500}, {"body", "busy"}, {"times", 4}});
    FakeHost host;
    auto sqm = WiredCollector(host, testsupport::ServerUrl() + "/sqm");
    sqm->SetRetryWaitForTesting(nullptr);  // the real 1-2-4 s schedule
    const auto t0 = std::chrono::steady_clock::now();
    SqmTestAccess::Post(*sqm, "DURING_STREAMING", kBody);
    // Four posts, 1 + 2 + 4 s apart, then the error line.
    ASSERT_TRUE(testsupport::WaitUntil([&] { return testsupport::Requests("/sqm/").size() >= 2; }));
    const auto second = std::chrono::steady_clock::now() - t0;
    ASSERT_TRUE(testsupport::WaitUntil([&] { return host.CountLogs(2, "dropped after max retries.") == 1; },
                                       std::chrono::seconds(12)));
    const auto last = std::chrono::steady_clock::now() - t0;
    EXPECT_EQ(4u, testsupport::Requests("/sqm/").size());
    EXPECT_GE(second, std::chrono::milliseconds(950));
    EXPECT_LT(second, std::chrono::milliseconds(1900));
    EXPECT_GE(last, std::chrono::milliseconds(6950));
    EXPECT_LT(last, std::chrono::milliseconds(8500));
    EXPECT_EQ(1, host.CountLogs(1, "failed HTTP 500: busy (attempt 4)"));
}

TEST(SqmUploadWire, RefusedPortGivesStatusZero) {
    FakeHost host;
    auto sqm = WiredCollector(host, "http://127.0.0.1:1");
    SqmTestAccess::Post(*sqm, "END_STREAMING", kBody);
    ASSERT_TRUE(testsupport::WaitUntil([&] { return host.CountLogs(2, "dropped after max retries.") == 1; }));
    EXPECT_EQ(4, host.CountLogs(1, "END_STREAMING failed HTTP 0: "));
}

TEST(SqmUploadWire, DestroyCancelsARetryHungOnTheServer) {
    testsupport::ResetServer();
    testsupport::AddRoute({{"path", "/sqm-hung/v1.0/metrics"}, {"mode", "hang"}});
    testsupport::AddRoute({{"path", "/sqm-hung/v1.0/metrics"}, {"status", 500}, {"body", "busy"}, {"times", 1}});
    FakeHost host;
    auto sqm = WiredCollector(host, testsupport::ServerUrl() + "/sqm-hung");
    SqmTestAccess::Post(*sqm, "DURING_STREAMING", kBody);
    // The first retry is in flight against a server that never answers.
    ASSERT_TRUE(testsupport::WaitUntil([&] { return testsupport::Requests("/sqm-hung/").size() >= 2; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto before = std::chrono::steady_clock::now();
    sqm.reset();
    const auto took = std::chrono::steady_clock::now() - before;
    std::printf("destroy with a hung retry: %lld ms\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
    EXPECT_LT(took, std::chrono::seconds(1));
    const auto logLines = [&host] {
        std::lock_guard<std::mutex> lock(host.m);
        return host.logs.size();
    };
    const auto lines = logLines();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(lines, logLines());
    EXPECT_EQ(2u, testsupport::Requests("/sqm-hung/").size());
}
