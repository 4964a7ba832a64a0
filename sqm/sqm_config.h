// Settings of the streaming-quality-metrics collector and their parser.
#pragma once

#include <functional>
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

// Receives each WARN line of the parse ("[TesselSDK::SQM] ..."), for the
// collector's log.
using SqmConfigWarn = std::function<void(const std::string&)>;

// Reads the "virivizar_sqm" section of the whole configuration document and
// chooses the game's entry. Throws the JSON library's type errors on values of
// the wrong type. An interval outside 32 bits replaces nothing (the section's
// keeps its default, the game entry's the value read before it) and is
// reported to `warn` (when set); the rest is read.
SqmConfig ParseSqmConfig(const nlohmann::ordered_json& document, const std::string& gameId,
                         const SqmConfigWarn& warn = SqmConfigWarn());

}  // namespace TesselSDK
