// Where each deployment environment's configuration document lives.
#pragma once

#include <map>
#include <string>

namespace TesselSDK {

// Environment name (upper case) to the URL of its configuration document.
// "ZEPH8" is another name of "SANDBOX" and gives the very same URL.
std::map<std::string, std::string> BuildCdnEnvironmentTable();

}  // namespace TesselSDK
