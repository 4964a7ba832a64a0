#include <gtest/gtest.h>

#include "sqm_record_layout.h"
#include "sqm_test_host.h"

using namespace sqmtest;
using TesselSDK::SQM;
using TesselSDK::SqmTestAccess;

namespace {

// Starts a session with no delay and returns the START record built from report.
Json StartRecord(FakeHost& host, SQM& sqm, const std::string& report) {
    sqm.OnStreamingStart("p1", "ethernet");
    host.AdvanceSeconds(1);
    sqm.PushWebRTCStatsReport("p1", report.c_str());
    auto posts = host.PostsOf("START_STREAMING");
    return posts.empty() ? Json() : posts.back().Record();
}

}  // namespace

TEST(SqmStartRecord, CarriesDeviceCodecIceAndGeoFacts) {
    FakeHost host;
    auto sqm = MakeCollector(host, EnabledConfig(5, 0, 30));
    host.AdvanceSeconds(1);
    sqm->MarkPlayerConnected();
    host.AdvanceSeconds(2);
    const Json r = StartRecord(host, *sqm, SettledReport(30, 100));
    ASSERT_FALSE(r.is_null());
    ExpectStartLayout(r);
    EXPECT_EQ(R"({"streamer_id":"M1-7-1700","player_id":"M1-7-1700-p1","client_type":"2","game_id":"GAME_KR",)"
              R"("action_type":"START_STREAMING","time_zone":"+09:00","action_data":)",
              r.dump().substr(0, r.dump().find("{\"streaming_start")));
    const Json& a = r["action_data"];
    EXPECT_EQ(2000, a["streaming_init_duration_ms"]);
    EXPECT_EQ("Windows", a["device_metric"]["os_name"]);
    EXPECT_EQ("Test GPU", a["device_metric"]["gpu_name"]);
    EXPECT_EQ(2560, a["device_metric"]["screen_width"]);
    // A float reading is widened, not rounded to its decimal text.
    EXPECT_EQ(static_cast<double>(15.9f), a["device_metric"]["memory_capacity_gb"].get<double>());
    EXPECT_EQ("1.2.3", a["client_metric"]["client_version"]);
    EXPECT_EQ("Unreal-5.6", a["client_metric"]["engine_version"]);
    const Json& st = a["streaming_metric"];
    EXPECT_EQ(3, st["qp"]);
    EXPECT_EQ(10000000, st["min_bitrate"]);
    EXPECT_EQ(20000000, st["max_bitrate"]);
    EXPECT_EQ((Json{{"mime_type", "video/VP8"}, {"clock_rate_hz", 90000}, {"sdp_fmtp_line", nullptr}}),
              st["video_codec"]);
    EXPECT_EQ("minptime=10;useinbandfec=1", st["audio_codec"]["sdp_fmtp_line"]);
    const Json& n = a["network_metric"];
    EXPECT_EQ("ethernet", n["network_type"]);
    EXPECT_EQ("ethernet", n["connection_type"]);
    EXPECT_EQ(false, n["local_candidate"]["vpn"]);
    EXPECT_TRUE(n["local_candidate"]["relay_protocol"].is_null());
    EXPECT_EQ(5000, n["remote_candidate"]["port"]);
    EXPECT_TRUE(n["remote_candidate"]["network_type"].is_null());
    EXPECT_EQ("Test ISP", n["isp"]);
    EXPECT_EQ("KR", a["geo_metric"]["country"]);
    EXPECT_EQ("Seoul", a["geo_metric"]["city"]);
}

TEST(SqmStartRecord, ValueRulesAndEmptyProviders) {
    FakeHost host;
    auto callbacks = host.Callbacks();
    callbacks.bitrateConfigFn = [](int& a, int& b, int&) {
        a = 1;
        b = 2;
        return false;
    };
    callbacks.memoryCapacityFn = nullptr;
    callbacks.httpGetFn = nullptr;
    callbacks.envFn = nullptr;
    callbacks.screenSizeFn = nullptr;
    auto sqm = MakeCollector(host, EnabledConfig(5, 0, 30), callbacks);
    const std::string report = "{\"stats\":[{\"type\":\"codec\",\"members\":{\"mimeType\":\"audio/op\xff\"}}]}";
    // The report holds invalid UTF-8 and is rejected by the parser.
    sqm->OnStreamingStart("p1", "");
    host.AdvanceSeconds(1);
    sqm->PushWebRTCStatsReport("p1", report.c_str());
    EXPECT_TRUE(host.Posts().empty());

    const std::string clean =
        Report({{"codec", Json{{"mimeType", "audio/opus"}, {"clockRate", "48k"}}},
                {"local-candidate", Json{{"candidateType", "host"}, {"vpn", "TRUE"}}},
                {"remote-candidate", Json{{"candidateType", "host"}, {"port", " 99999999999"}}},
                {"outbound-rtp", Json{{"kind", "video"}, {"framesEncoded", 2}, {"qpSum", -7}}}});
    host.AdvanceSeconds(1);
    sqm->PushWebRTCStatsReport("p1", clean.c_str());
    ASSERT_EQ(1u, host.Posts().size());
    const Json r = host.Posts()[0].Record();
    ExpectStartLayout(r);
    const Json& a = r["action_data"];
    EXPECT_TRUE(a["streaming_init_duration_ms"].is_null());  // never connected
    EXPECT_EQ("", r["game_id"]);
    EXPECT_TRUE(a["device_metric"]["memory_capacity_gb"].is_null());
    EXPECT_EQ(0, a["device_metric"]["screen_width"]);
    EXPECT_EQ(-3, a["streaming_metric"]["qp"]);
    EXPECT_TRUE(a["streaming_metric"]["min_bitrate"].is_null());
    EXPECT_TRUE(a["streaming_metric"]["max_bitrate"].is_null());
    EXPECT_TRUE(a["streaming_metric"]["video_codec"].is_null());
    EXPECT_EQ(48, a["streaming_metric"]["audio_codec"]["clock_rate_hz"]);
    EXPECT_EQ(false, a["network_metric"]["local_candidate"]["vpn"]);
    EXPECT_TRUE(a["network_metric"]["remote_candidate"]["port"].is_null());  // beyond 32 bits
    EXPECT_TRUE(a["network_metric"]["isp"].is_null());
    EXPECT_TRUE(a["geo_metric"]["country"].is_null());
}

TEST(SqmStartRecord, UnconvertibleClockRateGivesNullAndNeverThrows) {
    FakeHost host;
    auto sqm = MakeCollector(host, EnabledConfig(5, 0, 30));
    const std::string report =
        Report({{"codec", Json{{"mimeType", "video/H264"}, {"clockRate", "fast"}}},
                {"remote-candidate", Json{{"candidateType", "relay"}}}});
    const Json r = StartRecord(host, *sqm, report);
    ASSERT_FALSE(r.is_null());
    EXPECT_TRUE(r["action_data"]["streaming_metric"]["video_codec"]["clock_rate_hz"].is_null());
    EXPECT_TRUE(r["action_data"]["streaming_metric"]["qp"].is_null());
}

TEST(SqmStartRecord, InvalidUtf8FromProvidersIsReplaced) {
    FakeHost host;
    auto callbacks = host.Callbacks();
    callbacks.envFn = [](const char*) { return std::string("G\xE9ME"); };  // a legacy code page
    callbacks.cpuNameFn = [] { return std::string("CPU\xFF"); };
    auto sqm = MakeCollector(host, EnabledConfig(0, 0, 0), callbacks);
    const Json r = StartRecord(host, *sqm, SettledReport());
    ASSERT_FALSE(r.is_null());
    EXPECT_EQ("G\xEF\xBF\xBDME", r["game_id"]);
    EXPECT_EQ("CPU\xEF\xBF\xBD", r["action_data"]["device_metric"]["cpu_name"]);
    // The DURING and END records go through the same serialisation.
    host.AdvanceSeconds(1);
    sqm->PushWebRTCStatsReport("p1", "");
    sqm->OnStreamingEnd("p1", "");
    EXPECT_EQ(1u, host.PostsOf("END_STREAMING").size());
    EXPECT_GE(host.PostsOf("DURING_STREAMING").size(), 1u);
}

TEST(SqmSample, StatisticsAndLoadValues) {
    FakeHost host;
    auto callbacks = host.Callbacks();
    callbacks.gpuUsageFn = nullptr;
    auto sqm = MakeCollector(host, EnabledConfig(), callbacks);
    // Before any statistics: every member null, nothing numbered.
    Json empty = SqmTestAccess::Sample(*sqm, 5)["metric_object"];
    ExpectMetricObject(empty);
    EXPECT_EQ(0, empty["seq_no"]);
    EXPECT_TRUE(empty["media_pipeline_metric"]["frames_encoded"].is_null());
    EXPECT_EQ((Json{{"none", nullptr}, {"cpu", nullptr}, {"bandwidth", nullptr}, {"other", nullptr}}),
              empty["media_pipeline_metric"]["quality_limitation_durations"]);
    EXPECT_EQ(static_cast<double>(33.3f), empty["system_resource_metric"]["cpu_usage_percent"].get<double>());
    EXPECT_TRUE(empty["system_resource_metric"]["gpu_usage_percent"].is_null());
    EXPECT_TRUE(empty["system_resource_metric"]["battery_level_percent"].is_null());

    sqm->PushWebRTCStatsReport(
        "", Report({{"", Json{{"frameWidth", "1280.0"}, {"roundTripTime", "0.012"}, {"powerEfficientEncoder", "yes"},
                              {"encoderImplementation", ""}, {"framesPerSecond", 5},
                              {"qualityLimitationDurations", "{bandwidth:0,cpu:1.5,none:30.25,other:0}"}}}})
                .c_str());
    sqm->OnStreamingStart("p", "");
    host.Advance(std::chrono::milliseconds(1234));
    const Json m = SqmTestAccess::Sample(*sqm, 77)["metric_object"];
    EXPECT_EQ(77, m["timestamp"]);
    EXPECT_EQ(1, m["seq_no"]);
    EXPECT_EQ(1234, m["offset_time_ms"]);
    const Json& media = m["media_pipeline_metric"];
    EXPECT_EQ(1280, media["frame_width"]);
    EXPECT_TRUE(media["power_efficient_encoder"].is_null());
    EXPECT_TRUE(media["encoder_implementation"].is_null());
    EXPECT_EQ("{\"none\":30.25,\"cpu\":1.5,\"bandwidth\":0.0,\"other\":0.0}",
              media["quality_limitation_durations"].dump());
    EXPECT_EQ("5.0", media["frames_per_second"].dump());
    EXPECT_EQ(Json(0.012), m["network_stability_metric"]["current_rtt_s"]);
    EXPECT_EQ(2, SqmTestAccess::Sample(*sqm, 78)["metric_object"]["seq_no"]);
}

TEST(SqmSample, QualityLimitationDurationTexts) {
    struct Case {
        const char* stored;
        const char* expected;
    };
    const Case cases[] = {
        {R"({"bandwidth":0.0,"cpu":1.5,"none":30.25,"other":0.0})",
         R"({"none":30.25,"cpu":1.5,"bandwidth":0.0,"other":0.0})"},
        {"{ none : 1 ,  cpu: 2}", R"({"none":1.0,"cpu":2.0,"bandwidth":null,"other":null})"},
        {R"({"cpu":"1.5","none":true,"other":[1],"bandwidth":2})",
         R"({"none":null,"cpu":null,"bandwidth":2.0,"other":null})"},
        {R"({"cpu": 1.5,)", R"({"none":null,"cpu":null,"bandwidth":null,"other":null})"},
        {"[1,2]", R"({"none":null,"cpu":null,"bandwidth":null,"other":null})"},
        {"{}", R"({"none":null,"cpu":null,"bandwidth":null,"other":null})"},
    };
    for (const auto& c : cases) {
        FakeHost host;
        auto sqm = MakeCollector(host);
        sqm->PushWebRTCStatsReport("", Report({{"", Json{{"qualityLimitationDurations", c.stored}}}}).c_str());
        EXPECT_EQ(c.expected,
                  SqmTestAccess::Sample(*sqm, 1)["metric_object"]["media_pipeline_metric"]
                                                  ["quality_limitation_durations"]
                                                      .dump())
            << c.stored;
    }
}

TEST(SqmRecords, RealSessionRecordsAreCompleteJson) {
    const auto lines = SequenceLines();
    ASSERT_EQ(110u, lines.size());
    FakeHost host;
    auto sqm = MakeCollector(host, EnabledConfig(5, 10, 30));
    sqm->MarkPlayerConnected();
    host.AdvanceSeconds(2);
    sqm->OnStreamingStart("viewer", "wifi");
    for (const auto& line : lines) {
        host.AdvanceSeconds(1);
        sqm->PushWebRTCStatsReport("viewer", line.c_str());
    }
    sqm->OnStreamingEnd("viewer", nullptr);
    const auto posts = host.Posts();
    ASSERT_EQ(1u, host.PostsOf("START_STREAMING").size());
    ASSERT_EQ(1u, host.PostsOf("END_STREAMING").size());
    ASSERT_GE(host.PostsOf("DURING_STREAMING").size(), 2u);
    long long lastSeq = 0;
    for (const auto& p : posts) {
        const Json r = p.Record();
        const std::string action = r["action_type"];
        if (action == "START_STREAMING") {
            ExpectStartLayout(r);
            const Json& st = r["action_data"]["streaming_metric"];
            EXPECT_EQ("video/rtx", st["video_codec"]["mime_type"]);
            EXPECT_EQ("audio/G722", st["audio_codec"]["mime_type"]);
            EXPECT_TRUE(st["qp"].is_number_integer());
            EXPECT_EQ("host", r["action_data"]["network_metric"]["local_candidate"]["type"]);
            EXPECT_EQ(2000, r["action_data"]["streaming_init_duration_ms"]);
        } else {
            action == "DURING_STREAMING" ? ExpectDuringLayout(r) : ExpectEndLayout(r);
            for (const auto& m : r["action_data"]["data"]) {
                EXPECT_EQ(lastSeq + 1, m["seq_no"]);
                lastSeq = m["seq_no"];
                const Json& media = m["media_pipeline_metric"];
                EXPECT_TRUE(media["frames_encoded"].is_number_integer());
                EXPECT_EQ(1280, media["frame_width"]);
                EXPECT_EQ("libvpx", media["encoder_implementation"]);
                EXPECT_TRUE(media["quality_limitation_durations"]["bandwidth"].is_number_float());
                EXPECT_TRUE(media["target_bitrate_bps"].is_null());
                EXPECT_TRUE(m["network_stability_metric"]["available_incoming_bitrate_bps"].is_null());
            }
        }
    }
    EXPECT_EQ(23, lastSeq);  // 22 samples in 110 s, then the END's own
}
