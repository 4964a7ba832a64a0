// Cost of one log call on the caller's thread while the logger runs and its
// writer appends to a file in a temporary data folder.
//   bench_logger --benchmark_filter=LogMessage
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

#include "log/logger.h"

namespace {

void BM_LogMessage(benchmark::State& state) {
    const std::string message = "[TesselSDK::SQM] during-streaming sample queued, fps=60 bitrate=15000000";
    for (auto _ : state) TesselSDK::LogMessage(TesselSDK::kLogInfo, message.c_str());
}
BENCHMARK(BM_LogMessage)->Repetitions(10)->ReportAggregatesOnly(true);
BENCHMARK(BM_LogMessage)->Threads(4)->Repetitions(10)->ReportAggregatesOnly(true);

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
    benchmark::RunSpecifiedBenchmarks();
    TesselSDK::Logger::Instance().Stop();
    benchmark::Shutdown();

    std::error_code ec;
    fs::remove_all(folder, ec);
    return 0;
}
