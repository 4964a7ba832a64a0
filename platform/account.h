// Access to the platform account library (token, language, nation).
#pragma once

#include <string>

namespace TesselSDK {

// The signed-in user's access token (UTF-8), or "" when the library fails.
std::string GetAccessToken();

// Language and nation of the user's settings. Returns false (outputs
// untouched) when the library reports failure.
bool GetPlatformLanguageAndNation(std::string& language, std::string& nation);
// Nation only (the notification asks for nothing else).
bool GetPlatformNation(std::string& nation);

}  // namespace TesselSDK
