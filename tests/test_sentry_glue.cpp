// The glue between the SDK and its event reporter (sentry-native under the
// sentry_halyx_ prefix): the log hook, the three capture wrappers and the
// reporter's start and bounded close.
#include <sentry_halyx.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <cstdarg>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "log/logger.h"
#include "platform/sentry_glue.h"
#include "test_support.h"

using json = nlohmann::ordered_json;

namespace {

std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = TesselSDK::FormatSentryLogText(format, args);
    va_end(args);
    return text;
}

void Hook(int level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    TesselSDK::SentryLogCallback(level, format, args, nullptr);
    va_end(args);
}

// Runs `body` with the logger started and returns the messages it wrote,
// each as "LEVEL|message".
template <typename Body>
std::vector<std::string> LoggedDuring(Body body) {
    TesselSDK::Logger& logger = TesselSDK::Logger::Instance();
    logger.Init();
    body();
    logger.Stop();
    // "[date time] [LEVEL] message"
    std::vector<std::string> out;
    for (const std::string& line : testsupport::ReadLines(logger.CurrentLogFilePath())) {
        const std::size_t stampEnd = line.find("] [");
        if (line.empty() || line[0] != '[' || stampEnd == std::string::npos) continue;
        const std::size_t levelEnd = line.find("] ", stampEnd + 3);
        if (levelEnd == std::string::npos) continue;
        out.push_back(line.substr(stampEnd + 3, levelEnd - stampEnd - 3) + "|" + line.substr(levelEnd + 2));
    }
    return out;
}

TEST(SentryGlue, HookFormatsLikeVsnprintfAndLogsAtTheMappedLevel) {
    // 64-bit and size arguments format as on Linux on every build.
    EXPECT_EQ("18446744073709551615 7 0.50", Format("%llu %zu %.2f", 18446744073709551615ull, std::size_t{7}, 0.5));
    EXPECT_EQ("", Format(nullptr));
    const auto lines = LoggedDuring([] {
        Hook(-1, "debug %s", "output");
        Hook(0, "info %d", 1);
        Hook(1, "warning");
        Hook(2, "error");
        Hook(3, "fatal");
        Hook(0, "%s", std::string(2000, 'z').c_str());
    });
    const std::vector<std::string> expected = {"DEBUG|[Sentry] debug output", "INFO|[Sentry] info 1",
                                               "WARN|[Sentry] warning",       "ERROR|[Sentry] error",
                                               "ERROR|[Sentry] fatal",        "INFO|[Sentry] " + std::string(1023, 'z')};
    EXPECT_EQ(expected, lines);
}

// The wrappers against a running reporter whose events a transport of the
// test collects.
class SentryGlueCapture : public ::testing::Test {
protected:
    void SetUp() override {
        sentry_options_t* options = sentry_halyx_options_new();
        sentry_halyx_options_set_dsn(options, "https://k@ingest.example.com/3");
        sentry_halyx_options_set_auto_session_tracking(options, 0);
        // A database of its own: no envelope left over by another test is resent.
        std::filesystem::remove_all(kDatabase);
        sentry_halyx_options_set_database_path(options, kDatabase);
        sentry_transport_t* transport = sentry_halyx_transport_new(&Send);
        sentry_halyx_transport_set_state(transport, this);
        sentry_halyx_options_set_transport(options, transport);
        ASSERT_EQ(0, sentry_halyx_init(options));
    }
    void TearDown() override { sentry_halyx_close(); }

    std::vector<json> Events() {
        EXPECT_EQ(0, sentry_halyx_flush(5000));
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }

private:
    static constexpr const char* kDatabase = ".sentry-native-capture-test";

    static void Send(sentry_envelope_t* envelope, void* state) {
        auto* self = static_cast<SentryGlueCapture*>(state);
        char* text = sentry_halyx_value_to_json(sentry_halyx_envelope_get_event(envelope));
        {
            std::lock_guard<std::mutex> lock(self->mutex_);
            self->events_.push_back(json::parse(text));
        }
        sentry_halyx_free(text);
        sentry_halyx_envelope_free(envelope);
    }

    std::mutex mutex_;
    std::vector<json> events_;
};

TEST_F(SentryGlueCapture, WrappersBuildEventsAndLogTheirIds) {
    const auto lines = LoggedDuring([] {
        TesselSDK::SentryAddBreadcrumb("CDN configuration loaded", "config");
        TesselSDK::SentryCaptureMessage("TesselSDK initialized successfully", 0);
        TesselSDK::SentryCaptureException("CDN_Parse_Exception", "parse error at 1");
    });
    const auto events = Events();
    ASSERT_EQ(2u, events.size());
    const json& message = events[0];
    EXPECT_EQ("info", message["level"]);
    EXPECT_EQ("TesselSDK", message["logger"]);
    EXPECT_EQ("TesselSDK initialized successfully", message["message"]["formatted"]);
    ASSERT_EQ(1u, message["breadcrumbs"].size());
    EXPECT_EQ("config", message["breadcrumbs"][0]["type"]);
    EXPECT_EQ("CDN configuration loaded", message["breadcrumbs"][0]["message"]);
    const json& exception = events[1];
    EXPECT_EQ("CDN_Parse_Exception", exception["exception"]["values"][0]["type"]);
    EXPECT_EQ("parse error at 1", exception["exception"]["values"][0]["value"]);

    const std::vector<std::string> expected = {
        "DEBUG|[Sentry] Breadcrumb: CDN configuration loaded",
        "DEBUG|[Sentry] Event captured: " + message["event_id"].get<std::string>(),
        "DEBUG|[Sentry] Exception captured: " + exception["event_id"].get<std::string>()};
    EXPECT_EQ(expected, lines);
    EXPECT_EQ(36u, exception["event_id"].get<std::string>().size());
    EXPECT_NE(message["event_id"], exception["event_id"]);
}

TEST(SentryGlue, WrappersWithoutARunningReporterLogTheNilId) {
    sentry_halyx_close();
    const auto lines = LoggedDuring([] {
        TesselSDK::SentryCaptureMessage("TesselSDK shutting down", 0);
        TesselSDK::SentryCaptureException(nullptr, nullptr);
        TesselSDK::SentryAddBreadcrumb("TesselSDK shutdown initiated", "lifecycle");
    });
    const std::string nil = "00000000-0000-0000-0000-000000000000";
    const std::vector<std::string> expected = {"DEBUG|[Sentry] Event captured: " + nil,
                                               "DEBUG|[Sentry] Exception captured: " + nil,
                                               "DEBUG|[Sentry] Breadcrumb: TesselSDK shutdown initiated"};
    EXPECT_EQ(expected, lines);
}

// Started as initialisation starts it, the library logs through the hook
// (debug on); with the ingestion endpoint refused or hanging, the shutdown
// flush and close still return within the library's own bounds.
TEST(SentryGlue, StartLogsThroughTheHookAndCloseIsBounded) {
    const std::string server = testsupport::ServerUrl();  // http://127.0.0.1:PORT
    const std::string hostPort = server.substr(std::string("http://").size());
    // The library keeps what it could not send in ".sentry-native" of the
    // current folder and sends it at its next start: a folder of its own
    // keeps it from other tests.
    namespace fs = std::filesystem;
    const fs::path previous = fs::current_path();
    fs::remove_all("sentry-glue-close-test");
    fs::create_directory("sentry-glue-close-test");
    fs::current_path("sentry-glue-close-test");
    for (const std::string& dsn : {std::string("http://k@127.0.0.1:1/9"), "http://k@" + hostPort + "/hang/9"}) {
        SCOPED_TRACE(dsn);
        std::chrono::milliseconds closeTime{};
        const auto lines = LoggedDuring([&] {
            ASSERT_TRUE(TesselSDK::SentryStart(dsn.c_str(), "rel-1"));
            TesselSDK::SentryCaptureMessage("TesselSDK shutting down", 0);
            const auto start = std::chrono::steady_clock::now();
            TesselSDK::SentryFlushAndClose(100);
            closeTime = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        });
        std::printf("flush and close took %lld ms\n", static_cast<long long>(closeTime.count()));
        EXPECT_LT(closeTime, std::chrono::milliseconds(3500));
        // The library's own lines, at its levels mapped to ours.
        const auto has = [&lines](const std::string& prefix) {
            return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
        };
        EXPECT_TRUE(has("INFO|[Sentry] using database path")) << ::testing::PrintToString(lines);
        EXPECT_TRUE(has("DEBUG|[Sentry] starting transport")) << ::testing::PrintToString(lines);
    }
    fs::current_path(previous);
}

}  // namespace
