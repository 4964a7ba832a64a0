// gzip compression of the metrics payloads.
#pragma once

#include <string>

namespace TesselSDK {

// The whole input as one gzip member, compressed at zlib's highest level.
std::string GzipCompress(const std::string& data);

}  // namespace TesselSDK
