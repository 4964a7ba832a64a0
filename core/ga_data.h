// The analytics block ("GA data") carried in the signalling URL.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace TesselSDK {

// A host name of 15 bytes or more becomes its first 14 bytes and "...".
std::string ShortenPcName(const std::string& hostName);

// game_id, platform, pc_name, ge_type, start_dt, streamer_id, gc_info, in
// this order; probes the host name, the clock and the graphics adapter.
nlohmann::ordered_json BuildGaData(const std::string& gameId, int geType, const std::string& streamerId);

}  // namespace TesselSDK
