// The exported flat interface: null handling, forwarding, stored callbacks.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "capi/handle.h"
#include "capi/ice_servers_json.h"
#include "test_support.h"
#include "tesselsdk/tesselsdk.h"

using TesselSDK::PlatformInterface;

namespace {

std::vector<std::string> g_calls;

void Record(const std::string& call) { g_calls.push_back(call); }
void OnInit(bool ok) { Record(std::string("init:") + (ok ? "1" : "0")); }
void OnInitThrows(bool ok) {
    OnInit(ok);
    throw std::runtime_error("host failure");
}
void Done(bool ok, int status, const char* message) {
    Record("done:" + std::to_string(ok) + ":" + std::to_string(status) + ":" + message);
}
void Ready(const char* player, bool ok, int status, const char*) {
    Record(std::string("ready:") + player + std::to_string(ok) + std::to_string(status));
}
void StartA() { Record("startA"); }
void StartB() { Record("startB"); }
void Bitrate(int a, int b, int c) { Record("bitrate:" + std::to_string(a) + std::to_string(b) + std::to_string(c)); }
void Sentry(const char* dsn, const char* env, const char* rel) { Record(std::string(dsn) + env + rel); }
void Streamer(const char* id, const char* url) { Record(std::string(id) + url); }
void Ice(const char* json) { Record(std::string("ice:") + json); }

class CApi : public ::testing::Test {
protected:
    void SetUp() override { g_calls.clear(); }
    // Initialisation stops at the gate: the object exists, nothing is fetched.
    testsupport::ScopedEnv gate{"streaming_yn"};
};

}  // namespace

TEST_F(CApi, WithoutAnObjectNothingIsReached) {
    TesselSDKHandle* fresh = TesselSDK_Create(nullptr, 7);
    ASSERT_NE(nullptr, fresh);
    EXPECT_EQ("", fresh->sdkVersion);
    EXPECT_EQ(7, fresh->geType);
    for (TesselSDKHandle* h : {static_cast<TesselSDKHandle*>(nullptr), fresh}) {
        TesselSDK_Shutdown(h);
        TesselSDK_HandlePlayerConnected(h, "p1", 1, &Done);
        TesselSDK_SendMobileNotify(h, "key", "{}", "en");
        TesselSDK_PushWebRTCStatsReport(h, nullptr, nullptr);
        TesselSDK_SendTallo(h, nullptr, nullptr, nullptr, nullptr);
        int a = 5, b = 6, c = 7;
        EXPECT_EQ(0, TesselSDK_GetBitrateConfig(h, "AUTO", &a, &b, &c));
        EXPECT_EQ((std::vector<int>{5, 6, 7}), (std::vector<int>{a, b, c})) << "outputs untouched";
        EXPECT_STREQ("", TesselSDK_GetWindowsEventsApiUrl(h));
        EXPECT_STREQ("", TesselSDK_GetEventApiUrl(h));
    }
    TesselSDK_Initialize(nullptr, &OnInit);
    TesselSDK_SetStartStreaming(nullptr, &StartA);
    TesselSDK_SetOnApplyRTCConfig(nullptr, &Ice);
    TesselSDK_Log(nullptr, TESSELSDK_LOG_ERROR, nullptr);
    TesselSDK_Destroy(nullptr);
    TesselSDK_Destroy(fresh);
    EXPECT_TRUE(g_calls.empty());
}

TEST_F(CApi, AfterInitializeCallsReachTheObject) {
    TesselSDKHandle* h = TesselSDK_Create("1.0", 1);
    TesselSDK_SetOnConnectionReady(h, &Ready);
    TesselSDK_Initialize(h, &OnInit);
    ASSERT_NE(nullptr, h->logic.load());
    ASSERT_EQ(std::vector<std::string>{"init:0"}, g_calls);

    // No profile: 0, and each non-null output receives 0.
    int a = 5, c = 7;
    EXPECT_EQ(0, TesselSDK_GetBitrateConfig(h, nullptr, &a, nullptr, &c));
    EXPECT_TRUE(a == 0 && c == 0);

    // The completion is never empty, so OnConnectionReady is never used; a
    // null player id is taken as empty.
    g_calls.clear();
    TesselSDK_HandlePlayerConnected(h, "p1", 0, &Done);
    TesselSDK_HandlePlayerConnected(h, nullptr, 0, nullptr);
    TesselSDK_PushWebRTCStatsReport(h, nullptr, nullptr);
    TesselSDK_SendTallo(h, nullptr, nullptr, nullptr, nullptr);
    TesselSDK_Shutdown(h);
    TesselSDK_HandlePlayerConnected(h, nullptr, 1, &Done);  // still usable after Shutdown
    EXPECT_EQ((std::vector<std::string>{"done:0:0:TURN API URL missing", "done:0:0:TURN API URL missing"}), g_calls);
    TesselSDK_Destroy(h);
}

TEST_F(CApi, SecondInitializeReplacesTheObjectAndThrowingCompletionIsContained) {
    TesselSDKHandle* h = TesselSDK_Create("1.0", 1);
    TesselSDK_Initialize(h, nullptr);
    ASSERT_NE(nullptr, h->logic.load());
    // The sanitizer build reports the first object if it was leaked.
    EXPECT_NO_THROW(TesselSDK_Initialize(h, &OnInitThrows));
    EXPECT_NE(nullptr, h->logic.load());
    EXPECT_EQ(std::vector<std::string>{"init:0"}, g_calls) << "reported once, not again after the throw";
    TesselSDK_Destroy(h);
}

TEST_F(CApi, CallbacksAreLookedUpWhenTheyRun) {
    TesselSDKHandle* h = TesselSDK_Create("1.0", 1);
    PlatformInterface pi = TesselSDK::BuildPlatformInterface(h);
    EXPECT_FALSE(pi.ReservedCallback0 || pi.ReservedCallback1 || pi.GetSentryContext);

    pi.StartStreaming();  // nothing stored yet
    pi.OnApplyRTCConfig({});
    TesselSDK_SetStartStreaming(h, &StartA);
    pi.StartStreaming();
    TesselSDK_SetStartStreaming(h, &StartB);
    pi.StartStreaming();
    TesselSDK_SetStartStreaming(h, nullptr);
    pi.StartStreaming();
    EXPECT_EQ((std::vector<std::string>{"startA", "startB"}), g_calls);

    g_calls.clear();
    TesselSDK_SetBitrateCallback(h, &Bitrate);
    TesselSDK_SetInitSentry(h, &Sentry);
    TesselSDK_SetCreateStreamer(h, &Streamer);
    TesselSDK_SetOnConnectionReady(h, &Ready);
    TesselSDK_SetOnApplyRTCConfig(h, &Ice);
    pi.BitrateCallback(1, 2, 3);
    pi.InitSentry("dsn", "qa", "rel");
    pi.CreateStreamer("id", "wss://x");
    pi.OnConnectionReady("pl", true, 200, "Connection ready");
    pi.OnApplyRTCConfig({{{"stun:a"}, "u", "c"}});
    pi.OnApplyRTCConfig({});
    EXPECT_EQ((std::vector<std::string>{"bitrate:123", "dsnqarel", "idwss://x", "ready:pl1200",
                                        R"(ice:[{"urls":["stun:a"],"username":"u","credential":"c"}])", "ice:[]"}),
              g_calls);
    TesselSDK_Destroy(h);
}

TEST(IceServersJson, CompactOrderedAndEscaped) {
    using Servers = std::vector<PlatformInterface::IceServer>;
    EXPECT_EQ(R"([{"urls":[],"username":"","credential":""}])",
              TesselSDK::IceServersToJson(Servers{PlatformInterface::IceServer()}));
    EXPECT_EQ(R"([{"urls":["stun:a","turn:b?transport=udp"],"username":"u1","credential":"c1"},)"
              R"({"urls":["turn:c"],"username":"ü","credential":"c2"}])",
              TesselSDK::IceServersToJson(
                  Servers{{{"stun:a", "turn:b?transport=udp"}, "u1", "c1"}, {{"turn:c"}, "ü", "c2"}}));

    const std::string nasty = "a\"b\\c/d\n\t\x01";
    const std::string text = TesselSDK::IceServersToJson({{{nasty}, nasty, "pass\"word"}});
    EXPECT_EQ(std::string::npos, text.find('\n'));
    const auto parsed = nlohmann::json::parse(text);
    EXPECT_EQ(nasty, parsed[0]["urls"][0]);
    EXPECT_EQ(nasty, parsed[0]["username"]);
    EXPECT_EQ("pass\"word", parsed[0]["credential"]);
}

TEST(CApiGetters, TextsArePerThread) {
    testsupport::ResetServer();
    testsupport::AddRoute({{"path", testsupport::LiveConfigPath()},
                           {"status", 200},
                           {"body", R"({"virivizar_ss":{"ws":{"kr":"ws.host"}},
                                       "virivizar_event":{"api":{"kr":"https://event/api"}},
                                       "virivizar_windows_events":{"api":{"kr":"https://win/api"}}})"}});
    testsupport::ScopedEnv gate("streaming_yn", "y");
    testsupport::ScopedEnv env("ENV");
    TesselSDKHandle* h = TesselSDK_Create("1.0", 1);
    TesselSDK_Initialize(h, nullptr);

    const char* mine = TesselSDK_GetEventApiUrl(h);
    const char* win = TesselSDK_GetWindowsEventsApiUrl(h);
    EXPECT_STREQ("https://event/api", mine);
    EXPECT_STREQ("https://win/api", win);
    const char* other = nullptr;
    std::string otherText;
    std::thread([&] {
        other = TesselSDK_GetEventApiUrl(h);
        otherText = other;
    }).join();
    EXPECT_EQ("https://event/api", otherText);
    EXPECT_NE(mine, other);
    // This thread's text is untouched by the other thread and by a null handle.
    EXPECT_STREQ("", TesselSDK_GetEventApiUrl(nullptr));
    EXPECT_STREQ("https://event/api", mine);
    EXPECT_STREQ("https://win/api", win);
    TesselSDK_Destroy(h);
}
