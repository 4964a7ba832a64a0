// The configuration document parser and the profile lookups.
#include <gtest/gtest.h>

#include <string>

#include "core/cdn_config.h"

using TesselSDK::BitrateProfile;
using TesselSDK::CdnConfig;
using TesselSDK::FindBitrateProfile;
using TesselSDK::ParseCdnConfig;

namespace {

CdnConfig Parse(const std::string& body) { return ParseCdnConfig(body, "GAME"); }

void ExpectDefaults(const CdnConfig& c) {
    EXPECT_EQ("", c.webSocketUrl);
    EXPECT_EQ("", c.turnApiUrl);
    EXPECT_EQ("", c.eventApiUrl);
    EXPECT_EQ("", c.windowsEventsApiUrl);
    EXPECT_EQ("", c.sentryDsn);
    EXPECT_FALSE(c.sentryEnable);
    EXPECT_FALSE(c.sqm.enabled);
    EXPECT_EQ(5, c.sqm.metric_collect_interval_s);
    EXPECT_EQ(60, c.sqm.start_streaming_push_delay_s);
    EXPECT_EQ(30, c.sqm.during_streaming_push_interval_s);
    EXPECT_TRUE(c.bitrateProfiles.empty());
}

// A document with every row, whose bitrate section is `unreal`.
std::string Document(const std::string& unreal) {
    return R"({"virivizar_ss":{"ws":{"kr":"ws.host"}},
               "virivizar_turn":{"api":{"kr":"https://turn"}},
               "virivizar_event":{"api":{"kr":"https://event"}},
               "virivizar_windows_events":{"api":{"kr":"https://win"}},
               "virivizar_sentry":{"enable":true,"dsn":"https://k@dsn/1"},
               "virivizar_bitrate":{"Unreal":)" +
           unreal + "}}";
}

const BitrateProfile& Profile(const CdnConfig& c, const std::string& name) {
    static const BitrateProfile missing;
    auto it = c.bitrateProfiles.find(name);
    EXPECT_NE(it, c.bitrateProfiles.end()) << name;
    return it == c.bitrateProfiles.end() ? missing : it->second;
}

}  // namespace

TEST(CdnConfigParse, BodiesThatAreNoObjectGiveDefaults) {
    for (const char* body : {"", "not json", "{\"a\":1} // comment", "{\"a\":1} trailing", "[1,2]", "\"text\"",
                             "42", "null"}) {
        SCOPED_TRACE(body);
        ExpectDefaults(Parse(body));
    }
}

TEST(CdnConfigParse, FullDocumentFillsEveryRow) {
    const CdnConfig c = Parse(Document(R"({"AUTO":{"MaxBitrate":8,"MinBitrate":4,"Fps":30}})"));
    EXPECT_EQ("ws.host", c.webSocketUrl);
    EXPECT_EQ("https://turn", c.turnApiUrl);
    EXPECT_EQ("https://event", c.eventApiUrl);
    EXPECT_EQ("https://win", c.windowsEventsApiUrl);
    EXPECT_TRUE(c.sentryEnable);
    EXPECT_EQ("https://k@dsn/1", c.sentryDsn);
    const auto& p = Profile(c, "AUTO");
    EXPECT_EQ(8, p.MaxBitrate);
    EXPECT_EQ(4, p.MinBitrate);
    EXPECT_EQ(30, p.Fps);
    EXPECT_EQ(20, p.MinQP);
    EXPECT_EQ("HIGH", p.H264Profile);
}

TEST(CdnConfigParse, WrongTypeInAStringRowEndsTheParse) {
    const CdnConfig c = Parse(R"({"virivizar_ss":{"ws":{"kr":"ws.host"}},
        "virivizar_turn":{"api":{"kr":5}},
        "virivizar_event":{"api":{"kr":"https://event"}},
        "virivizar_sentry":{"enable":true,"dsn":"d"},
        "virivizar_sqm":{"api":{"kr":"https://sqm"}},
        "virivizar_bitrate":{"Unreal":{"AUTO":{}}}})");
    EXPECT_EQ("ws.host", c.webSocketUrl);
    EXPECT_EQ("", c.turnApiUrl);
    EXPECT_EQ("", c.eventApiUrl);
    EXPECT_FALSE(c.sentryEnable);
    EXPECT_EQ("", c.sentryDsn);
    EXPECT_EQ("", c.sqm.api);
    EXPECT_TRUE(c.bitrateProfiles.empty());
}

TEST(CdnConfigParse, PathThroughANonObjectIsSkipped) {
    const CdnConfig c = Parse(R"({"virivizar_ss":"text","virivizar_turn":{"api":[1]},
        "virivizar_event":{"api":{"kr":"https://event"}}})");
    EXPECT_EQ("", c.webSocketUrl);
    EXPECT_EQ("", c.turnApiUrl);
    EXPECT_EQ("https://event", c.eventApiUrl);
}

TEST(CdnConfigParse, SentryRows) {
    // A non-boolean "enable" is ignored and the parse goes on.
    CdnConfig c = Parse(R"({"virivizar_sentry":{"enable":"true","dsn":"d1"}})");
    EXPECT_FALSE(c.sentryEnable);
    EXPECT_EQ("d1", c.sentryDsn);
    // "dsn_unreal" wins, even when empty.
    c = Parse(R"({"virivizar_sentry":{"enable":true,"dsn_unreal":"","dsn":"d1"}})");
    EXPECT_TRUE(c.sentryEnable);
    EXPECT_EQ("", c.sentryDsn);
    c = Parse(R"({"virivizar_sentry":{"dsn_unreal":"d2","dsn":"d1"}})");
    EXPECT_EQ("d2", c.sentryDsn);
    // A non-string DSN ends the parse: no profile is read.
    c = Parse(R"({"virivizar_sentry":{"dsn":7},"virivizar_bitrate":{"Unreal":{"AUTO":{}}}})");
    EXPECT_EQ("", c.sentryDsn);
    EXPECT_TRUE(c.bitrateProfiles.empty());
}

TEST(CdnConfigParse, FailingMetricsSectionKeepsEarlierRowsAndSkipsProfiles) {
    const CdnConfig c = Parse(R"({"virivizar_ss":{"ws":{"kr":"ws.host"}},
        "virivizar_sentry":{"enable":true,"dsn":"d"},
        "virivizar_sqm":{"metric_collect_interval_s":"ten"},
        "virivizar_bitrate":{"Unreal":{"AUTO":{}}}})");
    EXPECT_EQ("ws.host", c.webSocketUrl);
    EXPECT_TRUE(c.sentryEnable);
    EXPECT_EQ("d", c.sentryDsn);
    EXPECT_EQ(5, c.sqm.metric_collect_interval_s);
    EXPECT_TRUE(c.bitrateProfiles.empty());
}

TEST(CdnConfigParse, IntegerConversions) {
    const CdnConfig c = Parse(Document(R"({
        "digits":{"MaxBitrate":"123"},
        "spaced":{"MaxBitrate":"  -45xyz"},
        "fraction":{"MaxBitrate":7.9,"MinBitrate":-7.9},
        "boolean":{"Fps":true},
        "unbounded":{"MinBitrate":50000000,"MaxBitrate":1000,"Fps":-3},
        "largest":{"MaxBitrate":2147483647,"MinBitrate":-2147483648}})"));
    EXPECT_EQ(123, Profile(c, "digits").MaxBitrate);
    EXPECT_EQ(-45, Profile(c, "spaced").MaxBitrate);
    EXPECT_EQ(7, Profile(c, "fraction").MaxBitrate);
    EXPECT_EQ(-7, Profile(c, "fraction").MinBitrate);
    EXPECT_EQ(1, Profile(c, "boolean").Fps);
    EXPECT_EQ(50000000, Profile(c, "unbounded").MinBitrate);
    EXPECT_EQ(1000, Profile(c, "unbounded").MaxBitrate);
    EXPECT_EQ(-3, Profile(c, "unbounded").Fps);
    EXPECT_EQ(2147483647, Profile(c, "largest").MaxBitrate);
    EXPECT_EQ(-2147483647 - 1, Profile(c, "largest").MinBitrate);
}

TEST(CdnConfigParse, FailedConversionEndsTheParseKeepingEarlierProfiles) {
    // Members are read in document order; "b" raises, so "c" is never read.
    for (const char* bad : {R"("letters")", R"("99999999999")", "null", "[1]", "{}", "2147483648", "-2147483649",
                            "1e300", "4294967296"}) {
        SCOPED_TRACE(bad);
        const CdnConfig c =
            Parse(Document(std::string(R"({"a":{"Fps":1},"b":{"Fps":2,"MaxBitrate":)") + bad + R"(},"c":{}})"));
        EXPECT_EQ(1u, c.bitrateProfiles.count("a"));
        EXPECT_EQ(0u, c.bitrateProfiles.count("b"));
        EXPECT_EQ(0u, c.bitrateProfiles.count("c"));
        EXPECT_EQ("ws.host", c.webSocketUrl);
    }
}

TEST(CdnConfigParse, QuantiserRange) {
    const CdnConfig c = Parse(Document(R"({
        "low":{"MinQP":-1,"MaxQP":52},
        "edges":{"MinQP":0,"MaxQP":51},
        "text":{"MinQP":"30"},
        "fraction":{"MaxQP":51.9},
        "huge":{"MinQP":3000000000}})"));
    EXPECT_EQ(20, Profile(c, "low").MinQP);
    EXPECT_EQ(40, Profile(c, "low").MaxQP);
    EXPECT_EQ(0, Profile(c, "edges").MinQP);
    EXPECT_EQ(51, Profile(c, "edges").MaxQP);
    EXPECT_EQ(30, Profile(c, "text").MinQP);
    EXPECT_EQ(51, Profile(c, "fraction").MaxQP);
    // Out of the 32-bit range: the parse ends at this profile.
    EXPECT_EQ(0u, c.bitrateProfiles.count("huge"));

    const CdnConfig n = Parse(Document(R"({"a":{},"b":{"MinQP":null},"c":{}})"));
    EXPECT_EQ(1u, n.bitrateProfiles.count("a"));
    EXPECT_EQ(0u, n.bitrateProfiles.count("b"));
    EXPECT_EQ(0u, n.bitrateProfiles.count("c"));
}

TEST(CdnConfigParse, EnumStrings) {
    const CdnConfig c = Parse(Document(R"({
        "all":{"H264Profile":"BASELINE","Multipass":"FULL","EncoderPreset":"ULTRA_LOW_LATENCY",
               "RateControl":"ConstQP","DegradationPreference":"BALANCED"},
        "wrong":{"H264Profile":"high","Multipass":1,"EncoderPreset":null,"RateControl":"cbr",
                 "DegradationPreference":["BALANCED"],"Fps":25}})"));
    const auto& all = Profile(c, "all");
    EXPECT_EQ("BASELINE", all.H264Profile);
    EXPECT_EQ("FULL", all.Multipass);
    EXPECT_EQ("ULTRA_LOW_LATENCY", all.EncoderPreset);
    EXPECT_EQ("ConstQP", all.RateControl);
    EXPECT_EQ("BALANCED", all.DegradationPreference);
    const auto& wrong = Profile(c, "wrong");
    EXPECT_EQ("HIGH", wrong.H264Profile);
    EXPECT_EQ("DISABLED", wrong.Multipass);
    EXPECT_EQ("LOW_QUALITY", wrong.EncoderPreset);
    EXPECT_EQ("CBR", wrong.RateControl);
    EXPECT_EQ("MAINTAIN_FRAMERATE", wrong.DegradationPreference);
    EXPECT_EQ(25, wrong.Fps);
}

TEST(CdnConfigParse, ProfileContainers) {
    // Entries that are not objects are skipped; the next one is read.
    CdnConfig c = Parse(Document(R"({"n":5,"arr":[1],"ok":{"Fps":24}})"));
    EXPECT_EQ(1u, c.bitrateProfiles.size());
    EXPECT_EQ(24, Profile(c, "ok").Fps);
    // An array names its object elements by position.
    c = Parse(Document(R"([{"Fps":10},7,{"Fps":12}])"));
    EXPECT_EQ(2u, c.bitrateProfiles.size());
    EXPECT_EQ(10, Profile(c, "0").Fps);
    EXPECT_EQ(12, Profile(c, "2").Fps);
    for (const char* v : {R"("AUTO")", "3", "true", "null"}) {
        c = Parse(Document(v));
        EXPECT_TRUE(c.bitrateProfiles.empty()) << v;
        EXPECT_EQ("ws.host", c.webSocketUrl);
    }
}

TEST(CdnConfigLookup, NamedProfileThenAutoFallback) {
    CdnConfig c;
    EXPECT_EQ(nullptr, FindBitrateProfile(c, nullptr));
    EXPECT_EQ(nullptr, FindBitrateProfile(c, "AUTO"));
    c.bitrateProfiles["LOW"].Fps = 30;
    EXPECT_EQ(nullptr, FindBitrateProfile(c, "HIGH"));
    EXPECT_EQ(nullptr, FindBitrateProfile(c, nullptr));
    EXPECT_EQ(&c.bitrateProfiles["LOW"], FindBitrateProfile(c, "LOW"));
    c.bitrateProfiles["AUTO"].Fps = 60;
    EXPECT_EQ(&c.bitrateProfiles["AUTO"], FindBitrateProfile(c, nullptr));
    EXPECT_EQ(&c.bitrateProfiles["AUTO"], FindBitrateProfile(c, "low"));  // case matters
    EXPECT_EQ(&c.bitrateProfiles["AUTO"], FindBitrateProfile(c, ""));
    EXPECT_EQ(2u, c.bitrateProfiles.size());  // lookups never insert
}
