// The glue between the SDK and its event reporter: the log hook and the
// three capture wrappers.
#include <gtest/gtest.h>

#include <cstdarg>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "log/logger.h"
#include "platform/sentry_glue.h"
#include "standins/sentry_halyx/options.h"
#include "standins/sentry_halyx/sentry_halyx.h"
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

// The wrappers against a running reporter whose envelopes are collected.
class SentryGlueCapture : public ::testing::Test {
protected:
    void SetUp() override {
        sentry_halyx_options_t* options = sentry_halyx_options_new();
        sentry_halyx_options_set_dsn(options, "https://k@ingest.example.com/3");
        options->transport = [this](const std::string&, const std::map<std::string, std::string>&,
                                    const std::string& body) {
            std::lock_guard<std::mutex> lock(mutex_);
            const std::size_t last = body.rfind('\n');
            events_.push_back(json::parse(body.substr(last + 1)));
            return 200;
        };
        ASSERT_EQ(0, sentry_halyx_init(options));
    }
    void TearDown() override { sentry_halyx_close(); }

    std::vector<json> Events() {
        EXPECT_EQ(0, sentry_halyx_flush(5000));
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }

private:
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
    EXPECT_EQ("config", message["breadcrumbs"]["values"][0]["type"]);
    EXPECT_EQ("CDN configuration loaded", message["breadcrumbs"]["values"][0]["message"]);
    const json& exception = events[1];
    EXPECT_EQ("CDN_Parse_Exception", exception["exception"]["values"][0]["type"]);
    EXPECT_EQ("parse error at 1", exception["exception"]["values"][0]["value"]);

    const std::vector<std::string> expected = {
        "DEBUG|[Sentry] Breadcrumb: CDN configuration loaded",
        "DEBUG|[Sentry] Event captured: " + message["event_id"].get<std::string>(),
        "DEBUG|[Sentry] Exception captured: " + exception["event_id"].get<std::string>()};
    EXPECT_EQ(expected, lines);
    EXPECT_EQ(36u, exception["event_id"].get<std::string>().size());
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

}  // namespace
