// Shutdown: what stops, what stays usable, and the shared logger.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "sdk_session.h"

using namespace testsupport;
using TesselSDK::Logger;
using TesselSDK::PlatformInterface;

namespace {

const char kTelemetryPath[] = "/telemetry/std_halyx";

}  // namespace

TEST(Shutdown, EndsTheLogWithTheFinalLine) {
    ResetServer();
    auto logic = MakeLogic();
    LogWindow log;
    logic->Shutdown();
    EXPECT_FALSE(Logger::Instance().IsRunning());
    const auto lines = log.Lines();
    ASSERT_FALSE(lines.empty());
    const std::string last = "[DEBUG] [TesselSDK::Shutdown] Final StreamerId: " + StreamerIdOf(logic.get());
    EXPECT_EQ(last, lines.back().substr(lines.back().size() - std::min(last.size(), lines.back().size())));
    EXPECT_EQ(1u, log.Count("[INFO] [TesselSDK::Shutdown] Shutting down..."));
    EXPECT_EQ(0u, log.Count("Sentry closed")) << "no reporter call while reporting is disabled";
}

TEST(Shutdown, NoHostCallbackRunsAfterwardsButCompletionsDo) {
    ResetServer();
    std::atomic<int> calls{0};
    PlatformInterface p;
    p.InitSentry = [&](const char*, const char*, const char*) { ++calls; };
    p.CreateStreamer = [&](const char*, const char*) { ++calls; };
    p.StartStreaming = [&] { ++calls; };
    p.BitrateCallback = [&](int, int, int) { ++calls; };
    p.OnConnectionReady = [&](const char*, bool, int, const char*) { ++calls; };
    p.OnApplyRTCConfig = [&](const std::vector<PlatformInterface::IceServer>&) { ++calls; };
    p.GetSentryContext = [&] {
        ++calls;
        return TesselSDK::SentryContext();
    };
    auto logic = MakeLogic(p);
    ASSERT_TRUE(InitializeWith(logic.get(), SessionConfig()));
    logic->HandlePlayerConnected("p", true, nullptr);
    ASSERT_GT(calls.load(), 0);

    logic->Shutdown();
    logic->Shutdown();  // a second one repeats harmlessly
    const int before = calls.load();
    logic->HandlePlayerConnected("p", true, nullptr);
    EXPECT_TRUE(InitializeWith(logic.get(), SessionConfig()));
    int doneCalls = 0;
    logic->HandlePlayerConnected("p", true, [&](bool ok, int status, const char*) {
        doneCalls += ok && status == 200 ? 1 : 0;
    });
    EXPECT_EQ(before, calls.load());
    EXPECT_EQ(1, doneCalls);
    EXPECT_EQ(3u, Requests("/turn/").size()) << "the configuration survives Shutdown";
    EXPECT_EQ(ServerUrl() + "/event/v1.0/notify", logic->GetEventApiUrl());
    logic->SendMobileNotify("k", "{}", "en");
    EXPECT_EQ(1u, Requests("/event/").size());

    // The collector forwards take null texts at any time.
    logic->PushWebRTCStatsReport(nullptr, nullptr);
    logic->HandleStreamingStarted(nullptr, nullptr);
    logic->PushWebRTCStatsReport("p", "{}");
    logic->HandleStreamingEnded(nullptr, nullptr);
}

TEST(Shutdown, OneObjectStopsTheSharedLoggerOthersGoOn) {
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

TEST(Shutdown, DestroyWithoutShutdownSendsTheQueueAndKeepsTheLogger) {
    ResetServer();
    auto logic = MakeLogic();
    for (int i = 0; i < 3; ++i) logic->SendTallo("queued", "", "", "");
    logic.reset();
    EXPECT_EQ(3u, Requests(kTelemetryPath).size());
    EXPECT_TRUE(Logger::Instance().IsRunning());
}
