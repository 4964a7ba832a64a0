// The configuration document parser and the profile lookups.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "core/cdn_config.h"

using TesselSDK::BitrateProfile;
using TesselSDK::CdnConfig;
using TesselSDK::FindBitrateProfile;

namespace {

CdnConfig Parse(const std::string& body) { return TesselSDK::ParseCdnConfig(body, "GAME"); }

// The rows as one text: ws|turn|event|windows|enable|dsn|collect|profiles.
std::string Rows(const CdnConfig& c) {
    return c.webSocketUrl + "|" + c.turnApiUrl + "|" + c.eventApiUrl + "|" + c.windowsEventsApiUrl + "|" +
           (c.sentryEnable ? "on" : "off") + "|" + c.sentryDsn + "|" + std::to_string(c.sqm.metric_collect_interval_s) +
           "|" + std::to_string(c.bitrateProfiles.size());
}

// A document with every row, whose bitrate section is `unreal`.
std::string Document(const std::string& unreal) {
    return R"({"virivizar_ss":{"ws":{"kr":"ws.host"}},
               "virivizar_turn":{"api":{"kr":"https://turn"}},
               "virivizar_event":{"api":{"kr":"https://event"}},
               "virivizar_windows_events":{"api":{"kr":"https://win"}},
               "virivizar_sentry":{"enable":true,"dsn":"https://k@dsn/1"},
               "virivizar_sqm":{"metric_collect_interval_s":4},
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

TEST(CdnConfigParse, RowsInOrderAndWhereTheParseEnds) {
    const std::string defaults = "||||off||5|0";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", defaults}, {"not json", defaults}, {"{\"a\":1} // comment", defaults},
        {"{\"a\":1} trailing", defaults}, {"[1,2]", defaults}, {"\"text\"", defaults}, {"null", defaults},
        {Document(R"({"AUTO":{}})"), "ws.host|https://turn|https://event|https://win|on|https://k@dsn/1|4|1"},
        // A string row of another type ends the parse: later rows keep their defaults.
        {R"({"virivizar_ss":{"ws":{"kr":"ws.host"}},"virivizar_turn":{"api":{"kr":5}},
            "virivizar_event":{"api":{"kr":"e"}},"virivizar_sentry":{"enable":true,"dsn":"d"},
            "virivizar_sqm":{"metric_collect_interval_s":4},"virivizar_bitrate":{"Unreal":{"AUTO":{}}}})",
         "ws.host||||off||5|0"},
        // A path through a value that is not an object is skipped.
        {R"({"virivizar_ss":"text","virivizar_turn":{"api":[1]},"virivizar_event":{"api":{"kr":"e"}}})",
         "||e||off||5|0"},
        // A non-boolean "enable" is ignored; "dsn_unreal" wins, even when empty.
        {R"({"virivizar_sentry":{"enable":"true","dsn":"d1"}})", "||||off|d1|5|0"},
        {R"({"virivizar_sentry":{"enable":true,"dsn_unreal":"","dsn":"d1"}})", "||||on||5|0"},
        {R"({"virivizar_sentry":{"dsn_unreal":"d2","dsn":"d1"}})", "||||off|d2|5|0"},
        {R"({"virivizar_sentry":{"dsn":7},"virivizar_bitrate":{"Unreal":{"AUTO":{}}}})", defaults},
        // A failing metrics section keeps the rows before it and skips the profiles.
        {R"({"virivizar_ss":{"ws":{"kr":"w"}},"virivizar_sentry":{"enable":true,"dsn":"d"},
            "virivizar_sqm":{"metric_collect_interval_s":"ten"},"virivizar_bitrate":{"Unreal":{"AUTO":{}}}})",
         "w||||on|d|5|0"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.second, Rows(Parse(c.first))) << c.first;
}

TEST(CdnConfigParse, ProfileValues) {
    using Field = std::function<int(const BitrateProfile&)>;
    const Field maxBitrate = [](const BitrateProfile& p) { return p.MaxBitrate; };
    const Field minBitrate = [](const BitrateProfile& p) { return p.MinBitrate; };
    const Field fps = [](const BitrateProfile& p) { return p.Fps; };
    const Field minQp = [](const BitrateProfile& p) { return p.MinQP; };
    const Field maxQp = [](const BitrateProfile& p) { return p.MaxQP; };
    const struct {
        const char* profile;
        Field field;
        int expected;
    } cases[] = {
        {R"({"MaxBitrate":"123"})", maxBitrate, 123},      {R"({"MaxBitrate":"  -45xyz"})", maxBitrate, -45},
        {R"({"MaxBitrate":7.9})", maxBitrate, 7},          {R"({"MinBitrate":-7.9})", minBitrate, -7},
        {R"({"Fps":true})", fps, 1},                       {R"({"MinBitrate":50000000})", minBitrate, 50000000},
        {R"({"Fps":-3})", fps, -3},                        {R"({"MaxBitrate":2147483647})", maxBitrate, 2147483647},
        {R"({"MinBitrate":-2147483648})", minBitrate, -2147483647 - 1},
        {R"({})", maxBitrate, 20000000},                   {R"({})", minBitrate, 10000000},
        {R"({})", fps, 60},
        // The quantisers keep their defaults outside 0..51.
        {R"({"MinQP":-1})", minQp, 20},                    {R"({"MaxQP":52})", maxQp, 40},
        {R"({"MinQP":0})", minQp, 0},                      {R"({"MaxQP":51})", maxQp, 51},
        {R"({"MinQP":"30"})", minQp, 30},                  {R"({"MaxQP":51.9})", maxQp, 51},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, c.field(Profile(Parse(Document(std::string(R"({"P":)") + c.profile + "}")), "P")))
            << c.profile;
    }
}

TEST(CdnConfigParse, FailedConversionEndsTheParseKeepingEarlierProfiles) {
    // Members are read in document order; "b" raises, so "c" is never read.
    for (const char* bad : {R"("MaxBitrate":"letters")", R"("MaxBitrate":"99999999999")", R"("MaxBitrate":null)",
                            R"("MaxBitrate":[1])", R"("MaxBitrate":{})", R"("MaxBitrate":2147483648)",
                            R"("MaxBitrate":-2147483649)", R"("MaxBitrate":1e300)", R"("MinQP":3000000000)",
                            R"("MinQP":null)"}) {
        const CdnConfig c = Parse(Document(std::string(R"({"a":{"Fps":1},"b":{"Fps":2,)") + bad + R"(},"c":{}})"));
        EXPECT_EQ("a", c.bitrateProfiles.size() == 1 ? c.bitrateProfiles.begin()->first : "?") << bad;
        EXPECT_EQ("ws.host", c.webSocketUrl);
    }
}

TEST(CdnConfigParse, EnumStringsAndProfileContainers) {
    CdnConfig c = Parse(Document(R"({
        "all":{"H264Profile":"BASELINE","Multipass":"FULL","EncoderPreset":"ULTRA_LOW_LATENCY",
               "RateControl":"ConstQP","DegradationPreference":"BALANCED"},
        "wrong":{"H264Profile":"high","Multipass":1,"EncoderPreset":null,"RateControl":"cbr",
                 "DegradationPreference":["BALANCED"],"Fps":25},
        "n":5,"arr":[1]})"));
    EXPECT_EQ(2u, c.bitrateProfiles.size()) << "entries that are not objects are skipped";
    const auto& all = Profile(c, "all");
    EXPECT_EQ("BASELINE FULL ULTRA_LOW_LATENCY ConstQP BALANCED",
              all.H264Profile + " " + all.Multipass + " " + all.EncoderPreset + " " + all.RateControl + " " +
                  all.DegradationPreference);
    const auto& wrong = Profile(c, "wrong");
    EXPECT_EQ("HIGH DISABLED LOW_QUALITY CBR MAINTAIN_FRAMERATE",
              wrong.H264Profile + " " + wrong.Multipass + " " + wrong.EncoderPreset + " " + wrong.RateControl + " " +
                  wrong.DegradationPreference);
    EXPECT_EQ(25, wrong.Fps) << "the parse goes on after an unknown value";

    // An array names its object elements by position.
    c = Parse(Document(R"([{"Fps":10},7,{"Fps":12}])"));
    EXPECT_EQ(2u, c.bitrateProfiles.size());
    EXPECT_EQ(10, Profile(c, "0").Fps);
    EXPECT_EQ(12, Profile(c, "2").Fps);
    for (const char* v : {R"("AUTO")", "3", "true", "null"}) {
        EXPECT_EQ("ws.host|https://turn|https://event|https://win|on|https://k@dsn/1|4|0", Rows(Parse(Document(v))));
    }
}

TEST(CdnConfigLookup, NamedProfileThenAutoFallback) {
    CdnConfig c;
    EXPECT_EQ(nullptr, FindBitrateProfile(c, nullptr));
    c.bitrateProfiles["LOW"].Fps = 30;
    EXPECT_EQ(nullptr, FindBitrateProfile(c, "HIGH"));
    EXPECT_EQ(nullptr, FindBitrateProfile(c, nullptr));
    EXPECT_EQ(&c.bitrateProfiles["LOW"], FindBitrateProfile(c, "LOW"));
    c.bitrateProfiles["AUTO"].Fps = 60;
    EXPECT_EQ(&c.bitrateProfiles["AUTO"], FindBitrateProfile(c, nullptr));
    EXPECT_EQ(&c.bitrateProfiles["AUTO"], FindBitrateProfile(c, "low"));  // case matters
    EXPECT_EQ(2u, c.bitrateProfiles.size());                              // lookups never insert
}
