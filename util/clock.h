// Wall-clock helpers.
#pragma once

#include <string>

namespace TesselSDK {

// Milliseconds since the Unix epoch, from the system (wall) clock.
long long NowEpochMs();

// UTC "YYYY.MM.DD  HH.MM.SS" (two blanks between date and time).
std::string GetUtcTimestamp();

}  // namespace TesselSDK
