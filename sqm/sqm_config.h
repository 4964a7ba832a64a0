// Settings of the streaming-quality-metrics collector and their parser.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace TesselSDK {

struct SqmConfig {
    bool enabled = false;
    std::string api;
    int metric_collect_interval_s = 5;
    int start_streaming_push_delay_s = 60;
    int during_streaming_push_interval_s = 30;
};

// Reads the "virivizar_sqm" section of the whole configuration document and
// chooses the game's entry. Throws the JSON library's type errors on values of
// the wrong type, and std::out_of_range for an interval outside 32 bits.
SqmConfig ParseSqmConfig(const nlohmann::ordered_json& document, const std::string& gameId);

}  // namespace TesselSDK
