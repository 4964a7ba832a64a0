// Cost of one statistics push next to a bare JSON parse of the same report,
// with the heap allocations each makes, and of compressing a 30 s batch.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <new>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include "sqm/sqm.h"
#include "sqm/sqm_gzip.h"

namespace {
// Allocations made on each thread (the benchmarks count their own thread's).
thread_local long long t_allocations = 0;
}  // namespace

// Every allocation of the program is counted. (GCC takes free() in an
// inlined replacement delete for a mismatch with new.)
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(std::size_t size) {
    ++t_allocations;
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return ::operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace {

// Reports the allocations made while it lived, per iteration of the state.
class AllocationCounter {
public:
    explicit AllocationCounter(benchmark::State& state) : state_(state), start_(t_allocations) {}
    ~AllocationCounter() {
        state_.counters["allocs"] = benchmark::Counter(static_cast<double>(t_allocations - start_),
                                                       benchmark::Counter::kAvgIterations);
    }
    AllocationCounter(const AllocationCounter&) = delete;
    AllocationCounter& operator=(const AllocationCounter&) = delete;

private:
    benchmark::State& state_;
    long long start_;
};

const std::string& Report() {
    static const std::string text = [] {
        std::ifstream in(std::string(TESSELSDK_BENCH_DATA_DIR) + "/report-0020.json", std::ios::binary);
        std::ostringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }();
    return text;
}

struct Clocks {
    long long nowMs = 1'800'000'000'000LL;
    std::chrono::steady_clock::time_point steady{std::chrono::hours(1)};
};

// A collector with cheap providers whose posts are answered 200 at once.
void Wire(TesselSDK::SQM& sqm, Clocks& clocks, int delay, std::function<void(int, const char*)> log = nullptr) {
    TesselSDK::SqmCallbacks c;
    c.logFn = std::move(log);
    c.httpPostFn = [](const std::string&, const std::string&, const std::map<std::string, std::string>&,
                      std::function<void(int, const std::string&)> done) { done(200, "{}"); };
    c.envFn = [](const char*) { return std::string("GAME"); };
    c.nowMsFn = [&clocks]() { return clocks.nowMs; };
    c.timeZoneFn = [] { return std::string("+09:00"); };
    c.cpuUsageFn = [] { return 12.5f; };
    c.gpuUsageFn = [] { return 40.0f; };
    c.batteryLevelFn = [] { return -1.0f; };
    c.accessTokenFn = [] { return std::string("token"); };
    sqm.SetHostCallbacks(c, "1.0", 2);
    sqm.SetStreamerId("bench-2-1");
    TesselSDK::SqmConfig config;
    config.enabled = true;
    config.start_streaming_push_delay_s = delay;  // collect every 5 s, batch every 30 s
    sqm.SetConfig(config);
    sqm.SetSteadyClockForTesting([&clocks]() { return clocks.steady; });
    sqm.OnStreamingStart("player", "wifi");
}

void BM_BareParse(benchmark::State& state) {
    Report();
    AllocationCounter allocations(state);
    for (auto _ : state) {
        auto doc = nlohmann::ordered_json::parse(Report());
        benchmark::DoNotOptimize(doc);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(Report().size()));
}
BENCHMARK(BM_BareParse);

void BM_PushWebRTCStatsReport(benchmark::State& state) {
    Clocks clocks;
    TesselSDK::SQM sqm;
    Wire(sqm, clocks, 3600);  // a session that has not settled yet
    sqm.PushWebRTCStatsReport("player", Report().c_str());
    AllocationCounter allocations(state);
    for (auto _ : state) sqm.PushWebRTCStatsReport("player", Report().c_str());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(Report().size()));
}
BENCHMARK(BM_PushWebRTCStatsReport);

// The two above, interleaved: each iteration parses the report bare, then
// pushes it, so both see the same machine load. The time is the push's;
// push_over_parse is the push's share of the parse's time.
void BM_PushOverParse(benchmark::State& state) {
    using Clock = std::chrono::steady_clock;
    Clocks clocks;
    TesselSDK::SQM sqm;
    Wire(sqm, clocks, 3600);
    sqm.PushWebRTCStatsReport("player", Report().c_str());
    Clock::duration parse{};
    Clock::duration push{};
    for (auto _ : state) {
        const auto t0 = Clock::now();
        benchmark::DoNotOptimize(nlohmann::ordered_json::parse(Report()));
        const auto t1 = Clock::now();
        sqm.PushWebRTCStatsReport("player", Report().c_str());
        const auto t2 = Clock::now();
        parse += t1 - t0;
        push += t2 - t1;
        state.SetIterationTime(std::chrono::duration<double>(t2 - t1).count());
    }
    state.counters["push_over_parse"] = static_cast<double>(push.count()) / static_cast<double>(parse.count());
}
BENCHMARK(BM_PushOverParse)->UseManualTime();

// The DURING_STREAMING batch of a 30 s interval: six samples at 5 s, taken
// from the payload log line of the second batch.
void BM_GzipCompressBatch(benchmark::State& state) {
    static const std::string json = [] {
        Clocks clocks;
        std::string captured;
        int batches = 0;
        TesselSDK::SQM sqm;
        Wire(sqm, clocks, 0, [&](int, const char* text) {
            const std::string head = "[TesselSDK::SQM] DURING_STREAMING payload:\n";
            if (std::string(text).compare(0, head.size(), head) == 0 && ++batches == 2) captured = text + head.size();
        });
        for (int second = 1; second <= 100 && captured.empty(); ++second) {
            clocks.nowMs += 1000;
            clocks.steady += std::chrono::seconds(1);
            sqm.PushWebRTCStatsReport("player", Report().c_str());
        }
        return captured;
    }();
    if (json.empty()) return state.SkipWithError("no batch was built");
    size_t compressed = 0;
    for (auto _ : state) {
        std::string out = TesselSDK::GzipCompress(json).value_or(std::string());
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
