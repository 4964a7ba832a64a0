// Linux has a single (narrow) environment; getenv has already looked.
#include "log/env_wide.h"

namespace TesselSDK {

bool LookUpWideEnvVar(const std::string&, std::string&) { return false; }

}  // namespace TesselSDK
