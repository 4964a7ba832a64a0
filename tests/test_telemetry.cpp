#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "sdk_session.h"
#include "util/clock.h"

using namespace testsupport;
using nlohmann::ordered_json;

namespace {

const char kTelemetryPath[] = "/telemetry/std_halyx";

ordered_json BodyOf(const RecordedRequest& r) { return ordered_json::parse(r.body); }

std::vector<ordered_json> WaitForEvents(size_t count) {
    std::vector<ordered_json> out;
    for (const auto& r : WaitForRequests(kTelemetryPath, count)) out.push_back(BodyOf(r));
    return out;
}

std::vector<std::string> KeysOf(const ordered_json& object) {
    std::vector<std::string> keys;
    for (auto it = object.begin(); it != object.end(); ++it) keys.push_back(it.key());
    return keys;
}

// `pattern` with 'd' standing for any decimal digit.
bool MatchesPattern(const std::string& text, const std::string& pattern) {
    if (text.size() != pattern.size()) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (pattern[i] == 'd' ? !digit : text[i] != pattern[i]) return false;
    }
    return true;
}

// The platform library answers from these variables; unset means it fails.
struct NoPlatformLocale {
    ScopedEnv language{"OMBREL_LANGUAGE"};
    ScopedEnv nation{"OMBREL_NATION"};
};

}  // namespace

TEST(Telemetry, DocumentCarriesEveryFieldInOrder) {
    ResetServer();
    NoPlatformLocale locale;
    ScopedEnv gameId("game_id", "G-42");
    ScopedEnv env("ENV", "qa2");
    ScopedEnv member("member_no", "777");
    ScopedEnv guid("guid", "guid-1");
    ScopedEnv session("ref_session_id", "sess-9");
    auto logic = MakeLogic();
    const long long before = TesselSDK::NowEpochMs();
    logic->SendTallo("app.start", "12.5", "hello \xEC\x95\x88", "wifi");
    const auto requests = WaitForRequests(kTelemetryPath, 1);
    const long long after = TesselSDK::NowEpochMs();
    ASSERT_EQ(1u, requests.size());
    EXPECT_EQ("POST", requests[0].method);
    EXPECT_EQ(2, requests[0].HeaderCount("Content-Type"));
    EXPECT_EQ("application/json", requests[0].Header("Content-Type"));

    const ordered_json doc = BodyOf(requests[0]);
    EXPECT_EQ(doc.dump(), requests[0].body) << "compact, UTF-8 unescaped";
    EXPECT_EQ((std::vector<std::string>{"client_time", "game_id", "environment", "log_source_type", "member_no",
                                        "guid", "streamer_id", "locale", "country_ip", "session_id", "sdk_version",
                                        "client_timestamp", "action_info"}),
              KeysOf(doc));
    EXPECT_TRUE(MatchesPattern(doc["client_time"].get<std::string>(), "dddd.dd.dd  dd.dd.dd")) << doc["client_time"];
    EXPECT_EQ("G-42", doc["game_id"]);
    EXPECT_EQ("qa2", doc["environment"]);
    EXPECT_EQ("streaming_sdk", doc["log_source_type"]);
    EXPECT_EQ("777", doc["member_no"]);
    EXPECT_EQ("guid-1", doc["guid"]);
    EXPECT_EQ(StreamerIdOf(logic.get()), doc["streamer_id"]);
    EXPECT_EQ("en-US", doc["locale"]);
    EXPECT_EQ("US", doc["country_ip"]);
    EXPECT_EQ("sess-9", doc["session_id"]);
    EXPECT_EQ("9.8.7", doc["sdk_version"]);
    ASSERT_TRUE(doc["client_timestamp"].is_string());
    const long long stamp = std::stoll(doc["client_timestamp"].get<std::string>());
    EXPECT_LE(before, stamp);
    EXPECT_GE(after, stamp);
    EXPECT_EQ(R"({"action_type":"app.start","action_param":{"elapsed_time":"12.5","message":"hello 안"}})",
              doc["action_info"].dump());
}

TEST(Telemetry, HeartbeatSendsConnectionTypeInPlaceOfMessage) {
    ResetServer();
    NoPlatformLocale locale;
    auto logic = MakeLogic();
    logic->SendTallo("linkplay.heartbeat", "1", "msg", "tcp");
    logic->SendTallo("linkplay.heartbeat", "2", "msg", "");
    logic->SendTallo("linkplay.other", "3", "msg", "tcp");
    logic->SendTallo("Linkplay.Heartbeat", "4", "msg", "tcp");
    logic->SendTallo(" linkplay.heartbeat", "5", "", "tcp");
    logic->SendTallo("linkplay.heartbeat", "6", "", "");
    logic->SendTallo(nullptr, nullptr, nullptr, nullptr);
    const auto events = WaitForEvents(7);
    ASSERT_EQ(7u, events.size());
    const char* expected[] = {
        R"({"elapsed_time":"1","connection_type":"tcp"})", R"({"elapsed_time":"2","message":"msg"})",
        R"({"elapsed_time":"3","message":"msg"})",         R"({"elapsed_time":"4","message":"msg"})",
        R"({"elapsed_time":"5"})",                         R"({"elapsed_time":"6"})",
        R"({"elapsed_time":""})",
    };
    for (size_t i = 0; i < 7; ++i) {
        EXPECT_EQ(expected[i], events[i]["action_info"]["action_param"].dump()) << "event " << i;
    }
}

TEST(Telemetry, ClockFieldsAreTakenAtSendTime) {
    ResetServer();
    NoPlatformLocale locale;
    AddRoute({{"path", kTelemetryPath}, {"status", 200}, {"delay_ms", 900}, {"times", 1}});
    auto logic = MakeLogic();
    logic->SendTallo("slow", "", "", "");
    const long long queuedAt = TesselSDK::NowEpochMs();
    logic->SendTallo("late", "", "", "");
    const auto events = WaitForEvents(2);
    ASSERT_EQ(2u, events.size());
    EXPECT_EQ("late", events[1]["action_info"]["action_type"]);
    EXPECT_GE(std::stoll(events[1]["client_timestamp"].get<std::string>()), queuedAt + 700);
}

TEST(Telemetry, PlatformLocaleIsCachedOnlyWhenItDiffersFromTheDefault) {
    ResetServer();
    {
        // Same language, other nation: asked once, then reused.
        ScopedEnv language("OMBREL_LANGUAGE", "en-US");
        ScopedEnv nation("OMBREL_NATION", "KR");
        auto logic = MakeLogic();
        logic->SendTallo("a", "", "", "");
        WaitForRequests(kTelemetryPath, 1);
        ScopedEnv language2("OMBREL_LANGUAGE", "fr-FR");
        ScopedEnv nation2("OMBREL_NATION", "FR");
        logic->SendTallo("b", "", "", "");
        const auto events = WaitForEvents(2);
        ASSERT_EQ(2u, events.size());
        for (const auto& e : events) {
            EXPECT_EQ("en-US", e["locale"]);
            EXPECT_EQ("KR", e["country_ip"]);
        }
    }
    ResetServer();
    {
        // The default pair, then a failure: asked again every time.
        ScopedEnv language("OMBREL_LANGUAGE", "en-US");
        ScopedEnv nation("OMBREL_NATION", "US");
        auto logic = MakeLogic();
        logic->SendTallo("a", "", "", "");
        WaitForRequests(kTelemetryPath, 1);
        {
            NoPlatformLocale failing;
            logic->SendTallo("b", "", "", "");
            WaitForRequests(kTelemetryPath, 2);
        }
        ScopedEnv language2("OMBREL_LANGUAGE", "ko-KR");
        ScopedEnv nation2("OMBREL_NATION", "KR");
        logic->SendTallo("c", "", "", "");
        const auto events = WaitForEvents(3);
        ASSERT_EQ(3u, events.size());
        EXPECT_EQ("en-US", events[1]["locale"]);
        EXPECT_EQ("US", events[1]["country_ip"]);
        EXPECT_EQ("ko-KR", events[2]["locale"]);
        EXPECT_EQ("KR", events[2]["country_ip"]);
    }
}

TEST(Telemetry, ShutdownSendsEverythingQueuedThenDropsLaterEvents) {
    ResetServer();
    NoPlatformLocale locale;
    AddRoute({{"path", kTelemetryPath}, {"status", 200}, {"delay_ms", 50}});
    auto logic = MakeLogic();
    for (int i = 0; i < 8; ++i) logic->SendTallo("queued", std::to_string(i).c_str(), "", "");
    logic->Shutdown();
    const auto requests = Requests(kTelemetryPath);
    ASSERT_EQ(8u, requests.size()) << "Shutdown returned before the queue was sent";
    for (size_t i = 0; i < requests.size(); ++i) {
        EXPECT_EQ(std::to_string(i), BodyOf(requests[i])["action_info"]["action_param"]["elapsed_time"]);
    }

    TesselSDK::Logger::Instance().Init();
    LogWindow log;
    logic->SendTallo("after", "", "", "");
    EXPECT_TRUE(log.WaitFor("[WARN] [TesselSDK::SendTallo] Telemetry worker not running, drop event"));
    EXPECT_EQ(8u, Requests(kTelemetryPath).size());
    TesselSDK::Logger::Instance().Stop();
}

TEST(Telemetry, ServiceFailuresAreLoggedAndTheWorkerGoesOn) {
    ResetServer();
    NoPlatformLocale locale;
    AddRoute({{"path", kTelemetryPath}, {"status", 503}, {"body", "busy"}, {"times", 1}});
    auto logic = MakeLogic();
    LogWindow log;
    logic->SendTallo("bad \xFF\xFE", "", "", "");
    logic->SendTallo("first", "", "", "");
    logic->SendTallo("second", "", "", "");
    const auto events = WaitForEvents(2);
    ASSERT_EQ(2u, events.size());
    EXPECT_EQ("first", events[0]["action_info"]["action_type"]);
    EXPECT_EQ("second", events[1]["action_info"]["action_type"]);
    EXPECT_TRUE(log.WaitFor("[DEBUG] [TesselSDK::SendTallo] Telemetry sent successfully, Response: "));
    EXPECT_EQ(1u, log.Count("[ERROR] [TesselSDK::SendTallo] Exception occurred while sending telemetry"));
    EXPECT_EQ(1u, log.Count("[WARN] [TesselSDK::SendTallo] Telemetry failed with HTTP code: 503, Response: busy"));
    EXPECT_EQ(2u, Requests(kTelemetryPath).size());
}

TEST(Telemetry, FullQueueDropsTheOldestEvents) {
    ResetServer();
    NoPlatformLocale locale;
    AddRoute({{"path", kTelemetryPath}, {"status", 200}, {"delay_ms", 1000}, {"times", 1}});
    auto logic = MakeLogic();
    LogWindow log;
    logic->SendTallo("stuck", "", "", "");
    ASSERT_EQ(1u, WaitForRequests(kTelemetryPath, 1).size());
    // The worker now waits on the slow post; fill the queue past its limit.
    const size_t limit = TesselSDK::kTelemetryQueueLimit;
    for (size_t i = 1; i <= limit + 10; ++i) logic->SendTallo("e", std::to_string(i).c_str(), "", "");

    const auto start = std::chrono::steady_clock::now();
    logic->Shutdown();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));

    const auto requests = Requests(kTelemetryPath);
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ("11", BodyOf(requests[1])["action_info"]["action_param"]["elapsed_time"])
        << "the oldest queued events are the ones dropped";
    for (size_t i = 2; i < requests.size(); ++i) {
        EXPECT_EQ(std::to_string(i + 10), BodyOf(requests[i])["action_info"]["action_param"]["elapsed_time"]);
    }
    EXPECT_EQ(1u, log.Count("[WARN] [TesselSDK::SendTallo] Telemetry queue full (1000 events), "
                                      "dropping the oldest events"));
    const size_t unsent = limit - (requests.size() - 1);
    if (unsent > 0) {
        EXPECT_EQ(1u, log.Count("[WARN] [TesselSDK::SendTallo] Telemetry shutdown time limit reached, "
                                          "dropped " + std::to_string(unsent) + " queued events"));
    }
}

TEST(Telemetry, ShutdownDrainIsBoundedWhileTheServiceIsSlow) {
    ResetServer();
    NoPlatformLocale locale;
    AddRoute({{"path", kTelemetryPath}, {"status", 503}, {"delay_ms", 1000}});
    auto logic = MakeLogic();
    LogWindow log;
    for (int i = 0; i < 10; ++i) logic->SendTallo("e", std::to_string(i).c_str(), "", "");
    const auto start = std::chrono::steady_clock::now();
    logic->Shutdown();
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::milliseconds(4500));
    EXPECT_GE(took, TesselSDK::kTelemetryDrainLimit);

    const size_t sent = Requests(kTelemetryPath).size();
    EXPECT_GE(sent, 2u);
    EXPECT_LE(sent, 4u);
    EXPECT_EQ(1u, log.Count("[WARN] [TesselSDK::SendTallo] Telemetry shutdown time limit reached, dropped " +
                                          std::to_string(10 - sent) + " queued events"));
}

TEST(Telemetry, ConcurrentSendersDuringConcurrentShutdowns) {
    ResetServer();
    NoPlatformLocale locale;
    auto logic = MakeLogic();
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            while (!go) std::this_thread::yield();
            for (int i = 0; i < 300; ++i) logic->SendTallo("load", "", "", "");
        });
    }
    go = true;
    std::thread other([&] { logic->Shutdown(); });
    logic->Shutdown();
    other.join();
    for (auto& t : threads) t.join();
    logic.reset();
    SUCCEED();
}
