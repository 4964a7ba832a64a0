// A whole host session through the built library (the DLL under Wine), as a
// host sees it: only the public headers, against the local service double
// standing in for every remote service.
#include <chrono>
#include <fstream>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tesselsdk/link_logic.h"
#include "tesselsdk/tesselsdk.h"
#include "gunzip.h"
#include "test_support.h"

using testsupport::AddRoute;
using testsupport::Gunzip;
using testsupport::RecordedRequest;
using testsupport::ScopedEnv;
using testsupport::ServerUrl;
using testsupport::WaitForRequests;

namespace {

nlohmann::json SessionConfig() {
    const std::string base = ServerUrl();
    const std::string hostPort = base.substr(base.find("//") + 2);
    return {
        {"virivizar_ss", {{"ws", {{"kr", "signal.test.invalid"}}}}},
        {"virivizar_turn", {{"api", {{"kr", base + "/turn/"}}}}},
        {"virivizar_event", {{"api", {{"kr", base + "/event/v1.0/notify"}}}}},
        {"virivizar_windows_events", {{"api", {{"kr", base + "/windows-events"}}}}},
        {"virivizar_sentry", {{"enable", true}, {"dsn", "http://hostkey@" + hostPort + "/77"}}},
        {"virivizar_sqm",
         {{"api", {{"kr", base + "/sqm"}}},
          {"metric_collect_interval_s", 1},
          {"start_streaming_push_delay_s", 1},
          {"during_streaming_push_interval_s", 2},
          {"games", {{"HOSTGAME", {{"enabled", true}}}}}}},
        {"virivizar_bitrate",
         {{"Unreal", {{"AUTO", {{"MaxBitrate", 8000000}, {"MinBitrate", 2000000}, {"Fps", 30}}}}}}}};
}

// The identity of the session, set for the whole test.
struct SessionEnv {
    ScopedEnv gate{"streaming_yn", "y"};
    ScopedEnv env{"ENV"};
    ScopedEnv member{"member_no", "m-77"};
    ScopedEnv game{"game_id", "HOSTGAME"};
    ScopedEnv token{"OMBREL_ACCESS_TOKEN", "host-session-token-0123456789"};
    ScopedEnv language{"OMBREL_LANGUAGE", "ko-KR"};
    ScopedEnv nation{"OMBREL_NATION", "KR"};
};

std::vector<std::string> StatsReports(size_t count) {
    std::vector<std::string> reports;
    const char* dir = std::getenv("TESSELSDK_TEST_DATA_DIR");
    std::ifstream in(std::string(dir ? dir : ".") + "/sequence.jsonl", std::ios::binary);
    std::string line;
    while (reports.size() < count && std::getline(in, line)) reports.push_back(line);
    return reports;
}

bool AnyBodyContains(const std::vector<RecordedRequest>& requests, const std::string& needle) {
    for (const auto& r : requests)
        if (r.body.find(needle) != std::string::npos) return true;
    return false;
}

// What the host's callbacks saw, in order.
std::mutex g_mutex;
std::vector<std::string> g_events;
std::string g_iceJson;
std::string g_signallingUrl;
std::string g_streamerId;

void Record(const std::string& event) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_events.push_back(event);
}

extern "C" {
void OnInitSentry(const char*, const char*, const char*) { Record("init_sentry"); }
void OnCreateStreamer(const char* streamerId, const char* url) {
    g_streamerId = streamerId;
    g_signallingUrl = url;
    Record("create_streamer");
}
void OnStartStreaming() { Record("start_streaming"); }
void OnBitrate(int minBitrate, int maxBitrate, int fps) {
    Record("bitrate " + std::to_string(minBitrate) + " " + std::to_string(maxBitrate) + " " + std::to_string(fps));
}
void OnConnectionReady(const char*, bool, int, const char*) { Record("connection_ready"); }
void OnApplyRtcConfig(const char* json) {
    g_iceJson = json;
    Record("apply_rtc_config");
}
void OnInitialized(bool ok) { Record(ok ? "initialized ok" : "initialized failed"); }
void OnPlayerReady(bool ok, int status, const char* message) {
    Record(std::string("player ") + (ok ? "ok " : "failed ") + std::to_string(status) + " " + message);
}
}

TEST(HostSession, WholeSessionThroughTheExportedFunctions) {
    testsupport::ResetServer();
    AddRoute({{"path", testsupport::LiveConfigPath()}, {"status", 200}, {"body", SessionConfig().dump()}});
    SessionEnv env;
    g_events.clear();

    TesselSDKHandle* h = TesselSDK_Create("5.6.0-test", 1);
    ASSERT_NE(nullptr, h);
    TesselSDK_InitLogger();
    TesselSDK_SetInitSentry(h, OnInitSentry);
    TesselSDK_SetCreateStreamer(h, OnCreateStreamer);
    TesselSDK_SetStartStreaming(h, OnStartStreaming);
    TesselSDK_SetBitrateCallback(h, OnBitrate);
    TesselSDK_SetOnConnectionReady(h, OnConnectionReady);
    TesselSDK_SetOnApplyRTCConfig(h, OnApplyRtcConfig);

    TesselSDK_Initialize(h, OnInitialized);
    // Reporting is enabled, so the host's own reporter is not asked for.
    EXPECT_EQ((std::vector<std::string>{"bitrate 2000000 8000000 30", "create_streamer", "start_streaming",
                                        "initialized ok"}),
              g_events);
    EXPECT_EQ(0u, g_streamerId.find("m-77-1-"));
    EXPECT_EQ(0u, g_signallingUrl.find("wss://signal.test.invalid/s/" + g_streamerId + "/?token="));

    int minBitrate = 0, maxBitrate = 0, fps = 0;
    EXPECT_EQ(1, TesselSDK_GetBitrateConfig(h, "missing", &minBitrate, &maxBitrate, &fps));
    EXPECT_EQ(2000000, minBitrate);
    EXPECT_EQ(8000000, maxBitrate);
    EXPECT_EQ(30, fps);

    g_events.clear();
    TesselSDK_HandlePlayerConnected(h, "player-1", 1, OnPlayerReady);
    EXPECT_EQ((std::vector<std::string>{"apply_rtc_config", "player ok 200 Connection ready"}), g_events);
    const auto ice = nlohmann::json::parse(g_iceJson);
    ASSERT_TRUE(ice.is_array());
    ASSERT_EQ(2u, ice.size());
    EXPECT_EQ("demo-secret", ice[1]["credential"]);
    const auto turn = WaitForRequests("/turn/v1.0/turn-api/turn-ip?streamer_id=" + g_streamerId, 1);
    ASSERT_EQ(1u, turn.size());
    EXPECT_EQ("Bearer host-session-token-0123456789", turn[0].Header("Authorization"));

    for (const auto& report : StatsReports(3)) TesselSDK_PushWebRTCStatsReport(h, "player-1", report.c_str());
    TesselSDK_PushWebRTCStatsReport(h, nullptr, nullptr);

    TesselSDK_SendMobileNotify(h, "integration-key", "{\"title\":\"ready\"}", "ko");
    const auto notify = WaitForRequests("/event/v1.0/notify", 1);
    ASSERT_EQ(1u, notify.size());
    EXPECT_EQ("KR", notify[0].Header("X-Nation"));
    EXPECT_EQ(2, notify[0].HeaderCount("Content-Type"));

    TesselSDK_SendTallo(h, "linkplay.heartbeat", "12.5", "alive", "wifi");
    EXPECT_EQ(ServerUrl() + "/event/v1.0/notify", std::string(TesselSDK_GetEventApiUrl(h)));
    EXPECT_EQ(ServerUrl() + "/windows-events", std::string(TesselSDK_GetWindowsEventsApiUrl(h)));

    TesselSDK_Shutdown(h);
    // The queued heartbeat went out before Shutdown returned.
    const auto telemetry = testsupport::Requests("/telemetry/std_halyx");
    ASSERT_EQ(1u, telemetry.size());
    const auto event = nlohmann::json::parse(telemetry[0].body);
    EXPECT_EQ("linkplay.heartbeat", event["action_info"]["action_type"]);
    EXPECT_EQ("wifi", event["action_info"]["action_param"]["connection_type"]);
    EXPECT_EQ("ko-KR", event["locale"]);

    // The reporter sent the initialisation and shutdown messages.
    const auto envelopes = WaitForRequests("/api/77/envelope/", 2);
    EXPECT_TRUE(AnyBodyContains(envelopes, "TesselSDK initialized successfully"));
    EXPECT_TRUE(AnyBodyContains(envelopes, "TesselSDK shutting down"));
    EXPECT_TRUE(AnyBodyContains(envelopes, "TesselSDK initialization complete"));  // the breadcrumb
    for (const auto& e : envelopes) EXPECT_NE(std::string::npos, e.Header("X-Sentry-Auth").find("sentry_key=hostkey,"));

    // After Shutdown the object is still usable but calls no stored callback.
    g_events.clear();
    TesselSDK_HandlePlayerConnected(h, "player-2", 0, OnPlayerReady);
    EXPECT_EQ((std::vector<std::string>{"player ok 200 Connection ready"}), g_events);
    TesselSDK_Destroy(h);

    std::lock_guard<std::mutex> lock(g_mutex);
    for (const auto& e : g_events) EXPECT_NE("connection_ready", e);
}

TEST(HostSession, StreamingThroughTheClassInterfacePostsEveryRecord) {
    testsupport::ResetServer();
    AddRoute({{"path", testsupport::LiveConfigPath()}, {"status", 200}, {"body", SessionConfig().dump()}});
    SessionEnv env;

    TesselSDK::PlatformInterface platform;
    int created = 0;
    platform.CreateStreamer = [&created](const char*, const char*) { ++created; };
    TesselSDK::LinkLogic* logic = TesselSDK::LinkLogic::Create("5.6.0-test", 1, platform);
    bool initialized = false;
    logic->Initialize([&initialized](bool ok) { initialized = ok; });
    ASSERT_TRUE(initialized);
    EXPECT_EQ(1, created);

    bool ready = false;
    logic->HandlePlayerConnected("player-1", true, [&ready](bool ok, int, const char*) { ready = ok; });
    EXPECT_TRUE(ready);

    logic->HandleStreamingStarted("player-1", "wifi");
    // START is due one second after the start; a batch every two seconds after it is accepted.
    for (const auto& report : StatsReports(24)) {
        logic->PushWebRTCStatsReport("player-1", report.c_str());
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    logic->HandleStreamingEnded("player-1", nullptr);

    const auto posts = WaitForRequests("/sqm/v1.0/metrics", 3);
    std::set<std::string> actions;
    for (const auto& post : posts) {
        EXPECT_EQ("gzip", post.Header("Content-Encoding"));
        const auto record = nlohmann::json::parse(Gunzip(post.body), nullptr, false);
        ASSERT_FALSE(record.is_discarded());
        if (record.is_array()) {
            for (const auto& sample : record) actions.insert(sample.value("action_type", ""));
        } else {
            actions.insert(record.value("action_type", ""));
            EXPECT_EQ("HOSTGAME", record.value("game_id", ""));
            if (record.value("action_type", "") == "START_STREAMING") {
                // The collector's bitrate provider answers the "AUTO" lookup.
                const auto& streaming = record["action_data"]["streaming_metric"];
                EXPECT_EQ(2000000, streaming.value("min_bitrate", 0));
                EXPECT_EQ(8000000, streaming.value("max_bitrate", 0));
            }
        }
    }
    EXPECT_EQ(1u, actions.count("START_STREAMING"));
    EXPECT_EQ(1u, actions.count("DURING_STREAMING"));
    EXPECT_EQ(1u, actions.count("END_STREAMING"));

    logic->Shutdown();
    TesselSDK::LinkLogic::Destroy(logic);
}

}  // namespace
