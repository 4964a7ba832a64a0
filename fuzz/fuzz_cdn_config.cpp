// Any text as the remote configuration document: no throw, and the collect interval within the batch interval.
#include <cstdint>
#include <string>

#include "core/cdn_config.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const TesselSDK::CdnConfig config = TesselSDK::ParseCdnConfig(text, "DEMO_KR");
    TesselSDK::ParseCdnConfig(text, "");
    if (config.sqm.metric_collect_interval_s > config.sqm.during_streaming_push_interval_s) __builtin_trap();
    return 0;
}
