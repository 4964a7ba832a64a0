// A JSON value read as a 32-bit int.
#pragma once

#include <nlohmann/json.hpp>

namespace TesselSDK {

// A number that fits an int once truncated toward zero; a boolean is 1 or 0.
// Throws std::out_of_range for a number outside the int range (NaN included)
// and the JSON library's type error for anything else.
int JsonInt32(const nlohmann::ordered_json& value);

}  // namespace TesselSDK
