// Faults of the remote services, played by the service double: refused
// ports, servers that accept and never answer, connections reset mid-body,
// 500 storms, slow and garbage bodies, a very large configuration. The
// library must not crash, throw, or hold the host's thread beyond its
// timeouts, and must log what happened.
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "sdk_session.h"
#include "util/text.h"
#include "test_support.h"

using testsupport::AddRoute;
using testsupport::LogWindow;
using testsupport::MakeLogic;
using testsupport::ScopedEnv;
using testsupport::ServerUrl;

namespace {

using Clock = std::chrono::steady_clock;

const char* const kRefused = "http://127.0.0.1:1";

std::string RealReport() {
    const char* dir = std::getenv("TESSELSDK_TEST_DATA_DIR");
    return testsupport::ReadFile(std::string(dir ? dir : ".") + "/report-0003.json");
}

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

nlohmann::json Config(const std::string& turn, const std::string& event, const std::string& metrics) {
    return {{"virivizar_ss", {{"ws", {{"kr", "signal.test.invalid"}}}}},
            {"virivizar_turn", {{"api", {{"kr", turn}}}}},
            {"virivizar_event", {{"api", {{"kr", event}}}}},
            {"virivizar_sqm",
             {{"api", {{"kr", metrics}}},
              {"metric_collect_interval_s", 1},
              {"start_streaming_push_delay_s", 0},
              {"during_streaming_push_interval_s", 1},
              {"games", {{"FAULTGAME", {{"enabled", true}}}}}}}};
}

class Faults : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::ResetServer();
        TesselSDK::Logger::Instance().Init();
    }

    // Runs Initialize against a scripted configuration answer; returns its outcome.
    bool InitializeAgainst(const nlohmann::json& route, double* seconds = nullptr) {
        nlohmann::json r = route;
        r["path"] = testsupport::LiveConfigPath();
        AddRoute(r);
        auto logic = MakeLogic();
        bool ok = false;
        int calls = 0;
        const auto start = Clock::now();
        logic->Initialize([&](bool result) {
            ok = result;
            ++calls;
        });
        if (seconds) *seconds = SecondsSince(start);
        EXPECT_EQ(1, calls);
        return ok;
    }

    // An object initialised from `config`.
    testsupport::LogicPtr InitializedWith(const nlohmann::json& config) {
        AddRoute({{"path", testsupport::LiveConfigPath()}, {"status", 200}, {"body", config.dump()}});
        auto logic = MakeLogic();
        bool initialized = false;
        logic->Initialize([&](bool ok) { initialized = ok; });
        EXPECT_TRUE(initialized);
        return logic;
    }

    ScopedEnv gate_{"streaming_yn", "y"};
    ScopedEnv env_{"ENV"};
    ScopedEnv game_{"game_id", "FAULTGAME"};
};

TEST_F(Faults, ConfigurationAnswersThatCannotBeUsedFailTheInitialisation) {
    LogWindow log;
    EXPECT_FALSE(InitializeAgainst({{"status", 500}, {"body", "internal error"}}));
    EXPECT_TRUE(log.WaitFor("CDN fetch failed with HTTP code: 500"));

    EXPECT_FALSE(InitializeAgainst({{"status", 200}, {"body_b64", TesselSDK::Base64Encode("<html>\xff\xfe</html>")}}));
    EXPECT_TRUE(log.WaitFor("Failed to parse WebSocket URL from CDN config"));
    // A reset mid-body ends as a transport failure or as a truncated document,
    // depending on when the client notices it; either way initialisation fails.
    EXPECT_FALSE(InitializeAgainst({{"mode", "reset"}}));
}

TEST_F(Faults, SlowAndVeryLargeConfigurationsStillInitialise) {
    double seconds = 0;
    auto doc = Config(ServerUrl() + "/turn", ServerUrl() + "/event", ServerUrl() + "/sqm");
    EXPECT_TRUE(InitializeAgainst({{"status", 200}, {"body", doc.dump()}, {"delay_ms", 1500}}, &seconds));
    EXPECT_GE(seconds, 1.4);

    doc["padding"] = std::string(5 * 1024 * 1024, 'p');
    doc["virivizar_bitrate"] = {{"Unreal", nlohmann::json::object()}};
    for (int i = 0; i < 2000; ++i) doc["virivizar_bitrate"]["Unreal"]["P" + std::to_string(i)] = {{"Fps", i}};
    EXPECT_TRUE(InitializeAgainst({{"status", 200}, {"body", doc.dump()}}));
}

TEST_F(Faults, ConfigurationServerThatNeverAnswersIsBoundedByTheDefaultTimeouts) {
    LogWindow log;
    double seconds = 0;
    EXPECT_FALSE(InitializeAgainst({{"mode", "hang"}}, &seconds));
    // WinHTTP waits for the response headers at most 90 s by default (set
    // explicitly, so Wine is bounded too), the Linux client 30 s without
    // progress; the server itself hangs for 120 s.
    EXPECT_LT(seconds, 100.0);
    EXPECT_TRUE(log.WaitFor("CDN fetch failed with HTTP code: 0"));
}

TEST_F(Faults, TurnServiceFaultsReachTheHostAsFailures) {
    struct Case {
        std::string turn;
        nlohmann::json route;
        bool ok;
        int status;
    };
    const std::vector<Case> cases = {
        {kRefused, nullptr, false, 0},
        {ServerUrl() + "/turn-storm", {{"prefix", "/turn-storm/"}, {"status", 500}, {"body", "storm"}}, false, 500},
        {ServerUrl() + "/turn-garbage", {{"prefix", "/turn-garbage/"}, {"status", 200}, {"body", "\x01\x02not json"}},
         true, 200},
        // Headers arrived, then the connection broke: the status stands with the body so far.
        {ServerUrl() + "/turn-reset", {{"prefix", "/turn-reset/"}, {"mode", "reset"}}, true, 200},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.turn);
        if (!c.route.is_null()) AddRoute(c.route);
        auto logic = InitializedWith(Config(c.turn, kRefused, kRefused));

        int calls = 0;
        bool ok = !c.ok;
        int status = -2;
        const auto start = Clock::now();
        logic->HandlePlayerConnected("p", true, [&](bool result, int httpStatus, const char*) {
            ++calls;
            ok = result;
            status = httpStatus;
        });
        EXPECT_LT(SecondsSince(start), 10.0);
        EXPECT_EQ(1, calls);
        EXPECT_EQ(c.ok, ok);
        if (c.status >= 0) {
            EXPECT_EQ(c.status, status);
        }
    }
}

TEST_F(Faults, NotificationAndTelemetryFaultsAreLoggedAndShutdownStaysBounded) {
    AddRoute({{"prefix", "/telemetry/"}, {"status", 500}, {"body", "storm"}});
    auto logic = InitializedWith(Config(kRefused, kRefused, kRefused));
    LogWindow log;

    logic->SendMobileNotify("key", "{\"a\":1}", "ko");
    EXPECT_TRUE(log.WaitFor("[TesselSDK::SendMobileNotify] Response: 0 - "));

    for (int i = 0; i < 50; ++i) logic->SendTallo("storm", "1", "m", "");
    EXPECT_TRUE(log.WaitFor("Telemetry failed with HTTP code: 500"));
    const auto start = Clock::now();
    logic->Shutdown();
    EXPECT_LT(SecondsSince(start), 10.0);
}

TEST_F(Faults, MetricsStormAndRefusedPortsDoNotHoldTheHost) {
    AddRoute({{"prefix", "/sqm-storm/"}, {"status", 500}, {"body", "storm"}});
    for (const std::string& metrics : {ServerUrl() + "/sqm-storm", std::string(kRefused)}) {
        SCOPED_TRACE(metrics);
        auto logic = InitializedWith(Config(kRefused, kRefused, metrics));
        logic->HandleStreamingStarted("p", "wifi");
        // Garbage statistics are read without effect; a real report makes START due (and fail).
        logic->PushWebRTCStatsReport("p", "{\"stats\":[{\"type\":\"codec\",\"members\":7}]}");
        logic->PushWebRTCStatsReport("p", "\xff\xfe garbage");
        logic->PushWebRTCStatsReport("p", RealReport().c_str());
        logic->HandleStreamingEnded("p", nullptr);
        // Destroying with retries pending returns promptly and leaves no thread behind.
        const auto start = Clock::now();
        logic.reset();
        EXPECT_LT(SecondsSince(start), 10.0);
    }
}

}  // namespace
