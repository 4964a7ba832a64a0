#include "core/cdn_config.h"

namespace TesselSDK {
CdnConfig ParseCdnConfig(const std::string&, const std::string&) { return CdnConfig(); }
}  // namespace TesselSDK
