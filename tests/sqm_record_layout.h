// Expected member layout of the metric records, for the collector's tests.
#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace sqmtest {

inline std::vector<std::string> Keys(const nlohmann::ordered_json& object) {
    std::vector<std::string> keys;
    if (!object.is_object()) return keys;
    for (auto it = object.begin(); it != object.end(); ++it) keys.push_back(it.key());
    return keys;
}

using KeyList = std::vector<std::string>;

inline void ExpectEnvelope(const nlohmann::ordered_json& r, const std::string& action) {
    EXPECT_EQ((KeyList{"streamer_id", "player_id", "client_type", "game_id", "action_type", "time_zone",
                       "action_data"}),
              Keys(r));
    EXPECT_EQ("2", r["client_type"]);
    EXPECT_EQ(action, r["action_type"]);
}

inline void ExpectMetricObject(const nlohmann::ordered_json& m) {
    EXPECT_EQ((KeyList{"timestamp", "seq_no", "offset_time_ms", "media_pipeline_metric", "network_stability_metric",
                       "system_resource_metric"}),
              Keys(m));
    EXPECT_EQ((KeyList{"frames_encoded", "total_encode_time_s", "qp_sum", "key_frames_encoded",
                       "total_encoded_bytes_target", "encoder_implementation", "power_efficient_encoder",
                       "scalability_mode", "frames_per_second", "frames_sent", "frame_width", "frame_height",
                       "huge_frames_sent", "target_bitrate_bps", "quality_limitation_reason",
                       "quality_limitation_resolution_changes", "quality_limitation_durations",
                       "total_packet_send_delay", "jitter_s", "retransmitted_packets_sent",
                       "retransmitted_bytes_sent", "fraction_lost", "nack_count", "pli_count", "fir_count"}),
              Keys(m["media_pipeline_metric"]));
    EXPECT_EQ((KeyList{"none", "cpu", "bandwidth", "other"}),
              Keys(m["media_pipeline_metric"]["quality_limitation_durations"]));
    EXPECT_EQ((KeyList{"current_rtt_s", "total_rtt_s", "rtt_measurements", "bytes_sent", "packets_sent",
                       "packets_lost", "available_outgoing_bitrate_bps", "available_incoming_bitrate_bps"}),
              Keys(m["network_stability_metric"]));
    EXPECT_EQ((KeyList{"cpu_usage_percent", "gpu_usage_percent", "battery_level_percent"}),
              Keys(m["system_resource_metric"]));
}

inline void ExpectStartLayout(const nlohmann::ordered_json& r) {
    ExpectEnvelope(r, "START_STREAMING");
    const auto& a = r["action_data"];
    EXPECT_EQ((KeyList{"streaming_start_time_ms", "streaming_init_duration_ms", "device_metric", "client_metric",
                       "streaming_metric", "network_metric", "geo_metric"}),
              Keys(a));
    EXPECT_EQ((KeyList{"os_name", "os_version", "cpu_name", "gpu_name", "memory_capacity_gb",
                       "gpu_memory_capacity_gb", "screen_width", "screen_height", "device_model", "device_type"}),
              Keys(a["device_metric"]));
    EXPECT_EQ((KeyList{"client_version", "engine_version"}), Keys(a["client_metric"]));
    EXPECT_EQ((KeyList{"qp", "min_bitrate", "max_bitrate", "video_codec", "audio_codec"}),
              Keys(a["streaming_metric"]));
    for (const char* codec : {"video_codec", "audio_codec"}) {
        if (!a["streaming_metric"][codec].is_null()) {
            EXPECT_EQ((KeyList{"mime_type", "clock_rate_hz", "sdp_fmtp_line"}), Keys(a["streaming_metric"][codec]));
        }
    }
    EXPECT_EQ((KeyList{"network_type", "connection_type", "local_candidate", "remote_candidate", "isp"}),
              Keys(a["network_metric"]));
    EXPECT_EQ((KeyList{"type", "ip", "vpn", "network_type", "relay_protocol"}),
              Keys(a["network_metric"]["local_candidate"]));
    EXPECT_EQ((KeyList{"type", "ip", "port", "network_type", "protocol", "relay_protocol"}),
              Keys(a["network_metric"]["remote_candidate"]));
    EXPECT_EQ((KeyList{"country", "city"}), Keys(a["geo_metric"]));
}

inline void ExpectDuringLayout(const nlohmann::ordered_json& r) {
    ExpectEnvelope(r, "DURING_STREAMING");
    EXPECT_EQ((KeyList{"data"}), Keys(r["action_data"]));
    ASSERT_TRUE(r["action_data"]["data"].is_array());
    for (const auto& m : r["action_data"]["data"]) ExpectMetricObject(m);
}

inline void ExpectEndLayout(const nlohmann::ordered_json& r) {
    ExpectEnvelope(r, "END_STREAMING");
    EXPECT_EQ((KeyList{"streaming_end_time_ms", "streaming_session_duration_ms", "data"}), Keys(r["action_data"]));
    ASSERT_TRUE(r["action_data"]["data"].is_array());
    for (const auto& m : r["action_data"]["data"]) ExpectMetricObject(m);
}

}  // namespace sqmtest
