// Cost of one log call on the caller's thread while the logger runs and its
// writer appends to a file in a temporary data folder, beside spdlog's
// asynchronous logger doing the same work (a queued line, a worker thread
// writing it to a file).
//
// Back to back, and paced at 1 kHz (one call per millisecond, a game's pace):
// a paced run times each call on the steady clock and reports the median and
// the 99.9th percentile of the calls as the counters p50_us and p99.9_us (its
// time column is the mean of the calls).
//   bench_logger --benchmark_filter=Paced
#include <benchmark/benchmark.h>
#include <spdlog/async.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "log/logger.h"

namespace {

const std::string kMessage = "[TesselSDK::SQM] during-streaming sample queued, fps=60 bitrate=15000000";
constexpr int kPacedCalls = 5000;

std::shared_ptr<spdlog::logger> g_spdlog;

// Every line logged is written, so the back-to-back runs have a fixed size
// (about 100 bytes of file per call).
constexpr int kBackToBackCalls = 200000;

void BM_LogMessage(benchmark::State& state) {
    for (auto _ : state) TesselSDK::LogMessage(TesselSDK::kLogInfo, kMessage.c_str());
}
BENCHMARK(BM_LogMessage)->Iterations(kBackToBackCalls)->Repetitions(10)->ReportAggregatesOnly(true);
BENCHMARK(BM_LogMessage)->Threads(4)->Iterations(kBackToBackCalls)->Repetitions(10)->ReportAggregatesOnly(true);

void BM_SpdlogAsync(benchmark::State& state) {
    for (auto _ : state) g_spdlog->info(kMessage);
}
BENCHMARK(BM_SpdlogAsync)->Iterations(kBackToBackCalls);

// One call a millisecond; each call timed alone.
template <typename Call>
void Paced(benchmark::State& state, Call call) {
    using Clock = std::chrono::steady_clock;
    std::vector<double> nanos;
    nanos.reserve(static_cast<std::size_t>(state.max_iterations));
    Clock::time_point next = Clock::now();
    for (auto _ : state) {
        next = std::max(next + std::chrono::milliseconds(1), Clock::now());
        std::this_thread::sleep_until(next);
        const Clock::time_point start = Clock::now();
        call();
        const Clock::time_point end = Clock::now();
        const std::chrono::duration<double> took = end - start;
        state.SetIterationTime(took.count());
        nanos.push_back(took.count() * 1e9);
    }
    std::sort(nanos.begin(), nanos.end());
    const auto percentile = [&nanos](double p) {
        return nanos[std::min(nanos.size() - 1, static_cast<std::size_t>(p * static_cast<double>(nanos.size())))];
    };
    if (!nanos.empty()) {
        state.counters["p50_us"] = percentile(0.5) / 1000.0;
        state.counters["p99.9_us"] = percentile(0.999) / 1000.0;
    }
}

void BM_LogMessagePaced(benchmark::State& state) {
    Paced(state, [] { TesselSDK::LogMessage(TesselSDK::kLogInfo, kMessage.c_str()); });
}
BENCHMARK(BM_LogMessagePaced)->UseManualTime()->Iterations(kPacedCalls);

void BM_SpdlogAsyncPaced(benchmark::State& state) {
    Paced(state, [] { g_spdlog->info(kMessage); });
}
BENCHMARK(BM_SpdlogAsyncPaced)->UseManualTime()->Iterations(kPacedCalls);

}  // namespace

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    const fs::path folder = fs::temp_directory_path() / ("tesselsdk-bench-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    setenv("XDG_DATA_HOME", folder.c_str(), 1);
    setenv("ENV", "BENCH", 1);

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    TesselSDK::Logger::Instance().Init();
    // spdlog's defaults for an asynchronous logger: one worker, a queue of
    // 8192 messages, callers wait when it is full.
    spdlog::init_thread_pool(8192, 1);
    g_spdlog = spdlog::basic_logger_mt<spdlog::async_factory>("bench", (folder / "spdlog.log").string());
    benchmark::RunSpecifiedBenchmarks();
    g_spdlog.reset();
    spdlog::shutdown();
    TesselSDK::Logger::Instance().Stop();
    benchmark::Shutdown();

    std::error_code ec;
    fs::remove_all(folder, ec);
    return 0;
}
