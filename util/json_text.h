// Compact JSON text for the wire: no spaces, and bytes that are not UTF-8
// replaced rather than thrown on.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace TesselSDK {

std::string CompactJsonText(const nlohmann::ordered_json& document);

}  // namespace TesselSDK
