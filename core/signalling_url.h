// The signalling URL and log-safe forms of it and of the access token.
#pragma once

#include <string>

namespace TesselSDK {

// wss://<host>/s/<streamerId>/?token=…&member_no=…&reconnect_cnt=…&ga_data=…
// with the token, member number and GA data URL-encoded.
std::string BuildSignalingUrl(const std::string& host, const std::string& streamerId, const std::string& token,
                              const std::string& memberNo, const std::string& gaDataBase64, int reconnectCount);

// At most the first four bytes of the token, an ellipsis and its length,
// e.g. "abcd…(40 chars)". The token itself never goes to the log.
std::string MaskToken(const std::string& token);

// The signalling URL as BuildSignalingUrl makes it, with the token value
// shown masked (and not URL-encoded) for the log.
std::string SignallingUrlForLog(const std::string& host, const std::string& streamerId, const std::string& token,
                                const std::string& memberNo, const std::string& gaDataBase64, int reconnectCount);

}  // namespace TesselSDK
