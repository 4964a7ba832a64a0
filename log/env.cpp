#include "log/env.h"

#include <cstdlib>

#include "log/env_wide.h"

namespace TesselSDK {

std::string GetEnvVar(const std::string& name) {
    if (const char* value = std::getenv(name.c_str())) return value;
    std::string wideValue;
    if (LookUpWideEnvVar(name, wideValue)) return wideValue;
    return "";
}

}  // namespace TesselSDK
