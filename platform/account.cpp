#include "platform/account.h"

namespace TesselSDK {
std::string GetAccessToken() { return ""; }
bool GetPlatformLanguageAndNation(std::string&, std::string&) { return false; }
bool GetPlatformNation(std::string&) { return false; }
}  // namespace TesselSDK
