// gzip compression of the metrics payloads.
#pragma once

#include <optional>
#include <string>

namespace TesselSDK {

// The whole input as one gzip member, compressed at zlib's highest level;
// nothing when zlib cannot compress it.
std::optional<std::string> GzipCompress(const std::string& data);

}  // namespace TesselSDK
