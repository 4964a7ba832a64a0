#include <gtest/gtest.h>

#include <stdexcept>

#include "sqm/sqm_config.h"

using TesselSDK::ParseSqmConfig;
using TesselSDK::SqmConfig;
using Json = nlohmann::ordered_json;

namespace {

SqmConfig Parse(const char* text, const std::string& gameId) { return ParseSqmConfig(Json::parse(text), gameId); }

}  // namespace

TEST(SqmConfig, MissingOrMalformedSectionGivesDefaults) {
    for (const char* doc : {R"({})", R"({"virivizar_sqm": 5})", R"({"virivizar_sqm": [1]})", R"([1,2])"}) {
        const SqmConfig c = Parse(doc, "GAME");
        EXPECT_FALSE(c.enabled) << doc;
        EXPECT_EQ("", c.api);
        EXPECT_EQ(5, c.metric_collect_interval_s);
        EXPECT_EQ(60, c.start_streaming_push_delay_s);
        EXPECT_EQ(30, c.during_streaming_push_interval_s);
    }
}

TEST(SqmConfig, ApiTakesStringOrObjectKr) {
    EXPECT_EQ("m.example", Parse(R"({"virivizar_sqm": {"api": "m.example"}})", "").api);
    EXPECT_EQ("kr.example", Parse(R"({"virivizar_sqm": {"api": {"kr": "kr.example", "us": "x"}}})", "").api);
    EXPECT_EQ("", Parse(R"({"virivizar_sqm": {"api": {"kr": 5}}})", "").api);
    EXPECT_EQ("", Parse(R"({"virivizar_sqm": {"api": 5}})", "").api);
    EXPECT_EQ("", Parse(R"({"virivizar_sqm": {"api": {"us": "x"}}})", "").api);
}

TEST(SqmConfig, GameSelectionSteps) {
    const char* doc = R"({"virivizar_sqm": {"metric_collect_interval_s": 4, "games": {
        "ABC_KR": {"enabled": true, "metric_collect_interval_s": 1},
        "ABC":    {"enabled": true, "metric_collect_interval_s": 2},
        "x":      {"enabled": true, "metric_collect_interval_s": 3},
        "XYZLONG":{"enabled": true, "metric_collect_interval_s": 9},
        "lower":  {"enabled": true, "metric_collect_interval_s": 7}}}})";
    // The whole id wins over its base, case-insensitively on the id's side.
    EXPECT_EQ(1, Parse(doc, "abc_kr").metric_collect_interval_s);
    // Base before the first '_' or '-'.
    EXPECT_EQ(2, Parse(doc, "abc_jp").metric_collect_interval_s);
    EXPECT_EQ(2, Parse(doc, "ABC-JP").metric_collect_interval_s);
    // A key that begins the id: the first in document order, even if shorter.
    EXPECT_EQ(3, Parse(doc, "XYZLONGER").metric_collect_interval_s);
    // A lower-case key is found only as a prefix.
    const SqmConfig lower = Parse(doc, "lower");
    EXPECT_TRUE(lower.enabled);
    EXPECT_EQ(7, lower.metric_collect_interval_s);
    // No match, an empty id: metrics off, section values kept.
    const SqmConfig none = Parse(doc, "QQQ");
    EXPECT_FALSE(none.enabled);
    EXPECT_EQ(4, none.metric_collect_interval_s);
    EXPECT_FALSE(Parse(doc, "").enabled);
}

TEST(SqmConfig, UpperCasingIsAsciiOnly) {
    // Bytes above 0x7F must neither crash nor be changed by the selection.
    const std::string doc = "{\"virivizar_sqm\": {\"games\": {\"\xC3\xA9T\xC3\xA9\": {\"enabled\": true}}}}";
    EXPECT_TRUE(ParseSqmConfig(Json::parse(doc), "\xC3\xA9t\xC3\xA9").enabled);
    EXPECT_FALSE(ParseSqmConfig(Json::parse(doc), "\xC3\x89T\xC3\x89").enabled);
}

TEST(SqmConfig, EntryIntervalsOnlyWhenEnabledAndClamp) {
    const char* off = R"({"virivizar_sqm": {"metric_collect_interval_s": 6,
        "games": {"G": {"enabled": false, "metric_collect_interval_s": 2}}}})";
    EXPECT_EQ(6, Parse(off, "G").metric_collect_interval_s);
    const char* on = R"({"virivizar_sqm": {"metric_collect_interval_s": 6,
        "games": {"G": {"enabled": true, "metric_collect_interval_s": 2, "start_streaming_push_delay_s": 7.9,
                        "during_streaming_push_interval_s": 20}}}})";
    const SqmConfig c = Parse(on, "G");
    EXPECT_TRUE(c.enabled);
    EXPECT_EQ(2, c.metric_collect_interval_s);
    EXPECT_EQ(7, c.start_streaming_push_delay_s);
    EXPECT_EQ(20, c.during_streaming_push_interval_s);
    // The clamp also applies without a chosen entry.
    const SqmConfig clamped =
        Parse(R"({"virivizar_sqm": {"metric_collect_interval_s": 40, "during_streaming_push_interval_s": 30}})", "G");
    EXPECT_EQ(30, clamped.metric_collect_interval_s);
    // An entry that is not an object, or has no "enabled", leaves metrics off.
    EXPECT_FALSE(Parse(R"({"virivizar_sqm": {"games": {"G": 1}}})", "G").enabled);
    EXPECT_FALSE(Parse(R"({"virivizar_sqm": {"games": {"G": {}}}})", "G").enabled);
    EXPECT_FALSE(Parse(R"({"virivizar_sqm": {"games": [1]}})", "G").enabled);
}

TEST(SqmConfig, WrongTypesAndOutOfRangeThrow) {
    EXPECT_THROW(Parse(R"({"virivizar_sqm": {"games": {"G": {"enabled": "true"}}}})", "G"), std::exception);
    EXPECT_THROW(Parse(R"({"virivizar_sqm": {"metric_collect_interval_s": "5"}})", "G"), std::exception);
    EXPECT_THROW(Parse(R"({"virivizar_sqm": {"during_streaming_push_interval_s": null}})", "G"), std::exception);
    EXPECT_THROW(Parse(R"({"virivizar_sqm": {"start_streaming_push_delay_s": [1]}})", "G"), std::exception);
    // Beyond 32 bits: an error, not a wrapped value.
    EXPECT_THROW(Parse(R"({"virivizar_sqm": {"start_streaming_push_delay_s": 4294967356}})", "G"), std::exception);
    EXPECT_THROW(Parse(R"({"virivizar_sqm": {"start_streaming_push_delay_s": -2147483649}})", "G"), std::exception);
    EXPECT_THROW(Parse(R"({"virivizar_sqm": {"start_streaming_push_delay_s": 1e12}})", "G"), std::exception);
    EXPECT_THROW(Parse(R"({"virivizar_sqm": {"start_streaming_push_delay_s": 18446744073709551615}})", "G"),
                 std::exception);
    // The extremes of the range are accepted.
    EXPECT_EQ(2147483647, Parse(R"({"virivizar_sqm": {"start_streaming_push_delay_s": 2147483647}})", "G")
                              .start_streaming_push_delay_s);
    EXPECT_EQ(-2147483647 - 1, Parse(R"({"virivizar_sqm": {"start_streaming_push_delay_s": -2147483648}})", "G")
                                   .start_streaming_push_delay_s);
    EXPECT_EQ(-7, Parse(R"({"virivizar_sqm": {"start_streaming_push_delay_s": -7.9}})", "G")
                      .start_streaming_push_delay_s);
}
