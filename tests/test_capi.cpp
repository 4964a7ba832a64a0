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

void OnInit(bool ok) { g_calls.push_back(std::string("init:") + (ok ? "1" : "0")); }
void OnInitThrows(bool ok) {
    OnInit(ok);
    throw std::runtime_error("host failure");
}
void Done(bool ok, int status, const char* message) {
    g_calls.push_back("done:" + std::to_string(ok) + ":" + std::to_string(status) + ":" + (message ? message : "?"));
}
void Ready(const char* player, bool ok, int status, const char*) {
    g_calls.push_back(std::string("ready:") + (player ? player : "?") + std::to_string(ok) + std::to_string(status));
}
void StartA() { g_calls.push_back("startA"); }
void StartB() { g_calls.push_back("startB"); }
void Bitrate(int a, int b, int c) {
    g_calls.push_back("bitrate:" + std::to_string(a) + "," + std::to_string(b) + "," + std::to_string(c));
}
void Sentry(const char* dsn, const char* env, const char* rel) {
    g_calls.push_back(std::string("sentry:") + dsn + "," + env + "," + rel);
}
void Streamer(const char* id, const char* url) { g_calls.push_back(std::string("streamer:") + id + "," + url); }
void Ice(const char* json) { g_calls.push_back(std::string("ice:") + json); }

// Calls every handle operation; none may crash or call back.
void CallEverything(TesselSDKHandle* h) {
    TesselSDK_Shutdown(h);
    TesselSDK_HandlePlayerConnected(h, "p1", 1, &Done);
    TesselSDK_SendMobileNotify(h, "key", "{}", "en");
    TesselSDK_PushWebRTCStatsReport(h, nullptr, nullptr);
    TesselSDK_SendTallo(h, nullptr, nullptr, nullptr, nullptr);
    int a = 5, b = 6, c = 7;
    EXPECT_EQ(0, TesselSDK_GetBitrateConfig(h, "AUTO", &a, &b, &c));
    EXPECT_EQ(5, a);
    EXPECT_EQ(6, b);
    EXPECT_EQ(7, c);
    EXPECT_STREQ("", TesselSDK_GetWindowsEventsApiUrl(h));
    EXPECT_STREQ("", TesselSDK_GetEventApiUrl(h));
}

class CApi : public ::testing::Test {
protected:
    void SetUp() override { g_calls.clear(); }
    // Initialisation stops at the gate: the object exists, nothing is fetched.
    testsupport::ScopedEnv gate{"streaming_yn"};
};

}  // namespace

TEST_F(CApi, CreateKeepsVersionAndGeType) {
    TesselSDKHandle* h = TesselSDK_Create(nullptr, 7);
    ASSERT_NE(nullptr, h);
    EXPECT_EQ("", h->sdkVersion);
    EXPECT_EQ(7, h->geType);
    EXPECT_EQ(nullptr, h->logic.load());
    EXPECT_EQ(nullptr, h->bitrateCb.load());
    TesselSDK_Destroy(h);
    h = TesselSDK_Create("9.8.7", -1);
    EXPECT_EQ("9.8.7", h->sdkVersion);
    TesselSDK_Destroy(h);
}

TEST_F(CApi, NullHandleDoesNothing) {
    CallEverything(nullptr);
    TesselSDK_Initialize(nullptr, &OnInit);
    TesselSDK_SetStartStreaming(nullptr, &StartA);
    TesselSDK_SetInitSentry(nullptr, &Sentry);
    TesselSDK_SetCreateStreamer(nullptr, &Streamer);
    TesselSDK_SetBitrateCallback(nullptr, &Bitrate);
    TesselSDK_SetOnConnectionReady(nullptr, &Ready);
    TesselSDK_SetOnApplyRTCConfig(nullptr, &Ice);
    TesselSDK_Destroy(nullptr);
    EXPECT_TRUE(g_calls.empty());
}

TEST_F(CApi, BeforeInitializeNothingIsReached) {
    TesselSDKHandle* h = TesselSDK_Create("1.0", 1);
    CallEverything(h);
    EXPECT_TRUE(g_calls.empty());
    TesselSDK_Destroy(h);
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
    EXPECT_EQ(0, a);
    EXPECT_EQ(0, c);

    // The completion is never empty, so OnConnectionReady is never used.
    g_calls.clear();
    TesselSDK_HandlePlayerConnected(h, "p1", 0, &Done);
    EXPECT_EQ(std::vector<std::string>{"done:0:0:TURN API URL missing"}, g_calls);
    g_calls.clear();
    TesselSDK_HandlePlayerConnected(h, nullptr, 0, nullptr);
    EXPECT_TRUE(g_calls.empty());
    TesselSDK_HandlePlayerConnected(h, nullptr, 0, &Done);
    EXPECT_EQ(std::vector<std::string>{"done:0:0:TURN API URL missing"}, g_calls);
    g_calls.clear();

    EXPECT_STREQ("", TesselSDK_GetEventApiUrl(h));
    TesselSDK_PushWebRTCStatsReport(h, nullptr, "{}");
    TesselSDK_SendTallo(h, "a", nullptr, "m", nullptr);
    TesselSDK_Shutdown(h);
    // The object stays usable after Shutdown.
    TesselSDK_HandlePlayerConnected(h, "p2", 1, &Done);
    EXPECT_EQ(std::vector<std::string>{"done:0:0:TURN API URL missing"}, g_calls);
    TesselSDK_Destroy(h);
}

TEST_F(CApi, SecondInitializeReplacesTheObject) {
    TesselSDKHandle* h = TesselSDK_Create("1.0", 1);
    TesselSDK_Initialize(h, nullptr);
    TesselSDK::LinkLogic* first = h->logic.load();
    ASSERT_NE(nullptr, first);
    TesselSDK_Initialize(h, &OnInit);
    EXPECT_NE(nullptr, h->logic.load());
    EXPECT_EQ(std::vector<std::string>{"init:0"}, g_calls);
    // The sanitizer build reports the first object if it was leaked.
    TesselSDK_Destroy(h);
}

TEST_F(CApi, ThrowingCompletionDoesNotEscapeAndIsNotRepeated) {
    TesselSDKHandle* h = TesselSDK_Create("1.0", 1);
    EXPECT_NO_THROW(TesselSDK_Initialize(h, &OnInitThrows));
    EXPECT_EQ(std::vector<std::string>{"init:0"}, g_calls);
    TesselSDK_Destroy(h);
}

TEST_F(CApi, CallbacksAreLookedUpWhenTheyRun) {
    TesselSDKHandle* h = TesselSDK_Create("1.0", 1);
    PlatformInterface pi = TesselSDK::BuildPlatformInterface(h);
    EXPECT_FALSE(pi.ReservedCallback0);
    EXPECT_FALSE(pi.ReservedCallback1);
    EXPECT_FALSE(pi.GetSentryContext);
    ASSERT_TRUE(pi.StartStreaming);

    pi.StartStreaming();  // nothing stored yet
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
    EXPECT_EQ((std::vector<std::string>{"bitrate:1,2,3", "sentry:dsn,qa,rel", "streamer:id,wss://x", "ready:pl1200",
                                        R"(ice:[{"urls":["stun:a"],"username":"u","credential":"c"}])"}),
              g_calls);
    TesselSDK_Destroy(h);
}

TEST_F(CApi, LoggerFunctionsNeedNoHandle) {
    TesselSDK_InitLogger();
    TesselSDK_Log(nullptr, TESSELSDK_LOG_WARN, nullptr);
    TesselSDK_Log(reinterpret_cast<void*>(0x1), 42, "any level");
    SUCCEED();
}

TEST(IceServersJson, ShapeAndOrder) {
    using Servers = std::vector<PlatformInterface::IceServer>;
    EXPECT_EQ("[]", TesselSDK::IceServersToJson(Servers()));
    EXPECT_EQ(R"([{"urls":[],"username":"","credential":""}])",
              TesselSDK::IceServersToJson(Servers{PlatformInterface::IceServer()}));
    EXPECT_EQ(R"([{"urls":["stun:a","turn:b?transport=udp"],"username":"u1","credential":"c1"},)"
              R"({"urls":["turn:c"],"username":"ü","credential":"c2"}])",
              TesselSDK::IceServersToJson(
                  Servers{{{"stun:a", "turn:b?transport=udp"}, "u1", "c1"}, {{"turn:c"}, "ü", "c2"}}));
}

TEST(IceServersJson, SpecialCharactersStayValidJson) {
    const std::string nasty = "a\"b\\c/d\n\t\x01";
    const std::string text = TesselSDK::IceServersToJson({{{nasty}, nasty, "pass\"word"}});
    EXPECT_EQ(std::string::npos, text.find('\n'));
    const auto parsed = nlohmann::json::parse(text);
    EXPECT_EQ(nasty, parsed[0]["urls"][0]);
    EXPECT_EQ(nasty, parsed[0]["username"]);
    EXPECT_EQ("pass\"word", parsed[0]["credential"]);
    EXPECT_NE(std::string::npos, text.find(R"("credential":"pass\"word")"));
}

TEST(IceServersJson, DeliveredThroughTheHandle) {
    // The text handed to the host is built only when a callback is stored.
    g_calls.clear();
    TesselSDKHandle* h = TesselSDK_Create("1.0", 1);
    PlatformInterface pi = TesselSDK::BuildPlatformInterface(h);
    pi.OnApplyRTCConfig({});
    EXPECT_TRUE(g_calls.empty());
    TesselSDK_SetOnApplyRTCConfig(h, &Ice);
    pi.OnApplyRTCConfig({});
    EXPECT_EQ(std::vector<std::string>{"ice:[]"}, g_calls);
    TesselSDK_Destroy(h);
}

TEST(CApiGetters, TextsArePerThread) {
    testsupport::ResetServer();
    testsupport::AddRoute({{"path", "/cdn-live/live/application_no/STATIC/halyxapp/streaming/config_streaming.json"},
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
        // A null handle answers a constant empty text.
        EXPECT_STREQ("", TesselSDK_GetEventApiUrl(nullptr));
    }).join();
    EXPECT_EQ("https://event/api", otherText);
    EXPECT_NE(mine, other);
    // This thread's text is untouched by the other thread and by a null handle.
    EXPECT_STREQ("", TesselSDK_GetEventApiUrl(nullptr));
    EXPECT_STREQ("https://event/api", mine);
    EXPECT_STREQ("https://win/api", win);
    TesselSDK_Destroy(h);
}
