// Cost of one statistics push next to a bare JSON parse of the same report,
// and of compressing a 30 s batch.
#include <benchmark/benchmark.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include "sqm/sqm.h"
#include "sqm/sqm_gzip.h"

namespace {

std::string ReadReport(const char* name) {
    std::ifstream in(std::string(TESSELSDK_BENCH_DATA_DIR) + "/" + name, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

const std::string& Report() {
    static const std::string text = ReadReport("report-0020.json");
    return text;
}

struct Clocks {
    long long nowMs = 1'800'000'000'000LL;
    std::chrono::steady_clock::time_point steady{std::chrono::hours(1)};
};

// Cheap providers; posts are answered 200 at once and the last body is kept.
TesselSDK::SqmCallbacks CheapProviders(Clocks& clocks, std::string* lastBody) {
    TesselSDK::SqmCallbacks c;
    c.httpPostFn = [lastBody](const std::string&, const std::string& body, const std::map<std::string, std::string>&,
                              std::function<void(int, const std::string&)> done) {
        if (lastBody != nullptr) *lastBody = body;
        done(200, "{}");
    };
    c.envFn = [](const char*) { return std::string("GAME"); };
    c.nowMsFn = [&clocks]() { return clocks.nowMs; };
    c.timeZoneFn = [] { return std::string("+09:00"); };
    c.cpuUsageFn = [] { return 12.5f; };
    c.gpuUsageFn = [] { return 40.0f; };
    c.batteryLevelFn = [] { return -1.0f; };
    c.accessTokenFn = [] { return std::string("token"); };
    return c;
}

TesselSDK::SqmConfig Enabled(int collect, int delay, int batch) {
    TesselSDK::SqmConfig config;
    config.enabled = true;
    config.metric_collect_interval_s = collect;
    config.start_streaming_push_delay_s = delay;
    config.during_streaming_push_interval_s = batch;
    return config;
}

void BM_BareParse(benchmark::State& state) {
    const std::string& text = Report();
    for (auto _ : state) {
        auto doc = nlohmann::ordered_json::parse(text);
        benchmark::DoNotOptimize(doc);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_BareParse);

void BM_PushWebRTCStatsReport(benchmark::State& state) {
    const std::string& text = Report();
    Clocks clocks;
    TesselSDK::SQM sqm;
    sqm.SetHostCallbacks(CheapProviders(clocks, nullptr), "1.0", 2);
    sqm.SetStreamerId("bench-2-1");
    sqm.SetConfig(Enabled(5, 3600, 30));  // a session that has not settled yet
    sqm.SetSteadyClockForTesting([&clocks]() { return clocks.steady; });
    sqm.OnStreamingStart("player", "wifi");
    for (auto _ : state) sqm.PushWebRTCStatsReport("player", text.c_str());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_PushWebRTCStatsReport);

// The DURING_STREAMING batch of a 30 s interval: six samples at 5 s.
void BM_GzipCompressBatch(benchmark::State& state) {
    // The post hands over the compressed text; recover the JSON once.
    static const std::string json = [] {
        Clocks clocks;
        std::string captured;
        TesselSDK::SQM sqm;
        auto providers = CheapProviders(clocks, nullptr);
        providers.logFn = [&captured](int, const char* text) {
            const std::string line(text);
            const std::string head = "[TesselSDK::SQM] DURING_STREAMING payload:\n";
            if (line.compare(0, head.size(), head) == 0) captured = line.substr(head.size());
        };
        sqm.SetHostCallbacks(providers, "1.0", 2);
        sqm.SetStreamerId("bench-2-1");
        sqm.SetConfig(Enabled(5, 0, 30));
        sqm.SetSteadyClockForTesting([&clocks]() { return clocks.steady; });
        sqm.OnStreamingStart("player", "wifi");
        for (int second = 1; second <= 100; ++second) {
            clocks.nowMs += 1000;
            clocks.steady += std::chrono::seconds(1);
            sqm.PushWebRTCStatsReport("player", Report().c_str());
            // The second batch is the first one holding exactly one interval.
            if (!captured.empty() && nlohmann::ordered_json::parse(captured)["action_data"]["data"].size() == 6) break;
        }
        return captured;
    }();
    if (json.empty()) {
        state.SkipWithError("no batch was built");
        return;
    }
    size_t compressed = 0;
    for (auto _ : state) {
        std::string out = TesselSDK::GzipCompress(json);
        compressed = out.size();
        benchmark::DoNotOptimize(out);
    }
    state.counters["json_bytes"] = static_cast<double>(json.size());
    state.counters["gzip_bytes"] = static_cast<double>(compressed);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(json.size()));
}
BENCHMARK(BM_GzipCompressBatch);

}  // namespace

BENCHMARK_MAIN();
