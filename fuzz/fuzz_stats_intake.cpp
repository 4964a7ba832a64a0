// Any text as a statistics report pushed into a collector with a session
// running: the intake never throws, and every record it posts is valid JSON.
#include <cstddef>
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "sqm/sqm.h"
#include "tests/support/gunzip.h"

namespace {

TesselSDK::SQM& Collector() {
    static long long clock = 1796575112000;
    static TesselSDK::SQM* sqm = [] {
        auto* s = new TesselSDK::SQM();
        TesselSDK::SqmCallbacks cb;
        cb.nowMsFn = [] { return clock += 1000; };
        cb.envFn = [](const char*) { return std::string("DEMO"); };
        cb.timeZoneFn = [] { return std::string("+09:00"); };
        cb.httpPostFn = [](const std::string&, const std::string& body, const std::map<std::string, std::string>&,
                           std::function<void(int, const std::string&)> done) {
            std::string record = testsupport::Gunzip(body);
            if (!nlohmann::ordered_json::accept(record)) __builtin_trap();
            done(200, "");
        };
        s->SetHostCallbacks(cb, "fuzz", 1);
        s->SetStreamerId("fuzz-1-0");
        TesselSDK::SqmConfig config;
        config.enabled = true;
        config.metric_collect_interval_s = 0;
        config.start_streaming_push_delay_s = 0;
        config.during_streaming_push_interval_s = 0;
        s->SetConfig(config);
        s->OnStreamingStart("player", "wifi");
        return s;
    }();
    return *sqm;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    Collector().PushWebRTCStatsReport("player", text.c_str());
    return 0;
}
