#include <gtest/gtest.h>

#include "sqm_test_host.h"
#include "tesselsdk_endpoints.h"

using namespace sqmtest;
using TesselSDK::SqmTestAccess;

TEST(SqmGeo, AnswerRules) {
    const struct { int status; const char* body; bool ready; const char* country; const char* city;
                   const char* isp; } cases[] = {
        {200, R"({"status":"success","countryCode":"KR","city":"Seoul","isp":"ISP"})", true, "KR", "Seoul", "ISP"},
        {200, R"({"status":"fail","message":"private range"})", true, "", "", ""},
        {200, R"([1,2])", true, "", "", ""},
        {200, R"({"countryCode":null,"city":"Seoul"})", false, "", "", ""},
        {200, R"({"countryCode":"JP","city":5,"isp":"x"})", false, "JP", "", ""},  // stops at the bad member
        {200, "not json", false, "", "", ""},
        {503, R"({"countryCode":"KR"})", false, "", "", ""},
        {0, "Failed to connect", false, "", "", ""},
    };
    for (const auto& c : cases) {
        FakeHost host;
        host.geoStatus = c.status;
        host.geoBody = c.body;
        auto sqm = MakeCollector(host);
        sqm->OnStreamingStart("p", "");
        const auto& geo = SqmTestAccess::Impl(*sqm).geo;
        EXPECT_EQ(c.ready, geo.ready) << c.body;
        EXPECT_EQ(c.country, geo.countryCode) << c.body;
        EXPECT_EQ(c.city, geo.city) << c.body;
        EXPECT_EQ(c.isp, geo.isp) << c.body;
        EXPECT_EQ(0, host.CountLogs(1, "")) << c.body;  // lookups are silent
    }
}

TEST(SqmGeo, AskedAtStartsUntilOneAnswerIsStored) {
    FakeHost host;
    host.geoStatus = 500;
    auto sqm = MakeCollector(host);
    sqm->OnStreamingStart("p", "");
    sqm->OnStreamingStart("p", "");
    EXPECT_EQ(2, host.geoCount);
    EXPECT_EQ(std::string(TESSELSDK_GEO_URL) + "/json?fields=status,countryCode,city,isp", host.geoUrl);
    host.geoStatus = 200;
    sqm->OnStreamingStart("p", "");
    host.geoBody = R"({"countryCode":"US"})";
    sqm->OnStreamingEnd("p", "");
    sqm->OnStreamingStart("p", "");
    EXPECT_EQ(3, host.geoCount);  // never asked again once stored
    EXPECT_EQ("KR", SqmTestAccess::Impl(*sqm).geo.countryCode);

    // No GET provider, or metrics off: no lookup.
    auto callbacks = host.Callbacks();
    callbacks.httpGetFn = nullptr;
    MakeCollector(host, EnabledConfig(), callbacks)->OnStreamingStart("p", "");
    MakeCollector(host, TesselSDK::SqmConfig())->OnStreamingStart("p", "");
    EXPECT_EQ(3, host.geoCount);
}
