// Telemetry end to end against the service double: the document, the
// heartbeat rule, the locale cache, the queue and the bounded shutdown.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "sdk_session.h"
#include "util/clock.h"

using namespace testsupport;
using nlohmann::ordered_json;

namespace {

const char kTelemetryPath[] = "/telemetry/std_halyx";

std::vector<ordered_json> WaitForEvents(size_t count) {
    std::vector<ordered_json> out;
    for (const auto& r : WaitForRequests(kTelemetryPath, count)) out.push_back(ordered_json::parse(r.body));
    return out;
}

// "elapsed_time" of every event the service received, in order.
std::vector<std::string> ElapsedTimes() {
    std::vector<std::string> out;
    for (const auto& r : Requests(kTelemetryPath))
        out.push_back(ordered_json::parse(r.body)["action_info"]["action_param"]["elapsed_time"]);
    return out;
}

std::vector<std::string> Numbers(size_t from, size_t to) {
    std::vector<std::string> out;
    for (size_t i = from; i <= to; ++i) out.push_back(std::to_string(i));
    return out;
}

// The platform library answers from these variables; unset means it fails.
struct PlatformLocale {
    ScopedEnv language;
    ScopedEnv nation;
    PlatformLocale() : language("OMBREL_LANGUAGE"), nation("OMBREL_NATION") {}
    PlatformLocale(const char* lang, const char* nat)
        : language("OMBREL_LANGUAGE", lang), nation("OMBREL_NATION", nat) {}
};

class Telemetry : public ::testing::Test {
protected:
    void SetUp() override { ResetServer(); }
    PlatformLocale failingPlatform;
};

}  // namespace

TEST_F(Telemetry, DocumentCarriesEveryFieldInOrder) {
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

    ordered_json doc = ordered_json::parse(requests[0].body);
    EXPECT_EQ(doc.dump(), requests[0].body) << "compact, UTF-8 unescaped";
    // "yyyy.mm.dd  hh.mm.ss" and the epoch milliseconds, both taken at send time.
    const std::string clientTime = doc["client_time"];
    EXPECT_EQ(20u, clientTime.size());
    EXPECT_EQ(std::string::npos, clientTime.find_first_not_of("0123456789. "));
    EXPECT_EQ("  ", clientTime.substr(10, 2));
    const long long stamp = std::stoll(doc["client_timestamp"].get<std::string>());
    EXPECT_TRUE(before <= stamp && stamp <= after);
    doc["client_time"] = "T";
    doc["client_timestamp"] = "S";
    EXPECT_EQ(R"({"client_time":"T","game_id":"G-42","environment":"qa2","log_source_type":"streaming_sdk",)"
              R"("member_no":"777","guid":"guid-1","streamer_id":")" + StreamerIdOf(logic.get()) +
                  R"(","locale":"en-US","country_ip":"US","session_id":"sess-9","sdk_version":"9.8.7",)"
                  R"("client_timestamp":"S","action_info":{"action_type":"app.start","action_param":)"
                  R"({"elapsed_time":"12.5","message":"hello 안"}}})",
              doc.dump());
}

TEST_F(Telemetry, HeartbeatSendsConnectionTypeInPlaceOfMessage) {
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
    for (size_t i = 0; i < 7; ++i) EXPECT_EQ(expected[i], events[i]["action_info"]["action_param"].dump()) << i;
}

TEST_F(Telemetry, PlatformLocaleIsCachedOnlyWhenItDiffersFromTheDefault) {
    // Same language, other nation: asked once, then reused.
    auto cached = MakeLogic();
    {
        PlatformLocale platform("en-US", "KR");
        cached->SendTallo("a", "", "", "");
        WaitForRequests(kTelemetryPath, 1);
    }
    PlatformLocale changed("fr-FR", "FR");
    cached->SendTallo("b", "", "", "");
    WaitForRequests(kTelemetryPath, 2);
    // The default pair, then a failure: asked again every time.
    auto asking = MakeLogic();
    {
        PlatformLocale platform("en-US", "US");
        asking->SendTallo("c", "", "", "");
        WaitForRequests(kTelemetryPath, 3);
    }
    {
        PlatformLocale failing;
        asking->SendTallo("d", "", "", "");
        WaitForRequests(kTelemetryPath, 4);
    }
    asking->SendTallo("e", "", "", "");
    std::string seen;
    for (const auto& e : WaitForEvents(5))
        seen += e["locale"].get<std::string>() + "/" + e["country_ip"].get<std::string>() + " ";
    EXPECT_EQ("en-US/KR en-US/KR en-US/US en-US/US fr-FR/FR ", seen);
}

TEST_F(Telemetry, ShutdownSendsEverythingQueuedThenDropsLaterEvents) {
    AddRoute({{"path", kTelemetryPath}, {"status", 200}, {"delay_ms", 50}});
    auto logic = MakeLogic();
    const long long queuedAt = TesselSDK::NowEpochMs();
    for (int i = 0; i < 8; ++i) logic->SendTallo("queued", std::to_string(i).c_str(), "", "");
    logic->Shutdown();
    const auto requests = Requests(kTelemetryPath);
    EXPECT_EQ(Numbers(0, 7), ElapsedTimes()) << "Shutdown returns after the queue was sent, in order";
    // The last one waited behind seven slow posts: its clock is the send time.
    ASSERT_EQ(8u, requests.size());
    EXPECT_GE(std::stoll(ordered_json::parse(requests[7].body)["client_timestamp"].get<std::string>()),
              queuedAt + 300);

    TesselSDK::Logger::Instance().Init();
    LogWindow log;
    logic->SendTallo("after", "", "", "");
    EXPECT_TRUE(log.WaitFor("[WARN] [TesselSDK::SendTallo] Telemetry worker not running, drop event"));
    EXPECT_EQ(8u, ElapsedTimes().size());
    TesselSDK::Logger::Instance().Stop();
}

TEST_F(Telemetry, ServiceFailuresAreLoggedAndTheWorkerGoesOn) {
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

TEST_F(Telemetry, HugeAnswersAreCutInTheLog) {
    AddRoute({{"path", kTelemetryPath}, {"status", 200}, {"body", std::string(5 * 1024 * 1024, 'x')}});
    auto logic = MakeLogic();
    LogWindow log;
    const std::string path = TesselSDK::Logger::Instance().CurrentLogFilePath();
    const size_t before = testsupport::ReadFile(path).size();
    logic->SendTallo("big", "", "", "");
    ASSERT_TRUE(log.WaitFor("Telemetry sent successfully, Response: " + std::string(4096, 'x') +
                            "... [5242880 bytes in all]"));
    const size_t growth = testsupport::ReadFile(path).size() - before;
    std::printf("log growth for a 5 MB telemetry answer: %zu bytes\n", growth);
    EXPECT_LT(growth, 8u * 1024);
}

TEST_F(Telemetry, FullQueueDropsTheOldestEvents) {
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

    // The oldest queued events are the ones dropped: sending resumes at 11, in order.
    std::vector<std::string> sent = ElapsedTimes();
    ASSERT_GE(sent.size(), 2u);
    sent.erase(sent.begin());
    EXPECT_EQ(Numbers(11, 10 + sent.size()), sent);
    EXPECT_EQ(1u, log.Count("[WARN] [TesselSDK::SendTallo] Telemetry queue full (1000 events), dropping the oldest"));
    if (sent.size() < limit) {
        // The post in flight at the deadline is cancelled: it may or may not
        // have reached the service, and it is not a queued event.
        const auto dropped = [&](size_t n) {
            return log.Count("[WARN] [TesselSDK::SendTallo] Telemetry shutdown time limit reached, dropped " +
                             std::to_string(n) + " queued events");
        };
        EXPECT_EQ(1u, dropped(limit - sent.size()) + dropped(limit - sent.size() - 1));
    }
}

TEST_F(Telemetry, ShutdownDrainIsBoundedWhileTheServiceHangs) {
    AddRoute({{"path", kTelemetryPath}, {"mode", "hang"}});
    auto logic = MakeLogic();
    LogWindow log;
    for (int i = 0; i < 10; ++i) logic->SendTallo("e", std::to_string(i).c_str(), "", "");
    const auto start = std::chrono::steady_clock::now();
    logic->Shutdown();
    const auto took = std::chrono::steady_clock::now() - start;
    std::printf("telemetry drain with the service hung: %lld ms\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
    // The deadline ends the post in flight too (each would wait 1.5 s).
    EXPECT_LT(took, TesselSDK::kTelemetryDrainLimit + std::chrono::milliseconds(400));
    EXPECT_GE(took, TesselSDK::kTelemetryDrainLimit);

    const size_t sent = Requests(kTelemetryPath).size();
    EXPECT_EQ(2u, sent);
    EXPECT_TRUE(log.WaitFor("[WARN] [TesselSDK::SendTallo] Telemetry failed with HTTP code: 0", 2));
    EXPECT_EQ(1u, log.Count("[WARN] [TesselSDK::SendTallo] Telemetry shutdown time limit reached, dropped " +
                            std::to_string(10 - sent) + " queued events"));
}

TEST_F(Telemetry, ConcurrentSendersDuringConcurrentShutdowns) {
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
}
