#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "sdk_session.h"

using namespace testsupport;
using TesselSDK::Logger;
using TesselSDK::PlatformInterface;

namespace {

const char kTelemetryPath[] = "/telemetry/std_halyx";

struct CallbackCounter {
    std::atomic<int> calls{0};
    PlatformInterface Platform() {
        PlatformInterface p;
        p.InitSentry = [this](const char*, const char*, const char*) { ++calls; };
        p.CreateStreamer = [this](const char*, const char*) { ++calls; };
        p.StartStreaming = [this] { ++calls; };
        p.BitrateCallback = [this](int, int, int) { ++calls; };
        p.OnConnectionReady = [this](const char*, bool, int, const char*) { ++calls; };
        p.OnApplyRTCConfig = [this](const std::vector<PlatformInterface::IceServer>&) { ++calls; };
        p.GetSentryContext = [this] {
            ++calls;
            return TesselSDK::SentryContext();
        };
        return p;
    }
};

}  // namespace

TEST(Shutdown, WaitsForQueuedTelemetryAndEndsTheLogWithTheFinalLine) {
    ResetServer();
    AddRoute({{"path", kTelemetryPath}, {"status", 200}, {"delay_ms", 150}});
    auto logic = MakeLogic();
    LogWindow log;
    for (int i = 0; i < 5; ++i) logic->SendTallo("queued", "", "", "");
    logic->Shutdown();
    EXPECT_EQ(5u, Requests(kTelemetryPath).size());
    EXPECT_FALSE(Logger::Instance().IsRunning());

    const auto lines = ReadLines(log.Path());
    ASSERT_FALSE(lines.empty());
    const std::string last = "[DEBUG] [TesselSDK::Shutdown] Final StreamerId: " + StreamerIdOf(logic.get());
    EXPECT_GE(lines.back().size(), last.size());
    EXPECT_EQ(last, lines.back().substr(lines.back().size() - last.size()));
    EXPECT_EQ(1u, log.Count("[INFO] [TesselSDK::Shutdown] Shutting down..."));
    EXPECT_EQ(0u, log.Count("Sentry closed")) << "no reporter call while reporting is disabled";
}

TEST(Shutdown, NoHostCallbackRunsAfterwardsButCompletionsDo) {
    ResetServer();
    CallbackCounter host;
    auto logic = MakeLogic(host.Platform());
    ASSERT_TRUE(InitializeWith(logic.get(), SessionConfig()));
    logic->HandlePlayerConnected("p", true, nullptr);
    ASSERT_GT(host.calls.load(), 0);

    logic->Shutdown();
    logic->Shutdown();  // a second one repeats harmlessly
    const int before = host.calls.load();
    logic->HandlePlayerConnected("p", true, nullptr);
    EXPECT_TRUE(InitializeWith(logic.get(), SessionConfig()));
    int doneCalls = 0;
    logic->HandlePlayerConnected("p", true, [&](bool ok, int status, const char*) {
        doneCalls += ok && status == 200 ? 1 : 0;
    });
    EXPECT_EQ(before, host.calls.load());
    EXPECT_EQ(1, doneCalls);
    EXPECT_EQ(3u, Requests("/turn/").size()) << "the configuration survives Shutdown";

    // The collector forwards take null texts at any time.
    logic->PushWebRTCStatsReport(nullptr, nullptr);
    logic->HandleStreamingStarted(nullptr, nullptr);
    logic->PushWebRTCStatsReport("p", "{}");
    logic->HandleStreamingEnded(nullptr, nullptr);
}

TEST(Shutdown, OneHandleStopsTheSharedLoggerOthersGoOn) {
    ResetServer();
    auto first = MakeLogic();
    auto second = MakeLogic();
    first->Shutdown();
    EXPECT_FALSE(Logger::Instance().IsRunning());

    second->SendTallo("still-here", "", "", "");
    ASSERT_EQ(1u, WaitForRequests(kTelemetryPath, 1).size());
    first->SendTallo("gone", "", "", "");
    second->Shutdown();
    const auto requests = Requests(kTelemetryPath);
    ASSERT_EQ(1u, requests.size());
    EXPECT_EQ("still-here", nlohmann::json::parse(requests[0].body)["action_info"]["action_type"]);
}

TEST(Shutdown, ReporterIsClosedWhenReportingIsEnabled) {
    ResetServer();
    auto logic = MakeLogic();
    LogWindow log;
    nlohmann::json doc = SessionConfig();
    doc["virivizar_sentry"] = {{"enable", true}, {"dsn", "http://key@127.0.0.1:1/42"}};
    ASSERT_TRUE(InitializeWith(logic.get(), doc));
    logic->Shutdown();
    EXPECT_EQ(1u, log.Count("[DEBUG] [TesselSDK::Shutdown] Sentry closed"));
}

TEST(Shutdown, DestroyWithoutShutdownSendsTheQueue) {
    ResetServer();
    auto logic = MakeLogic();
    for (int i = 0; i < 3; ++i) logic->SendTallo("queued", "", "", "");
    logic.reset();
    EXPECT_EQ(3u, Requests(kTelemetryPath).size());
    EXPECT_TRUE(Logger::Instance().IsRunning()) << "only Shutdown stops the shared logger";
}
