// Compact JSON text for the wire: no spaces, and bytes that are not UTF-8
// replaced rather than thrown on.
#pragma once

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace TesselSDK {

std::string CompactJsonText(const nlohmann::ordered_json& document);

// Appends `text` as a quoted JSON string escaped as CompactJsonText escapes
// it (quote, backslash, the controls with short names, the other controls
// as six-character escapes in lower-case hex); every other byte, 0x80 and
// above included, is copied unchanged.
void AppendJsonString(std::string& out, std::string_view text);

}  // namespace TesselSDK
