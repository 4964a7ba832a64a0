#include <gtest/gtest.h>

#include "net/http_client.h"
#include "sqm_test_host.h"
#include "tesselsdk_endpoints.h"
#include "test_support.h"

using namespace sqmtest;
using TesselSDK::SqmTestAccess;

namespace {

struct GeoCase {
    int status;
    const char* body;
    bool ready;
    const char* country;
    const char* city;
    const char* isp;
};

}  // namespace

TEST(SqmGeo, AnswerRules) {
    const GeoCase cases[] = {
        {200, R"({"status":"success","countryCode":"KR","city":"Seoul","isp":"ISP"})", true, "KR", "Seoul", "ISP"},
        {200, R"({"status":"fail","message":"private range"})", true, "", "", ""},
        {200, R"([1,2])", true, "", "", ""},
        {200, R"({"countryCode":null,"city":"Seoul"})", false, "", "", ""},
        {200, R"({"countryCode":"JP","city":5,"isp":"x"})", false, "JP", "", ""},
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
        // Lookups are silent.
        EXPECT_EQ(0, host.CountLogs(1, "")) << c.body;
    }
}

TEST(SqmGeo, AskedAtStartsUntilOneAnswerIsStored) {
    FakeHost host;
    host.geoStatus = 500;
    auto sqm = MakeCollector(host);
    sqm->OnStreamingStart("p", "");
    sqm->OnStreamingStart("p", "");
    EXPECT_EQ(2, host.geoRequests());
    EXPECT_EQ(std::string(TESSELSDK_GEO_URL) + "/json?fields=status,countryCode,city,isp", host.geoUrl);
    host.geoStatus = 200;
    sqm->OnStreamingStart("p", "");
    EXPECT_EQ(3, host.geoRequests());
    host.geoBody = R"({"countryCode":"US"})";
    sqm->OnStreamingStart("p", "");
    sqm->OnStreamingEnd("p", "");
    sqm->OnStreamingStart("p", "");
    EXPECT_EQ(3, host.geoRequests());  // never asked again once stored
    EXPECT_EQ("KR", SqmTestAccess::Impl(*sqm).geo.countryCode);

    // No GET provider, or metrics off: no lookup.
    auto callbacks = host.Callbacks();
    callbacks.httpGetFn = nullptr;
    auto noGet = MakeCollector(host, EnabledConfig(), callbacks);
    noGet->OnStreamingStart("p", "");
    auto off = MakeCollector(host, TesselSDK::SqmConfig());
    off->OnStreamingStart("p", "");
    EXPECT_EQ(3, host.geoRequests());
}

TEST(SqmGeoWire, LookupThroughTheHttpClient) {
    testsupport::ResetServer();
    FakeHost host;
    auto callbacks = host.Callbacks();
    callbacks.httpGetFn = [](const std::string& url, std::function<void(int, const std::string&)> done) {
        TesselSDK::HttpGet(url, std::move(done));
    };
    auto sqm = MakeCollector(host, EnabledConfig(), callbacks);
    sqm->OnStreamingStart("p", "");
    const auto reqs = testsupport::Requests("/geo");
    ASSERT_EQ(1u, reqs.size());
    EXPECT_EQ("GET", reqs[0].method);
    EXPECT_EQ("/geo/json?fields=status,countryCode,city,isp", reqs[0].path);
    EXPECT_TRUE(SqmTestAccess::Impl(*sqm).geo.ready);
    EXPECT_EQ("Seoul", SqmTestAccess::Impl(*sqm).geo.city);
}
