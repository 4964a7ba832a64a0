// Any game id (first line) and document for the metrics settings: only std::exception errors, collect <= batch.
#include <cstdint>
#include <string>

#include "sqm/sqm_config.h"
#include "util/json_parse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const size_t nl = text.find('\n');
    try {
        const TesselSDK::SqmConfig config = TesselSDK::ParseSqmConfig(
            TesselSDK::ParseOutsideJson(nl == std::string::npos ? text : text.substr(nl + 1)),
            nl == std::string::npos ? "" : text.substr(0, nl));
        if (config.metric_collect_interval_s > config.during_streaming_push_interval_s) __builtin_trap();
    } catch (const std::exception&) {
    }
    return 0;
}
