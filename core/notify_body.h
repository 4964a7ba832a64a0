// The JSON body of a mobile notification.
#pragma once

#include <string>

namespace TesselSDK {

// Builds the notification body from the host's texts (null texts allowed).
// On a text the body cannot carry, returns false with the ERROR line to log
// in `error`; a WARN line to log (empty payload) comes back in `warning`.
bool BuildMobileNotifyBody(const char* integrationKey, const char* alarmPayload, const std::string& langCode,
                           std::string& body, std::string& warning, std::string& error);

}  // namespace TesselSDK
