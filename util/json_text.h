// Compact JSON text for the wire: no spaces, and bytes that are not UTF-8
// replaced rather than thrown on.
#pragma once

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace TesselSDK {

std::string CompactJsonText(const nlohmann::ordered_json& document);

// Appends `text` quoted and escaped as CompactJsonText escapes it; bytes
// from 0x80 up are copied unchanged, well-formed or not.
void AppendJsonString(std::string& out, std::string_view text);

}  // namespace TesselSDK
