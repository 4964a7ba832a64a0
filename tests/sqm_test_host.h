// Fake platform for the metrics collector's tests: clocks that tests move, an
// HTTP POST that records what it got and answers from a script, a
// geolocation GET, and a log that keeps every line.
#pragma once

#include <chrono>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <zlib.h>

#include <nlohmann/json.hpp>

#include "gunzip.h"

#include "sqm/sqm.h"
#include "sqm/sqm_impl.h"
#include "test_support.h"

namespace TesselSDK {

// Reaches the collector's private state and builders.
struct SqmTestAccess {
    static SQM::SqmImpl& Impl(SQM& sqm) { return *sqm.impl; }
    static nlohmann::ordered_json Sample(SQM& sqm, long long nowMs) {
        std::lock_guard<std::mutex> lock(sqm.impl->sessionMutex);
        return nlohmann::ordered_json{{"metric_object", sqm.BuildDuringSample(nowMs)}};
    }
    static HttpHeaders Headers(SQM& sqm, const std::string& token) { return sqm.BuildRequestHeaders(token); }
    static void Post(SQM& sqm, const char* name, const std::string& body) {
        sqm.PostMetrics(name, body, sqm.BuildRequestHeaders(""), 0, nullptr);
    }
};

}  // namespace TesselSDK

namespace sqmtest {

using Json = nlohmann::ordered_json;

using testsupport::Gunzip;

struct Post {
    std::string body;  // decompressed
    TesselSDK::HttpHeaders headers;
    Json Record() const { return Json::parse(body); }
};

class FakeHost {
public:
    // Wall clock (epoch ms) and steady clock move together.
    void AdvanceMs(long long ms) {
        std::lock_guard<std::mutex> lock(m);
        nowMs += ms;
        steady += std::chrono::milliseconds(ms);
    }
    void AdvanceSeconds(long long s) { AdvanceMs(s * 1000); }
    long long Now() {
        std::lock_guard<std::mutex> lock(m);
        return nowMs;
    }
    // Statuses answered to the next posts, in order; afterwards 200.
    void Answer(std::initializer_list<int> statuses) {
        std::lock_guard<std::mutex> lock(m);
        script.insert(script.end(), statuses);
    }
    std::vector<Post> Posts() {
        std::lock_guard<std::mutex> lock(m);
        return posts;
    }
    std::vector<Post> PostsOf(const std::string& action) {
        std::vector<Post> out;
        for (const auto& p : Posts()) {
            if (p.Record()["action_type"] == action) out.push_back(p);
        }
        return out;
    }
    int CountLogs(int level, const std::string& part) {
        std::lock_guard<std::mutex> lock(m);
        int n = 0;
        for (const auto& l : logs) n += l.first == level && l.second.find(part) != std::string::npos ? 1 : 0;
        return n;
    }

    TesselSDK::SqmCallbacks Callbacks() {
        TesselSDK::SqmCallbacks c;
        c.logFn = [this](int level, const char* text) {
            std::lock_guard<std::mutex> lock(m);
            logs.emplace_back(level, text);
        };
        c.httpGetFn = [this](const std::string& url, std::function<void(int, const std::string&)> done) {
            std::unique_lock<std::mutex> lock(m);
            ++geoCount;
            geoUrl = url;
            const int status = geoStatus;
            const std::string body = geoBody;
            lock.unlock();
            done(status, body);
        };
        c.httpPostFn = [this](const std::string&, const std::string& body, const TesselSDK::HttpHeaders& headers,
                              std::function<void(int, const std::string&)> done) {
            std::unique_lock<std::mutex> lock(m);
            const int status = script.empty() ? 200 : script.front();
            if (!script.empty()) script.pop_front();
            posts.push_back(Post{Gunzip(body), headers});
            lock.unlock();
            done(status, status == 200 ? "{\"result\":\"ok\"}" : "nope");
        };
        c.envFn = [](const char* name) { return std::string(name) == "game_id" ? "GAME_KR" : ""; };
        c.nowMsFn = [this]() { return Now(); };
        c.timeZoneFn = [] { return std::string("+09:00"); };
        c.cpuUsageFn = [] { return 33.3f; };
        c.gpuUsageFn = [] { return 0.0f; };
        c.batteryLevelFn = [] { return -1.0f; };
        c.osVersionFn = [] { return std::string("10.0.22631"); };
        c.cpuNameFn = [] { return std::string("Test CPU"); };
        c.memoryCapacityFn = [] { return 15.9f; };
        c.gpuMemoryCapacityFn = [] { return 8.0f; };
        c.deviceModelFn = [] { return std::string("Model X"); };
        c.deviceTypeFn = [] { return std::string("Desktop"); };
        c.screenSizeFn = [](int& w, int& h) { w = 2560, h = 1440; };
        c.gpuInfoFn = [](std::string& name, int& encoder) { name = "Test GPU", encoder = 1; };
        c.bitrateConfigFn = [](int& mn, int& mx, int& fps) { return mn = 10000000, mx = 20000000, fps = 60, true; };
        c.accessTokenFn = [] { return std::string("tok"); };
        return c;
    }

    std::mutex m;
    long long nowMs = 1'800'000'000'000LL;
    TesselSDK::SteadyTime steady = TesselSDK::SteadyTime{} + std::chrono::hours(100);
    std::vector<std::pair<int, std::string>> logs;
    std::vector<Post> posts;
    std::deque<int> script;
    int geoStatus = 200;
    std::string geoBody = R"({"status":"success","countryCode":"KR","city":"Seoul","isp":"Test ISP"})";
    std::string geoUrl;
    int geoCount = 0;
};

inline TesselSDK::SqmConfig EnabledConfig(int collect = 5, int delay = 60, int batch = 30) {
    TesselSDK::SqmConfig c;
    c.enabled = true;
    c.metric_collect_interval_s = collect;
    c.start_streaming_push_delay_s = delay;
    c.during_streaming_push_interval_s = batch;
    return c;
}

// A collector wired to the fake host; its retries wait no time.
inline std::unique_ptr<TesselSDK::SQM> MakeCollector(FakeHost& host, const TesselSDK::SqmConfig& config,
                                                     TesselSDK::SqmCallbacks callbacks) {
    auto sqm = std::make_unique<TesselSDK::SQM>();
    sqm->SetHostCallbacks(std::move(callbacks), "1.2.3", 7);
    sqm->SetStreamerId("M1-7-1700");
    sqm->SetConfig(config);
    sqm->SetSteadyClockForTesting([&host]() {
        std::lock_guard<std::mutex> lock(host.m);
        return host.steady;
    });
    sqm->SetRetryWaitForTesting([](std::chrono::milliseconds) { return std::chrono::milliseconds(0); });
    return sqm;
}
inline std::unique_ptr<TesselSDK::SQM> MakeCollector(FakeHost& host,
                                                     const TesselSDK::SqmConfig& config = EnabledConfig()) {
    return MakeCollector(host, config, host.Callbacks());
}

// A report of the given entries: {"stats":[{"type":t,"members":m}, ...]}.
inline std::string Report(const std::vector<std::pair<std::string, Json>>& entries) {
    Json stats = Json::array();
    for (const auto& e : entries) stats.push_back(Json{{"type", e.first}, {"id", "x"}, {"members", e.second}});
    return Json{{"stats", stats}}.dump();
}

// A small report with both codecs, both candidates and encoder counters.
inline std::string SettledReport(int framesEncoded = 300, int qpSum = 9000) {
    return Report({{"codec", Json{{"mimeType", "video/VP8"}, {"clockRate", 90000}}},
                   {"codec", Json{{"mimeType", "audio/opus"}, {"clockRate", 48000},
                                  {"sdpFmtpLine", "minptime=10;useinbandfec=1"}}},
                   {"local-candidate", Json{{"candidateType", "host"}, {"address", "10.0.0.2"},
                                            {"networkType", "ethernet"}, {"vpn", false}}},
                   {"remote-candidate", Json{{"candidateType", "srflx"}, {"address", "1.2.3.4"}, {"port", 5000},
                                             {"protocol", "udp"}}},
                   {"outbound-rtp", Json{{"kind", "video"}, {"framesEncoded", framesEncoded}, {"qpSum", qpSum},
                                         {"frameWidth", 1920}, {"targetBitrate", 2500000}}}});
}

// The real statistics reports (tests/data/webrtc-stats, unpacked by the build).
inline std::string DataDir() {
    const char* dir = std::getenv("TESSELSDK_TEST_DATA_DIR");
    return dir != nullptr ? dir : ".";
}

}  // namespace sqmtest
