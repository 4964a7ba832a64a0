// Whole host sessions through the built library (the DLL under Wine), as a
// host sees them: only the public headers, against the local service double
// standing in for every remote service. On Linux a load run keeps eight host
// threads busy while another thread shuts the object down and destroys it.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#if defined(_WIN32)
#include <windows.h>
#endif
#if defined(__linux__)
#include <malloc.h>
#endif

#include "tesselsdk/link_logic.h"
#include "tesselsdk/tesselsdk.h"
#include "gunzip.h"
#include "test_support.h"

using testsupport::ScopedEnv;
using testsupport::ServerUrl;
using testsupport::WaitForRequests;

namespace {

// Scripts the LIVE configuration: every service on the double, metrics for
// GAME at a fast pace, and the event reporter when asked for.
void ScriptConfig(bool reporter) {
    const std::string base = ServerUrl();
    nlohmann::json doc = {
        {"virivizar_ss", {{"ws", {{"kr", "signal.test.invalid"}}}}},
        {"virivizar_turn", {{"api", {{"kr", base + "/turn/"}}}}},
        {"virivizar_event", {{"api", {{"kr", base + "/event/v1.0/notify"}}}}},
        {"virivizar_windows_events", {{"api", {{"kr", base + "/windows-events"}}}}},
        {"virivizar_sqm",
         {{"api", {{"kr", base + "/sqm"}}},
          {"metric_collect_interval_s", 1},
          {"start_streaming_push_delay_s", 1},
          {"during_streaming_push_interval_s", 2},
          {"games", {{"GAME", {{"enabled", true}}}}}}},
        {"virivizar_bitrate",
         {{"Unreal", {{"AUTO", {{"MaxBitrate", 8000000}, {"MinBitrate", 2000000}, {"Fps", 30}}}}}}}};
    if (reporter)
        doc["virivizar_sentry"] = {{"enable", true}, {"dsn", "http://hostkey@" + base.substr(base.find("//") + 2) + "/77"}};
    testsupport::ResetServer();
    testsupport::AddRoute({{"path", testsupport::LiveConfigPath()}, {"status", 200}, {"body", doc.dump()}});
}

// The identity of the session, set for the whole test.
struct SessionEnv {
    ScopedEnv gate{"streaming_yn", "y"}, env{"ENV"}, member{"member_no", "m-77"}, game{"game_id", "GAME"},
        token{"OMBREL_ACCESS_TOKEN", "host-session-token-0123456789"}, language{"OMBREL_LANGUAGE", "ko-KR"},
        nation{"OMBREL_NATION", "KR"};
};

std::vector<std::string> StatsReports(size_t count) {
    std::vector<std::string> reports;
    const char* dir = std::getenv("TESSELSDK_TEST_DATA_DIR");
    std::ifstream in(std::string(dir ? dir : ".") + "/sequence.jsonl", std::ios::binary);
    std::string line;
    while (reports.size() < count && std::getline(in, line)) reports.push_back(line);
    return reports;
}

// What the host's callbacks saw, in order.
std::mutex g_mutex;
std::vector<std::string> g_events;
std::string g_iceJson, g_signallingUrl, g_streamerId;

void Record(const std::string& event) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_events.push_back(event);
}
void OnPlayerReady(bool ok, int status, const char* message) {
    Record(std::string("player ") + (ok ? "ok " : "failed ") + std::to_string(status) + " " + message);
}

TEST(HostSession, WholeSessionThroughTheExportedFunctions) {
    ScriptConfig(true);
    SessionEnv env;
    TesselSDKHandle* h = TesselSDK_Create("5.6.0-test", 1);
    ASSERT_NE(nullptr, h);
    TesselSDK_InitLogger();
    TesselSDK_SetInitSentry(h, [](const char*, const char*, const char*) { Record("init_sentry"); });
    TesselSDK_SetCreateStreamer(h, [](const char* streamerId, const char* url) {
        g_streamerId = streamerId, g_signallingUrl = url;
        Record("create_streamer");
    });
    TesselSDK_SetStartStreaming(h, [] { Record("start_streaming"); });
    TesselSDK_SetBitrateCallback(h, [](int minBitrate, int maxBitrate, int fps) {
        Record("bitrate " + std::to_string(minBitrate) + " " + std::to_string(maxBitrate) + " " + std::to_string(fps));
    });
    TesselSDK_SetOnConnectionReady(h, [](const char*, bool, int, const char*) { Record("connection_ready"); });
    TesselSDK_SetOnApplyRTCConfig(h, [](const char* json) {
        g_iceJson = json;
        Record("apply_rtc_config");
    });
    TesselSDK_Initialize(h, [](bool ok) { Record(ok ? "initialized ok" : "initialized failed"); });
    // Reporting is enabled, so the host's own reporter is not asked for.
    EXPECT_EQ((std::vector<std::string>{"bitrate 2000000 8000000 30", "create_streamer", "start_streaming",
                                        "initialized ok"}),
              g_events);
    EXPECT_EQ(0u, g_streamerId.find("m-77-1-"));
    EXPECT_EQ(0u, g_signallingUrl.find("wss://signal.test.invalid/s/" + g_streamerId + "/?token="));
    int minBitrate = 0, maxBitrate = 0, fps = 0;
    EXPECT_EQ(1, TesselSDK_GetBitrateConfig(h, "missing", &minBitrate, &maxBitrate, &fps));
    EXPECT_EQ((std::vector<int>{2000000, 8000000, 30}), (std::vector<int>{minBitrate, maxBitrate, fps}));

    g_events.clear();
    TesselSDK_HandlePlayerConnected(h, "player-1", 1, OnPlayerReady);
    EXPECT_EQ((std::vector<std::string>{"apply_rtc_config", "player ok 200 Connection ready"}), g_events);
    EXPECT_EQ("demo-secret", nlohmann::json::parse(g_iceJson).at(1)["credential"]);
    const auto turn = WaitForRequests("/turn/v1.0/turn-api/turn-ip?streamer_id=" + g_streamerId, 1);
    EXPECT_EQ("Bearer host-session-token-0123456789", turn.at(0).Header("Authorization"));

    for (const auto& report : StatsReports(3)) TesselSDK_PushWebRTCStatsReport(h, "player-1", report.c_str());
    TesselSDK_PushWebRTCStatsReport(h, nullptr, nullptr);
    TesselSDK_SendMobileNotify(h, "integration-key", "{\"title\":\"ready\"}", "ko");
    EXPECT_EQ("KR", WaitForRequests("/event/v1.0/notify", 1).at(0).Header("X-Nation"));
    TesselSDK_SendTallo(h, "linkplay.heartbeat", "12.5", "alive", "wifi");
    TesselSDK_Shutdown(h);
    // The queued heartbeat went out before Shutdown returned.
    const auto telemetry = testsupport::Requests("/telemetry/std_halyx");
    ASSERT_EQ(1u, telemetry.size());
    EXPECT_EQ("ko-KR", nlohmann::json::parse(telemetry[0].body)["locale"]);

    // The reporter, inside the library, sent its messages with the DSN's key.
    for (const auto& e : WaitForRequests("/api/77/envelope/", 2))
        EXPECT_NE(std::string::npos, e.Header("X-Sentry-Auth").find("sentry_key=hostkey,"));
    TesselSDK_Destroy(h);
}

// Run by the tests below as a child process: starts the logger, logs
// TESSELSDK_TEST_CHILD_LINES numbered lines and a last one, and ends the
// process without Shutdown, as TESSELSDK_TEST_CHILD_END says: by returning
// from main (this test returns, then the test runner) or by exit().
TEST(HostSession, DISABLED_ChildLogsThenEnds) {
    const char* how = std::getenv("TESSELSDK_TEST_CHILD_END");
    const char* count = std::getenv("TESSELSDK_TEST_CHILD_LINES");
    const std::string end = how ? how : "";
    TesselSDK_InitLogger();
    for (int i = 0, lines = count ? std::atoi(count) : 0; i < lines; ++i) {
        char line[64];
        std::snprintf(line, sizeof(line), "L%06d the quick brown fox jumps over the lazy dog", i);
        TesselSDK_Log(nullptr, TESSELSDK_LOG_INFO, line);
    }
    TesselSDK_Log(nullptr, TESSELSDK_LOG_ERROR, ("last line before " + end).c_str());
    if (end == "exit") std::exit(0);
}

// Runs that child `runs` times for each way of ending, logging `count` lines
// before the last: each run's file holds the banner and every line, once,
// whole and in order.
void ExpectEveryLineLoggedBeforeTheEndInTheFile(int count, int runs) {
    namespace fs = std::filesystem;
    for (const std::string how : {"return", "exit"}) {
        // A folder of its own: under Wine the fast and slow halves share the data folder.
        const std::string gameId = how + "-" + std::to_string(runs);
        ScopedEnv env("ENV", "ENDING"), game("game_id", gameId), end("TESSELSDK_TEST_CHILD_END", how),
            lines("TESSELSDK_TEST_CHILD_LINES", std::to_string(count));
        const fs::path folder = fs::path(testsupport::DataFolder()) / "VIVIDOVURUZ3ENDING" / "logs" / gameId;
        for (int run = 0; run < runs; ++run) {
            fs::remove_all(folder);
            ASSERT_EQ(0, testsupport::RunThisProgram({"--gtest_also_run_disabled_tests",
                                                      "--gtest_filter=HostSession.DISABLED_ChildLogsThenEnds"}));
            std::string text;
            for (const auto& file : fs::directory_iterator(folder)) text += testsupport::ReadFile(file.path().string());
            ASSERT_TRUE(!text.empty() && text.back() == '\n') << how << " run " << run;
            std::vector<std::string> expected(1, "<<<<< ---------------- TesselSDK Logger Initialized ---------------- >>>>>");
            char line[64];
            for (int i = 0; i < count; ++i) {
                std::snprintf(line, sizeof(line), "] [INFO] L%06d the quick brown fox jumps over the lazy dog", i);
                expected.push_back(line);
            }
            expected.push_back("] [ERROR] last line before " + how);
            std::vector<std::string> seen;  // each line without its stamp "[YYYY-MM-DD HH:MM:SS.mmm"
            std::istringstream in(text);
            for (std::string each; std::getline(in, each);) {
                if (!each.empty() && each.back() == '\r') each.pop_back();
                seen.push_back(seen.empty() || each.size() < 24 || each[0] != '[' ? each : each.substr(24));
            }
            const size_t common = std::min(expected.size(), seen.size());
            const auto diff = std::mismatch(expected.begin(), expected.begin() + common, seen.begin());
            ASSERT_TRUE(diff.first == expected.begin() + common)
                << how << " run " << run << " line " << diff.first - expected.begin() << ": " << *diff.second;
            ASSERT_EQ(expected.size(), seen.size()) << how << " run " << run;
        }
    }
}

TEST(HostSession, LinesLoggedJustBeforeTheProcessEndsAreInTheFile) { ExpectEveryLineLoggedBeforeTheEndInTheFile(10000, 1); }

TEST(SlowHostSession, EveryLineOfABurstBeforeTheProcessEndsIsInTheFileRunAfterRun) {
    ExpectEveryLineLoggedBeforeTheEndInTheFile(10000, 20);
}

#if defined(_WIN32)
// Run by the next test as a child process: loads a plug-in DLL (tests/plugin)
// that makes its own object and queues five telemetry events, and returns
// from main once the first post is out; the plug-in ends its object from its
// DLL_PROCESS_DETACH, after the system has ended every other thread.
TEST(HostSession, DISABLED_ChildLoadsPluginThenEnds) {
    const HMODULE plugin = LoadLibraryA("tesselsdk_exit_plugin.dll");
    const FARPROC symbol = plugin != nullptr ? GetProcAddress(plugin, "PluginStart") : nullptr;
    ASSERT_NE(nullptr, symbol);
    void (*start)(int events, int shutdownFirst) = nullptr;
    std::memcpy(&start, &symbol, sizeof(start));
    const char* how = std::getenv("TESSELSDK_TEST_CHILD_END");
    start(5, how != nullptr && std::string(how) == "shutdown" ? 1 : 0);
    WaitForRequests("/telemetry/std_halyx", 1);
}

TEST(HostSession, PluginEndingItsObjectAtProcessExitDoesNotHoldTheExit) {
    namespace fs = std::filesystem;
    for (const std::string how : {"destroy", "shutdown"}) {
        // Each post takes a second; the process ends while the first is in flight.
        testsupport::ResetServer();
        testsupport::AddRoute({{"path", "/telemetry/std_halyx"}, {"status", 200}, {"delay_ms", 1000}});
        const std::string report = (fs::current_path() / ("plugin-" + how + ".txt")).string();
        fs::remove(report);
        ScopedEnv env("ENV", "PLUGIN"), game("game_id", how), gate("streaming_yn"),
            end("TESSELSDK_TEST_CHILD_END", how), reportTo("TESSELSDK_TEST_PLUGIN_REPORT", report);
        const fs::path folder = fs::path(testsupport::DataFolder()) / "VIVIDOVURUZ3PLUGIN" / "logs" / how;
        fs::remove_all(folder);
        ASSERT_EQ(0, testsupport::RunThisProgram({"--gtest_also_run_disabled_tests",
                                                  "--gtest_filter=HostSession.DISABLED_ChildLoadsPluginThenEnds"}));
        const std::string ms = testsupport::ReadFile(report);
        ASSERT_FALSE(ms.empty()) << how;
        EXPECT_LT(std::stoll(ms), 500) << how;
        // The four events still queued are dropped with the WARN line.
        size_t dropped = 0;
        for (const auto& file : fs::directory_iterator(folder))
            for (const std::string& line : testsupport::ReadLines(file.path().string()))
                dropped += line.find("[WARN] [TesselSDK::SendTallo] Telemetry shutdown time limit reached, "
                                     "dropped 4 queued events") != std::string::npos;
        EXPECT_EQ(1u, dropped) << how;
    }
}
#endif

// A new object through the class interface, initialised, its player connected and streaming.
TesselSDK::LinkLogic* StreamingObject(const char* version, TesselSDK::PlatformInterface platform) {
    TesselSDK::LinkLogic* logic = TesselSDK::LinkLogic::Create(version, 1, std::move(platform));
    bool initialized = false, ready = false;
    logic->Initialize([&initialized](bool ok) { initialized = ok; });
    logic->HandlePlayerConnected("player-1", true, [&ready](bool ok, int, const char*) { ready = ok; });
    EXPECT_TRUE(initialized && ready);
    logic->HandleStreamingStarted("player-1", "wifi");
    return logic;
}

TEST(HostSession, StreamingThroughTheClassInterfacePostsEveryRecord) {
    ScriptConfig(false);
    SessionEnv env;
    int created = 0;
    TesselSDK::PlatformInterface platform;
    platform.CreateStreamer = [&created](const char*, const char*) { ++created; };
    TesselSDK::LinkLogic* logic = StreamingObject("5.6.0-test", platform);
    EXPECT_EQ(1, created);
    // START is due one second after the start; a batch every two seconds after it.
    for (const auto& report : StatsReports(24)) {
        logic->PushWebRTCStatsReport("player-1", report.c_str());
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    logic->HandleStreamingEnded("player-1", nullptr);

    std::set<std::string> actions;
    for (const auto& post : WaitForRequests("/sqm/v1.0/metrics", 3)) {
        EXPECT_EQ("gzip", post.Header("Content-Encoding"));
        const auto record = nlohmann::json::parse(testsupport::Gunzip(post.body), nullptr, false);
        ASSERT_FALSE(record.is_discarded());
        for (const auto& sample : record.is_array() ? record : nlohmann::json::array({record})) {
            actions.insert(sample.value("action_type", ""));
            if (sample.value("action_type", "") != "START_STREAMING") continue;
            EXPECT_EQ("GAME", sample.value("game_id", ""));
            // The collector's bitrate provider answers the "AUTO" lookup.
            EXPECT_EQ(2000000, sample["action_data"]["streaming_metric"].value("min_bitrate", 0));
        }
    }
    EXPECT_EQ((std::set<std::string>{"START_STREAMING", "DURING_STREAMING", "END_STREAMING"}), actions);
    logic->Shutdown();
    TesselSDK::LinkLogic::Destroy(logic);
}

#if defined(__linux__)
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// From the sanitizer runtime's allocator interface (GCC ships no header for it).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
size_t HeapInUse() { return __sanitizer_get_current_allocated_bytes(); }
#else
size_t HeapInUse() { return mallinfo2().uordblks; }
#endif

// One object's whole life: eight host threads push statistics, send
// telemetry and log; halfway through another thread shuts the object down
// while they keep calling it; at the end it is destroyed.
void RunLoad(int seconds, const std::vector<std::string>& reports) {
    TesselSDK::LinkLogic* logic = StreamingObject("load", {});
    std::atomic<bool> stop{false};
    std::atomic<long> calls{0};
    std::vector<std::thread> hosts;
    for (int t = 0; t < 8; ++t) {
        hosts.emplace_back([&, t] {
            for (size_t i = static_cast<size_t>(t); !stop.load(); ++i, ++calls) {
                logic->PushWebRTCStatsReport("player-1", reports[i % reports.size()].c_str());
                logic->SendTallo("load.tick", "1.0", "thread", "wifi");
                TesselSDK_Log(nullptr, t % 4, "load: host thread line");
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::seconds(seconds) / 2);
    std::thread([logic] {
        logic->HandleStreamingEnded("player-1", nullptr);
        logic->Shutdown();
    }).join();
    std::this_thread::sleep_for(std::chrono::seconds(seconds) / 2);
    stop = true;
    for (auto& h : hosts) h.join();
    TesselSDK::LinkLogic::Destroy(logic);
    EXPECT_GT(calls.load(), 8L * seconds);
}

// TESSELSDK_LOAD_SECONDS sets the measured run's length (default 60).
TEST(SlowLoad, EightHostThreadsWhileShuttingDownAndDestroyingLeaveTheHeapAsItWas) {
    const char* env = std::getenv("TESSELSDK_LOAD_SECONDS");
    const int seconds = env ? std::atoi(env) : 60;
    ScriptConfig(false);
    SessionEnv identity;
    const auto reports = StatsReports(30);
    ASSERT_FALSE(reports.empty());
    // A short first run allocates what lives for the whole process (logger,
    // HTTP library, static tables); the second one is measured.
    RunLoad(2, reports);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const size_t before = HeapInUse();
    RunLoad(seconds, reports);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const long long growth = static_cast<long long>(HeapInUse()) - static_cast<long long>(before);
    std::printf("load: heap in use before %zu bytes, growth %lld bytes\n", before, growth);
    EXPECT_LT(growth, 1LL << 20);
    // The service double kept receiving through the whole run.
    EXPECT_FALSE(testsupport::Requests("/sqm/v1.0/metrics").empty());
    EXPECT_FALSE(testsupport::Requests("/telemetry/std_halyx").empty());
}
#endif

}  // namespace
