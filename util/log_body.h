// How a response body appears in a log line.
#pragma once

#include <cstddef>
#include <string>

namespace TesselSDK {

// Longest body written whole into a log line.
constexpr std::size_t kLoggedBodyLimit = 4096;

// The body itself up to kLoggedBodyLimit bytes; a longer one is cut there
// (never inside a UTF-8 sequence) and followed by "... [N bytes in all]".
std::string BodyForLog(const std::string& body);

}  // namespace TesselSDK
