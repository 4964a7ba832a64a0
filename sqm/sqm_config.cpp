#include "sqm/sqm_config.h"

namespace TesselSDK {
SqmConfig ParseSqmConfig(const nlohmann::ordered_json&, const std::string&) { return SqmConfig(); }
}  // namespace TesselSDK
