// Any JSON document and game id for the metrics settings parser: it may throw
// the JSON library's errors (its caller catches them), nothing else, and the
// collect interval never exceeds the batch interval once the section is read.
#include <cstddef>
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "sqm/sqm_config.h"
#include "util/json_parse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    // The first line is the game id, the rest the document.
    size_t nl = text.find('\n');
    std::string gameId = nl == std::string::npos ? "" : text.substr(0, nl);
    std::string body = nl == std::string::npos ? text : text.substr(nl + 1);
    nlohmann::ordered_json document;
    try {
        // As the configuration reader parses it (nesting limited).
        document = TesselSDK::ParseOutsideJson(body);
    } catch (const std::exception&) {
        return 0;
    }
    try {
        TesselSDK::SqmConfig config = TesselSDK::ParseSqmConfig(document, gameId);
        if (config.metric_collect_interval_s > config.during_streaming_push_interval_s) __builtin_trap();
    } catch (const std::exception&) {
    }
    return 0;
}
