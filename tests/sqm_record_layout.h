// Member layout of the metric records: every member present, in order.
#pragma once

#include <string>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace sqmtest {

// A layout is a JSON value: an object lists the members the value must have,
// exactly and in order (a leading "?" member lets the value be null as a
// whole); an array of one element describes every element of an array value;
// any other layout value accepts any value.
inline void ExpectLayout(const nlohmann::ordered_json& layout, const nlohmann::ordered_json& value,
                         const std::string& path = "$") {
    if (layout.is_array()) {
        ASSERT_TRUE(value.is_array()) << path;
        for (const auto& element : value) ExpectLayout(layout[0], element, path + "[]");
    } else if (layout.is_object()) {
        if (value.is_null() && layout.contains("?")) return;
        ASSERT_TRUE(value.is_object()) << path << " is " << value.dump();
        std::string want, got;
        for (auto it = layout.begin(); it != layout.end(); ++it) want += it.key() == "?" ? "" : it.key() + " ";
        for (auto it = value.begin(); it != value.end(); ++it) got += it.key() + " ";
        ASSERT_EQ(want, got) << path;
        for (auto it = value.begin(); it != value.end(); ++it) ExpectLayout(layout[it.key()], *it, path + "." + it.key());
    }
}

inline nlohmann::ordered_json MetricObjectLayout() {
    return nlohmann::ordered_json::parse(R"({"timestamp":0,"seq_no":0,"offset_time_ms":0,
        "media_pipeline_metric":{"frames_encoded":0,"total_encode_time_s":0,"qp_sum":0,"key_frames_encoded":0,
            "total_encoded_bytes_target":0,"encoder_implementation":0,"power_efficient_encoder":0,
            "scalability_mode":0,"frames_per_second":0,"frames_sent":0,"frame_width":0,"frame_height":0,
            "huge_frames_sent":0,"target_bitrate_bps":0,"quality_limitation_reason":0,
            "quality_limitation_resolution_changes":0,
            "quality_limitation_durations":{"none":0,"cpu":0,"bandwidth":0,"other":0},
            "total_packet_send_delay":0,"jitter_s":0,"retransmitted_packets_sent":0,"retransmitted_bytes_sent":0,
            "fraction_lost":0,"nack_count":0,"pli_count":0,"fir_count":0},
        "network_stability_metric":{"current_rtt_s":0,"total_rtt_s":0,"rtt_measurements":0,"bytes_sent":0,
            "packets_sent":0,"packets_lost":0,"available_outgoing_bitrate_bps":0,"available_incoming_bitrate_bps":0},
        "system_resource_metric":{"cpu_usage_percent":0,"gpu_usage_percent":0,"battery_level_percent":0}})");
}

// Checks the envelope and the layout of the record's kind.
inline void ExpectRecordLayout(const nlohmann::ordered_json& record) {
    using Json = nlohmann::ordered_json;
    Json layout = Json::parse(
        R"({"streamer_id":0,"player_id":0,"client_type":0,"game_id":0,"action_type":0,"time_zone":0})");
    const std::string action = record.value("action_type", "");
    if (action == "START_STREAMING") {
        layout["action_data"] = Json::parse(R"({"streaming_start_time_ms":0,"streaming_init_duration_ms":0,
            "device_metric":{"os_name":0,"os_version":0,"cpu_name":0,"gpu_name":0,"memory_capacity_gb":0,
                "gpu_memory_capacity_gb":0,"screen_width":0,"screen_height":0,"device_model":0,"device_type":0},
            "client_metric":{"client_version":0,"engine_version":0},
            "streaming_metric":{"qp":0,"min_bitrate":0,"max_bitrate":0,
                "video_codec":{"?":0,"mime_type":0,"clock_rate_hz":0,"sdp_fmtp_line":0},
                "audio_codec":{"?":0,"mime_type":0,"clock_rate_hz":0,"sdp_fmtp_line":0}},
            "network_metric":{"network_type":0,"connection_type":0,
                "local_candidate":{"type":0,"ip":0,"vpn":0,"network_type":0,"relay_protocol":0},
                "remote_candidate":{"type":0,"ip":0,"port":0,"network_type":0,"protocol":0,"relay_protocol":0},
                "isp":0},
            "geo_metric":{"country":0,"city":0}})");
    } else if (action == "DURING_STREAMING") {
        layout["action_data"] = Json{{"data", Json::array({MetricObjectLayout()})}};
    } else {
        EXPECT_EQ("END_STREAMING", action);
        layout["action_data"] = Json{{"streaming_end_time_ms", 0}, {"streaming_session_duration_ms", 0},
                                     {"data", Json::array({MetricObjectLayout()})}};
    }
    ExpectLayout(layout, record);
    EXPECT_EQ("2", record["client_type"]);
}

}  // namespace sqmtest
