// Second chance of GetEnvVar: the process's wide (UTF-16) environment, where
// the platform keeps one apart from the narrow one.
#pragma once

#include <string>

namespace TesselSDK {

// True when `name` is set in the wide environment, each byte of the name taken
// as one unit (a signed char's value: 0x80 to 0xFF are U+FF80 to U+FFFF);
// `value` then holds the low 8 bits of each unit of its value. False when
// there is no such variable or no wide environment.
bool LookUpWideEnvVar(const std::string& name, std::string& value);

}  // namespace TesselSDK
