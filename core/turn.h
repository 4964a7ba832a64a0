// The TURN request and its answer.
#pragma once

#include <string>
#include <vector>

#include "tesselsdk/link_logic.h"

namespace TesselSDK {

// The TURN request URL: `base` less one trailing '/', with "https://" put in
// front unless it starts with "http".
std::string BuildTurnApiUrl(const std::string& base, const std::string& streamerId);
// The ICE servers of the answer; whatever was read before a fault stands.
// `isJson` (when given) tells whether the body parsed as a JSON document.
std::vector<PlatformInterface::IceServer> ParseIceServers(const std::string& body, bool* isJson = nullptr);
// The TURN answer with every "credential" value replaced by "***", for the log.
std::string MaskTurnCredentials(const std::string& body);

}  // namespace TesselSDK
