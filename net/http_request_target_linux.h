// The request target libcurl sends.
#pragma once

#include <string>

namespace TesselSDK {

// The request target as the Windows transport sends it by default: the URL
// text widened (WidenUrl), every character outside printable ASCII and the
// unsafe characters " < > \ ^ ` { | } percent-encoded as UTF-8 bytes;
// '%' itself is kept, so existing escapes pass unchanged. Empty gives "/".
std::string EscapeRequestTarget(const std::string& pathAndQuery);

}  // namespace TesselSDK
