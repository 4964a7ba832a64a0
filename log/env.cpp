#include "log/env.h"

#include <cstdlib>

namespace TesselSDK {
std::string GetEnvVar(const std::string& name) {
    const char* v = std::getenv(name.c_str());
    return v ? v : "";
}
}  // namespace TesselSDK
