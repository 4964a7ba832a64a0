// The ICE-server list as the compact JSON text handed to C hosts.
#pragma once

#include <string>
#include <vector>

#include "tesselsdk/link_logic.h"

namespace TesselSDK {

// [{"urls":[...],"username":"...","credential":"..."},...] without blanks;
// strings are escaped as JSON requires.
std::string IceServersToJson(const std::vector<PlatformInterface::IceServer>& servers);

}  // namespace TesselSDK
