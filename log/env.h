// The library's only reader of the process environment.
#pragma once

#include <string>

namespace TesselSDK {

// The variable's value, or "" when it is not set.
std::string GetEnvVar(const std::string& name);

}  // namespace TesselSDK
