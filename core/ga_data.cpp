#include "core/ga_data.h"

#include "platform/probes.h"
#include "util/clock.h"

namespace TesselSDK {

std::string ShortenPcName(const std::string& hostName) {
    if (hostName.size() < 15) return hostName;
    return hostName.substr(0, 14) + "...";
}

nlohmann::ordered_json BuildGaData(const std::string& gameId, int geType, const std::string& streamerId) {
    nlohmann::ordered_json ga = nlohmann::ordered_json::object();
    ga["game_id"] = gameId;
    ga["platform"] = "Windows";
    ga["pc_name"] = ShortenPcName(GetHostName());
    ga["ge_type"] = geType;
    ga["start_dt"] = std::to_string(NowEpochMs());
    ga["streamer_id"] = streamerId;
    std::string series = "Generic GPU";
    int nvEnc = 0;
    DetectGpu(series, nvEnc);
    nlohmann::ordered_json gc = nlohmann::ordered_json::object();
    gc["nv_enc"] = nvEnc;
    gc["series"] = series;
    ga["gc_info"] = gc;
    return ga;
}

}  // namespace TesselSDK
