// Second chance of GetEnvVar: the process's wide (UTF-16) environment, where
// the platform keeps one apart from the narrow one.
#pragma once

#include <string>

namespace TesselSDK {

// True when `name` (UTF-8) is set in the wide environment; `value` then holds
// its value converted to UTF-8. False when there is no such variable or no
// wide environment.
bool LookUpWideEnvVar(const std::string& name, std::string& value);

}  // namespace TesselSDK
