// Load: eight host threads push statistics, send telemetry and log against
// the service double while another thread shuts the object down and then
// destroys it. Run under the sanitizers too; the heap in use afterwards is
// back at its starting level.
//
// TESSELSDK_LOAD_SECONDS sets the duration (default 60).
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <malloc.h>
#include <nlohmann/json.hpp>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// From the sanitizer runtime's allocator interface (GCC ships no header for it).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

#include "tesselsdk/link_logic.h"
#include "tesselsdk/tesselsdk.h"
#include "test_support.h"

using testsupport::AddRoute;
using testsupport::ScopedEnv;
using testsupport::ServerUrl;

namespace {

size_t HeapInUse() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

nlohmann::json LoadConfig() {
    const std::string base = ServerUrl();
    return {{"virivizar_ss", {{"ws", {{"kr", "signal.test.invalid"}}}}},
            {"virivizar_turn", {{"api", {{"kr", base + "/turn"}}}}},
            {"virivizar_event", {{"api", {{"kr", base + "/event"}}}}},
            {"virivizar_sqm",
             {{"api", {{"kr", base + "/sqm"}}},
              {"metric_collect_interval_s", 1},
              {"start_streaming_push_delay_s", 1},
              {"during_streaming_push_interval_s", 2},
              {"games", {{"LOADGAME", {{"enabled", true}}}}}}},
            {"virivizar_bitrate", {{"Unreal", {{"AUTO", {{"Fps", 60}}}}}}}};
}

std::vector<std::string> Reports() {
    std::vector<std::string> reports;
    const char* dir = std::getenv("TESSELSDK_TEST_DATA_DIR");
    std::ifstream in(std::string(dir ? dir : ".") + "/sequence.jsonl", std::ios::binary);
    std::string line;
    while (reports.size() < 30 && std::getline(in, line)) reports.push_back(line);
    return reports;
}

// One object's whole life under load.
void RunSession(int seconds, const std::vector<std::string>& reports) {
    TesselSDK::LinkLogic* logic = TesselSDK::LinkLogic::Create("load", 1, TesselSDK::PlatformInterface());
    bool ok = false;
    logic->Initialize([&ok](bool result) { ok = result; });
    EXPECT_TRUE(ok);
    logic->HandlePlayerConnected("player", true, nullptr);
    logic->HandleStreamingStarted("player", "wifi");

    std::atomic<bool> stop{false};
    std::atomic<long> pushes{0};
    std::vector<std::thread> hosts;
    for (int t = 0; t < 8; ++t) {
        hosts.emplace_back([&, t] {
            size_t i = static_cast<size_t>(t);
            while (!stop.load()) {
                logic->PushWebRTCStatsReport("player", reports[i++ % reports.size()].c_str());
                logic->SendTallo("load.tick", "1.0", "thread", "wifi");
                TesselSDK_Log(nullptr, t % 4, "load: host thread line");
                ++pushes;
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });
    }
    // Halfway through, another thread shuts the object down while the host
    // threads keep calling it; at the end it destroys it.
    std::thread control([&] {
        std::this_thread::sleep_for(std::chrono::seconds(seconds) / 2);
        logic->HandleStreamingEnded("player", nullptr);
        logic->Shutdown();
        std::this_thread::sleep_for(std::chrono::seconds(seconds) / 2);
        stop = true;
    });
    control.join();
    for (auto& h : hosts) h.join();
    TesselSDK::LinkLogic::Destroy(logic);
    EXPECT_GT(pushes.load(), 8L * seconds);
}

TEST(Load, EightHostThreadsWhileShuttingDownAndDestroying) {
    const char* env = std::getenv("TESSELSDK_LOAD_SECONDS");
    const int seconds = env ? std::atoi(env) : 60;
    testsupport::ResetServer();
    AddRoute({{"path", testsupport::LiveConfigPath()}, {"status", 200}, {"body", LoadConfig().dump()}});
    ScopedEnv gate("streaming_yn", "y");
    ScopedEnv envName("ENV");
    ScopedEnv game("game_id", "LOADGAME");
    ScopedEnv token("OMBREL_ACCESS_TOKEN", "load-token");
    const auto reports = Reports();
    ASSERT_FALSE(reports.empty());

    // A short first session allocates what lives for the whole process
    // (logger, HTTP library, static tables); the second one is measured.
    RunSession(2, reports);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const size_t before = HeapInUse();
    RunSession(seconds, reports);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const size_t after = HeapInUse();

    const long long growth = static_cast<long long>(after) - static_cast<long long>(before);
    std::printf("load: heap in use before %zu bytes, after %zu bytes, growth %lld bytes\n", before, after, growth);
    EXPECT_LT(growth, 1LL << 20) << "heap grew by " << growth << " bytes";

    // The service double kept receiving through the whole run.
    EXPECT_FALSE(testsupport::Requests("/sqm/v1.0/metrics").empty());
    EXPECT_FALSE(testsupport::Requests("/telemetry/std_halyx").empty());
}

}  // namespace
