// The remote configuration document as the SDK reads it.
#pragma once

#include <map>
#include <string>

#include "sqm/sqm_config.h"

namespace TesselSDK {

struct BitrateProfile {
    int MaxBitrate = 20000000;
    int MinBitrate = 10000000;
    int Fps = 60;
    int MinQP = 20;
    int MaxQP = 40;
    std::string H264Profile = "HIGH";
    std::string Multipass = "DISABLED";
    std::string EncoderPreset = "LOW_QUALITY";
    std::string RateControl = "CBR";
    std::string DegradationPreference = "MAINTAIN_FRAMERATE";
};

struct CdnConfig {
    std::string webSocketUrl;
    std::string turnApiUrl;
    std::string eventApiUrl;
    std::string windowsEventsApiUrl;
    std::string sentryDsn;
    SqmConfig sqm;
    bool sentryEnable = false;
    std::map<std::string, BitrateProfile> bitrateProfiles;
};

// Never throws; whatever was read before the first error stays. Logs nothing
// itself: the WARN lines of the metrics section go to `sqmWarn` (when set).
CdnConfig ParseCdnConfig(const std::string& body, const std::string& gameId,
                         const SqmConfigWarn& sqmWarn = SqmConfigWarn());

// The profile that the bitrate and encoder lookups answer with: `profile`
// (null means "AUTO"), else "AUTO"; null when neither is stored.
const BitrateProfile* FindBitrateProfile(const CdnConfig& config, const char* profile);

}  // namespace TesselSDK
