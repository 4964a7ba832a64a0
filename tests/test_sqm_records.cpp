#include <gtest/gtest.h>

#include "sqm_record_layout.h"
#include "sqm_test_host.h"

using namespace sqmtest;
using TesselSDK::SQM;
using TesselSDK::SqmTestAccess;

namespace {

// Starts a session (push delay 0), pushes report a second later and returns
// the posted START_STREAMING record text ("" when none was posted).
std::string StartRecord(FakeHost& host, SQM& sqm, const std::string& report) {
    sqm.OnStreamingStart("p1", "wifi");
    host.AdvanceSeconds(1);
    sqm.PushWebRTCStatsReport("p1", report.c_str());
    const auto posts = host.PostsOf("START_STREAMING");
    return posts.empty() ? std::string() : posts.back().body;
}

}  // namespace

TEST(SqmStartRecord, WholeRecord) {
    FakeHost host;
    auto sqm = MakeCollector(host, EnabledConfig(5, 0, 30));
    host.AdvanceSeconds(1);
    sqm->MarkPlayerConnected();
    host.AdvanceSeconds(2);
    const std::string start = std::to_string(host.Now());
    // Compact, in member order; floats widened (15.9f), "qp" = 100 / 30.
    EXPECT_EQ(R"({"streamer_id":"M1-7-1700","player_id":"M1-7-1700-p1","client_type":"2","game_id":"GAME_KR",)"
              R"("action_type":"START_STREAMING","time_zone":"+09:00","action_data":{"streaming_start_time_ms":)" +
                  start + R"(,"streaming_init_duration_ms":2000,"device_metric":{"os_name":"Windows",)"
                  R"("os_version":"10.0.22631","cpu_name":"Test CPU","gpu_name":"Test GPU",)"
                  R"("memory_capacity_gb":15.899999618530273,"gpu_memory_capacity_gb":8.0,"screen_width":2560,)"
                  R"("screen_height":1440,"device_model":"Model X","device_type":"Desktop"},"client_metric":)"
                  R"({"client_version":"1.2.3","engine_version":"Unreal-5.6"},"streaming_metric":{"qp":3,)"
                  R"("min_bitrate":10000000,"max_bitrate":20000000,"video_codec":{"mime_type":"video/VP8",)"
                  R"("clock_rate_hz":90000,"sdp_fmtp_line":null},"audio_codec":{"mime_type":"audio/opus",)"
                  R"("clock_rate_hz":48000,"sdp_fmtp_line":"minptime=10;useinbandfec=1"}},"network_metric":)"
                  R"({"network_type":"ethernet","connection_type":"wifi","local_candidate":{"type":"host",)"
                  R"("ip":"10.0.0.2","vpn":false,"network_type":"ethernet","relay_protocol":null},)"
                  R"("remote_candidate":{"type":"srflx","ip":"1.2.3.4","port":5000,"network_type":null,)"
                  R"("protocol":"udp","relay_protocol":null},"isp":"Test ISP"},"geo_metric":{"country":"KR",)"
                  R"("city":"Seoul"}}})",
              StartRecord(host, *sqm, SettledReport(30, 100)));
}

TEST(SqmStartRecord, NullRulesAndEmptyProviders) {
    FakeHost host;
    auto callbacks = host.Callbacks();
    callbacks.bitrateConfigFn = [](int& a, int& b, int&) { return a = 1, b = 2, false; };
    callbacks.memoryCapacityFn = nullptr;
    callbacks.httpGetFn = nullptr;
    callbacks.envFn = nullptr;
    callbacks.screenSizeFn = nullptr;
    // Invalid UTF-8 (a legacy code page) is replaced, never thrown.
    callbacks.cpuNameFn = [] { return std::string("CPU\xFF"); };
    callbacks.timeZoneFn = [] { return std::string("+09\xFF"); };
    auto sqm = MakeCollector(host, EnabledConfig(5, 0, 30), callbacks);
    // No codec known (this report is invalid UTF-8 and rejected): no START.
    EXPECT_EQ("", StartRecord(host, *sqm, "{\"stats\":[{\"type\":\"codec\",\"members\":{\"mimeType\":\"a\xff\"}}]}"));
    host.AdvanceSeconds(1);
    sqm->PushWebRTCStatsReport(
        "p1", Report({{"codec", Json{{"mimeType", "audio/opus"}}},
                      {"local-candidate", Json{{"candidateType", "host"}, {"vpn", "TRUE"}}},
                      {"remote-candidate", Json{{"candidateType", "host"}}},
                      {"outbound-rtp", Json{{"kind", "video"}, {"framesEncoded", 2}, {"qpSum", -7}}}})
                  .c_str());
    ASSERT_EQ(1u, host.Posts().size());
    const Json r = host.Posts()[0].Record();
    ExpectRecordLayout(r);
    const Json& a = r["action_data"];
    EXPECT_TRUE(a["streaming_init_duration_ms"].is_null());  // never connected
    EXPECT_EQ("", r["game_id"]);
    EXPECT_EQ("+09\xEF\xBF\xBD", r["time_zone"]);
    EXPECT_EQ(R"({"os_name":"Windows","os_version":"10.0.22631","cpu_name":"CPU)" "\xEF\xBF\xBD"
              R"(","gpu_name":"Test GPU",)"
              R"("memory_capacity_gb":null,"gpu_memory_capacity_gb":8.0,"screen_width":0,"screen_height":0,)"
              R"("device_model":"Model X","device_type":"Desktop"})",
              a["device_metric"].dump());
    EXPECT_EQ(R"({"qp":-3,"min_bitrate":null,"max_bitrate":null,"video_codec":null,"audio_codec":)"
              R"({"mime_type":"audio/opus","clock_rate_hz":null,"sdp_fmtp_line":null}})",
              a["streaming_metric"].dump());
    EXPECT_EQ(false, a["network_metric"]["local_candidate"]["vpn"]);
    EXPECT_TRUE(a["network_metric"]["isp"].is_null());
    EXPECT_EQ(R"({"country":null,"city":null})", a["geo_metric"].dump());
    sqm->OnStreamingEnd("p1", "");  // END goes through the same serialisation
    ASSERT_EQ(2u, host.Posts().size());
    EXPECT_EQ("+09\xEF\xBF\xBD", host.Posts()[1].Record()["time_zone"]);
}

TEST(SqmStartRecord, IntegerTextsOfClockRateAndPortNeverThrow) {
    const struct { const char* text; const char* expected; } cases[] = {
        {"90000", "90000"}, {" 48k", "48"}, {"fast", "null"}, {"99999999999", "null"}, {"", "null"}};
    for (const auto& c : cases) {
        FakeHost host;
        auto sqm = MakeCollector(host, EnabledConfig(5, 0, 30));
        const Json r = Json::parse(StartRecord(
            host, *sqm,
            Report({{"codec", Json{{"mimeType", "video/H264"}, {"clockRate", c.text}}},
                    {"remote-candidate", Json{{"candidateType", "relay"}, {"port", c.text}}}})));
        EXPECT_EQ(c.expected, r["action_data"]["streaming_metric"]["video_codec"]["clock_rate_hz"].dump()) << c.text;
        EXPECT_EQ(c.expected, r["action_data"]["network_metric"]["remote_candidate"]["port"].dump()) << c.text;
        EXPECT_TRUE(r["action_data"]["streaming_metric"]["qp"].is_null());
    }
}

TEST(SqmSample, StatisticsAndLoadValues) {
    FakeHost host;
    auto callbacks = host.Callbacks();
    callbacks.gpuUsageFn = nullptr;
    auto sqm = MakeCollector(host, EnabledConfig(), callbacks);
    // Before any statistics and any start: every statistic null, nothing numbered.
    const Json empty = SqmTestAccess::Sample(*sqm, 5)["metric_object"];
    ExpectLayout(MetricObjectLayout(), empty);
    EXPECT_EQ(5, empty["timestamp"]);
    EXPECT_EQ(0, empty["seq_no"]);
    EXPECT_EQ(0, empty["offset_time_ms"]);
    for (const char* group : {"media_pipeline_metric", "network_stability_metric"}) {
        for (const auto& item : empty[group].items()) {
            EXPECT_TRUE(item.key() == "quality_limitation_durations" || item.value().is_null()) << item.key();
        }
    }
    EXPECT_EQ(R"({"none":null,"cpu":null,"bandwidth":null,"other":null})",
              empty["media_pipeline_metric"]["quality_limitation_durations"].dump());
    EXPECT_EQ(R"({"cpu_usage_percent":33.29999923706055,"gpu_usage_percent":null,"battery_level_percent":null})",
              empty["system_resource_metric"].dump());

    // Each key from its own statistic, converted by its kind.
    sqm->PushWebRTCStatsReport(
        "", Report({{"", Json{{"framesEncoded", 1}, {"totalEncodeTime", 2.5}, {"qpSum", 3}, {"keyFramesEncoded", 4},
                              {"totalEncodedBytesTarget", 5}, {"encoderImplementation", "libvpx"},
                              {"powerEfficientEncoder", "1"}, {"scalabilityMode", "L1T1"}, {"framesPerSecond", 5},
                              {"framesSent", 6}, {"frameWidth", "1280.0"}, {"frameHeight", 720},
                              {"hugeFramesSent", 7}, {"qualityLimitationReason", "cpu"},
                              {"qualityLimitationResolutionChanges", 9}, {"qualityLimitationDurations", {{"cpu", 1.5}}},
                              {"totalPacketSendDelay", 0.25}, {"jitter", 0.5}, {"retransmittedPacketsSent", 10},
                              {"retransmittedBytesSent", 11}, {"fractionLost", 0.125}, {"nackCount", 12},
                              {"pliCount", 13}, {"firCount", 14}, {"roundTripTime", "0.012"},
                              {"totalRoundTripTime", 0.75}, {"roundTripTimeMeasurements", 15}, {"bytesSent", 16},
                              {"packetsSent", 17}, {"packetsLost", 18}, {"availableOutgoingBitrate", 19}}},
                    {"outbound-rtp", Json{{"kind", "video"}, {"targetBitrate", 8}}}})
                .c_str());
    sqm->OnStreamingStart("p", "");
    host.AdvanceMs(1234);
    const Json m = SqmTestAccess::Sample(*sqm, 77)["metric_object"];
    EXPECT_EQ(1, m["seq_no"]);
    EXPECT_EQ(1234, m["offset_time_ms"]);
    EXPECT_EQ(R"({"frames_encoded":1,"total_encode_time_s":2.5,"qp_sum":3,"key_frames_encoded":4,)"
              R"("total_encoded_bytes_target":5,"encoder_implementation":"libvpx","power_efficient_encoder":true,)"
              R"("scalability_mode":"L1T1","frames_per_second":5.0,"frames_sent":6,"frame_width":1280,)"
              R"("frame_height":720,"huge_frames_sent":7,"target_bitrate_bps":8,"quality_limitation_reason":"cpu",)"
              R"("quality_limitation_resolution_changes":9,"quality_limitation_durations":{"none":null,"cpu":1.5,)"
              R"("bandwidth":null,"other":null},"total_packet_send_delay":0.25,"jitter_s":0.5,)"
              R"("retransmitted_packets_sent":10,"retransmitted_bytes_sent":11,"fraction_lost":0.125,"nack_count":12,)"
              R"("pli_count":13,"fir_count":14})",
              m["media_pipeline_metric"].dump());
    EXPECT_EQ(R"({"current_rtt_s":0.012,"total_rtt_s":0.75,"rtt_measurements":15,"bytes_sent":16,"packets_sent":17,)"
              R"("packets_lost":18,"available_outgoing_bitrate_bps":19.0,"available_incoming_bitrate_bps":null})",
              m["network_stability_metric"].dump());

    sqm->PushWebRTCStatsReport(
        "", Report({{"", Json{{"powerEfficientEncoder", "yes"}, {"encoderImplementation", ""}}}}).c_str());
    const Json next = SqmTestAccess::Sample(*sqm, 78)["metric_object"];
    EXPECT_EQ(2, next["seq_no"]);
    EXPECT_TRUE(next["media_pipeline_metric"]["power_efficient_encoder"].is_null());
    EXPECT_TRUE(next["media_pipeline_metric"]["encoder_implementation"].is_null());
}

TEST(SqmSample, QualityLimitationDurationTexts) {
    const struct { const char* stored; const char* expected; } cases[] = {
        {R"({"bandwidth":0.0,"cpu":1.5,"none":30.25,"other":0.0})",
         R"({"none":30.25,"cpu":1.5,"bandwidth":0.0,"other":0.0})"},
        {"{bandwidth:0,cpu:1.5,none:30.25,other:0}", R"({"none":30.25,"cpu":1.5,"bandwidth":0.0,"other":0.0})"},
        {"{ none : 1 ,  cpu: 2}", R"({"none":1.0,"cpu":2.0,"bandwidth":null,"other":null})"},
        {R"({"cpu":"1.5","none":true,"other":[1],"bandwidth":2})",
         R"({"none":null,"cpu":null,"bandwidth":2.0,"other":null})"},
        {R"({"cpu": 1.5,)", R"({"none":null,"cpu":null,"bandwidth":null,"other":null})"},
        {"[1,2]", R"({"none":null,"cpu":null,"bandwidth":null,"other":null})"},
    };
    for (const auto& c : cases) {
        FakeHost host;
        auto sqm = MakeCollector(host);
        sqm->PushWebRTCStatsReport("", Report({{"", Json{{"qualityLimitationDurations", c.stored}}}}).c_str());
        const Json sample = SqmTestAccess::Sample(*sqm, 1);
        EXPECT_EQ(c.expected, sample["metric_object"]["media_pipeline_metric"]["quality_limitation_durations"].dump())
            << c.stored;
    }
}

TEST(SqmRecords, RealSessionRecordsAreCompleteJson) {
    const auto lines = testsupport::ReadLines(DataDir() + "/sequence.jsonl");
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
    ASSERT_EQ(1u, host.PostsOf("START_STREAMING").size());
    ASSERT_EQ(1u, host.PostsOf("END_STREAMING").size());
    ASSERT_GE(host.PostsOf("DURING_STREAMING").size(), 2u);
    long long lastSeq = 0;
    for (const auto& p : host.Posts()) {
        const Json r = p.Record();
        ExpectRecordLayout(r);
        if (r["action_type"] == "START_STREAMING") {
            const Json& st = r["action_data"]["streaming_metric"];
            EXPECT_EQ("video/rtx|audio/G722", st["video_codec"]["mime_type"].get<std::string>() + "|" +
                                                  st["audio_codec"]["mime_type"].get<std::string>());
            EXPECT_TRUE(st["qp"].is_number_integer());
            EXPECT_EQ(2000, r["action_data"]["streaming_init_duration_ms"]);
            continue;
        }
        for (const auto& m : r["action_data"]["data"]) {
            EXPECT_EQ(++lastSeq, m["seq_no"]);
            const Json& media = m["media_pipeline_metric"];
            EXPECT_TRUE(media["frames_encoded"].is_number_integer());
            EXPECT_EQ(1280, media["frame_width"]);
            EXPECT_EQ("libvpx", media["encoder_implementation"]);
            EXPECT_TRUE(media["quality_limitation_durations"]["bandwidth"].is_number_float());
            EXPECT_TRUE(media["target_bitrate_bps"].is_null());
        }
    }
    EXPECT_EQ(23, lastSeq);  // 22 samples in 110 s, then the END's own
}
