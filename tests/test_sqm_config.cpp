#include <gtest/gtest.h>

#include <stdexcept>

#include "sqm/sqm_config.h"

using TesselSDK::SqmConfig;
using Json = nlohmann::ordered_json;

namespace {

SqmConfig Parse(const std::string& text, const std::string& gameId = "G") {
    return TesselSDK::ParseSqmConfig(Json::parse(text), gameId);
}
SqmConfig Section(const std::string& section, const std::string& gameId = "G") {
    return Parse("{\"virivizar_sqm\": " + section + "}", gameId);
}

}  // namespace

TEST(SqmConfig, DefaultsAndApi) {
    for (const char* doc : {R"({})", R"({"virivizar_sqm": 5})", R"({"virivizar_sqm": [1]})", R"([1,2])"}) {
        const SqmConfig c = Parse(doc);
        EXPECT_FALSE(c.enabled) << doc;
        EXPECT_EQ("", c.api) << doc;
        EXPECT_EQ(5, c.metric_collect_interval_s) << doc;
        EXPECT_EQ(60, c.start_streaming_push_delay_s) << doc;
        EXPECT_EQ(30, c.during_streaming_push_interval_s) << doc;
    }
    EXPECT_EQ("m.example", Section(R"({"api": "m.example"})").api);
    EXPECT_EQ("kr.example", Section(R"({"api": {"us": "x", "kr": "kr.example"}})").api);
    for (const char* api : {R"({"kr": 5})", "5", R"({"us": "x"})"}) {
        EXPECT_EQ("", Section(std::string("{\"api\": ") + api + "}").api) << api;
    }
}

TEST(SqmConfig, GameSelectionSteps) {
    const std::string section = R"({"metric_collect_interval_s": 4, "games": {
        "ABC_KR": {"enabled": true, "metric_collect_interval_s": 1},
        "ABC":    {"enabled": true, "metric_collect_interval_s": 2},
        "x":      {"enabled": true, "metric_collect_interval_s": 3},
        "XYZLONG":{"enabled": true, "metric_collect_interval_s": 9},
        "lower":  {"enabled": true, "metric_collect_interval_s": 7}}})";
    const struct { const char* gameId; bool enabled; int collect; } cases[] = {
        {"abc_kr", true, 1},     // the whole id, upper-cased, wins over its base
        {"abc_jp", true, 2},     // the base before the first '_' ...
        {"ABC-JP", true, 2},     // ... or '-'
        {"XYZLONGER", true, 3},  // the first key in document order that begins the id, even a shorter one
        {"lower", true, 7},      // a lower-case key is found only as a prefix
        {"QQQ", false, 4},       // no match: off, the section's values stay
        {"", false, 4}};
    for (const auto& c : cases) {
        const SqmConfig config = Section(section, c.gameId);
        EXPECT_EQ(c.enabled, config.enabled) << c.gameId;
        EXPECT_EQ(c.collect, config.metric_collect_interval_s) << c.gameId;
    }
}

TEST(SqmConfig, EntryIntervalsOnlyWhenEnabledAndClamp) {
    EXPECT_EQ(6, Section(R"({"metric_collect_interval_s": 6,
        "games": {"G": {"enabled": false, "metric_collect_interval_s": 2}}})").metric_collect_interval_s);
    const SqmConfig c = Section(R"({"metric_collect_interval_s": 6, "games": {"G": {"enabled": true,
        "metric_collect_interval_s": 2, "start_streaming_push_delay_s": 7.9, "during_streaming_push_interval_s": 20}}})");
    EXPECT_TRUE(c.enabled);
    EXPECT_EQ(2, c.metric_collect_interval_s);
    EXPECT_EQ(7, c.start_streaming_push_delay_s);
    EXPECT_EQ(20, c.during_streaming_push_interval_s);
    // The clamp applies also without a chosen entry.
    EXPECT_EQ(30, Section(R"({"metric_collect_interval_s": 40, "during_streaming_push_interval_s": 30})")
                      .metric_collect_interval_s);
    for (const char* off : {R"({"games": {"G": 1}})", R"({"games": {"G": {}}})", R"({"games": [1]})"}) {
        EXPECT_FALSE(Section(off).enabled) << off;
    }
}

TEST(SqmConfig, WrongTypesThrow) {
    for (const char* section : {R"({"games": {"G": {"enabled": "true"}}})", R"({"metric_collect_interval_s": "5"})",
                                R"({"during_streaming_push_interval_s": null})",
                                R"({"start_streaming_push_delay_s": [1]})",
                                // Beyond 32 bits: an error, not a wrapped value.
                                R"({"start_streaming_push_delay_s": 4294967356})",
                                R"({"start_streaming_push_delay_s": 1e12})"}) {
        EXPECT_THROW(Section(section), std::exception) << section;
    }
    EXPECT_EQ(-2147483647 - 1, Section(R"({"start_streaming_push_delay_s": -2147483648})").start_streaming_push_delay_s);
}
