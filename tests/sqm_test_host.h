// Fake platform for the metrics collector's tests: clocks that tests move,
// an HTTP POST that records what it got and answers from a script, a
// geolocation GET, and a log that keeps every line.
#pragma once

#include <chrono>
#include <deque>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <zlib.h>

#include <nlohmann/json.hpp>

#include "sqm/sqm.h"
#include "sqm/sqm_impl.h"

namespace TesselSDK {

// Reaches the collector's private state and builders.
struct SqmTestAccess {
    static SQM::SqmImpl& Impl(SQM& sqm) { return *sqm.impl; }
    static nlohmann::ordered_json Sample(SQM& sqm, long long nowMs) {
        std::lock_guard<std::mutex> lock(sqm.impl->sessionMutex);
        return sqm.BuildDuringSample(nowMs);
    }
    static nlohmann::ordered_json Codec(SQM& sqm, const std::string& kind) { return sqm.BuildCodecInfo(kind); }
    static HttpHeaders Headers(SQM& sqm, const std::string& token) { return sqm.BuildRequestHeaders(token); }
    static void Post(SQM& sqm, const char* name, const std::string& body, int attempt) {
        sqm.PostMetrics(name, body, sqm.BuildRequestHeaders(""), attempt, nullptr);
    }
};

}  // namespace TesselSDK

namespace sqmtest {

using Json = nlohmann::ordered_json;
using TesselSDK::SteadyTime;

inline std::string Gunzip(const std::string& data) {
    z_stream zs{};
    if (inflateInit2(&zs, 31) != Z_OK) return "<inflateInit failed>";
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    zs.avail_in = static_cast<uInt>(data.size());
    std::string out;
    char buf[16384];
    int rc = Z_OK;
    do {
        zs.next_out = reinterpret_cast<Bytef*>(buf);
        zs.avail_out = sizeof(buf);
        rc = inflate(&zs, Z_NO_FLUSH);
        out.append(buf, sizeof(buf) - zs.avail_out);
    } while (rc == Z_OK);
    const bool complete = rc == Z_STREAM_END && zs.avail_in == 0;
    inflateEnd(&zs);
    return complete ? out : "<not a complete gzip stream>";
}

struct Post {
    std::string url;
    std::string body;  // decompressed
    TesselSDK::HttpHeaders headers;
    int status = 0;
    Json Record() const { return Json::parse(body); }
    std::string Action() const { return Record()["action_type"].get<std::string>(); }
};

class FakeHost {
public:
    // Wall clock (epoch ms) and steady clock move together.
    void Advance(std::chrono::milliseconds d) {
        std::lock_guard<std::mutex> lock(m);
        nowMs += d.count();
        steady += d;
    }
    void AdvanceSeconds(long long s) { Advance(std::chrono::milliseconds(s * 1000)); }
    long long Now() {
        std::lock_guard<std::mutex> lock(m);
        return nowMs;
    }

    // Statuses answered to the next posts, in order; afterwards 200.
    void Answer(std::initializer_list<int> statuses) {
        std::lock_guard<std::mutex> lock(m);
        for (int s : statuses) script.push_back(s);
    }
    std::vector<Post> Posts() {
        std::lock_guard<std::mutex> lock(m);
        return posts;
    }
    std::vector<Post> PostsOf(const std::string& action) {
        std::vector<Post> out;
        for (const auto& p : Posts()) {
            if (p.Action() == action) out.push_back(p);
        }
        return out;
    }
    std::vector<std::pair<int, std::string>> Logs() {
        std::lock_guard<std::mutex> lock(m);
        return logs;
    }
    int CountLogs(int level, const std::string& part) {
        int n = 0;
        for (const auto& l : Logs()) {
            if (l.first == level && l.second.find(part) != std::string::npos) ++n;
        }
        return n;
    }
    int geoRequests() {
        std::lock_guard<std::mutex> lock(m);
        return geoCount;
    }

    TesselSDK::SqmCallbacks Callbacks() {
        TesselSDK::SqmCallbacks c;
        c.logFn = [this](int level, const char* text) {
            std::lock_guard<std::mutex> lock(m);
            logs.emplace_back(level, text);
        };
        c.httpGetFn = [this](const std::string& url, std::function<void(int, const std::string&)> done) {
            int status;
            std::string body;
            {
                std::lock_guard<std::mutex> lock(m);
                ++geoCount;
                geoUrl = url;
                status = geoStatus;
                body = geoBody;
            }
            done(status, body);
        };
        c.httpPostFn = [this](const std::string& url, const std::string& body, const TesselSDK::HttpHeaders& headers,
                              std::function<void(int, const std::string&)> done) {
            int status = 200;
            {
                std::lock_guard<std::mutex> lock(m);
                if (!script.empty()) {
                    status = script.front();
                    script.pop_front();
                }
                posts.push_back(Post{url, Gunzip(body), headers, status});
            }
            done(status, status == 200 ? "{\"result\":\"ok\"}" : "nope");
        };
        c.envFn = [](const char* name) { return std::string(name) == "game_id" ? std::string("GAME_KR") : ""; };
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
        c.screenSizeFn = [](int& w, int& h) {
            w = 2560;
            h = 1440;
        };
        c.gpuInfoFn = [](std::string& name, int& enc) {
            name = "Test GPU";
            enc = 1;
        };
        c.bitrateConfigFn = [](int& mn, int& mx, int& fps) {
            mn = 10000000;
            mx = 20000000;
            fps = 60;
            return true;
        };
        c.accessTokenFn = [] { return std::string("tok"); };
        return c;
    }

    std::mutex m;
    long long nowMs = 1'800'000'000'000LL;
    SteadyTime steady = SteadyTime{} + std::chrono::hours(100);
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

// A collector wired to the fake host, its retries waiting no time.
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

// A small report with a video codec, both candidates and encoder counters.
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

inline std::string DataDir() {
    const char* dir = std::getenv("TESSELSDK_TEST_DATA_DIR");
    return dir != nullptr ? dir : "/work/shared/data/webrtc-stats";
}

inline std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

inline std::string DataReport(int n) {
    char name[32];
    std::snprintf(name, sizeof(name), "/report-%04d.json", n);
    return ReadText(DataDir() + name);
}

inline std::vector<std::string> SequenceLines() {
    std::vector<std::string> lines;
    std::ifstream in(DataDir() + "/sequence.jsonl", std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

// Polls pred every 5 ms for up to timeout.
inline bool testsupport_wait(const std::function<bool()>& pred,
                             std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace sqmtest
