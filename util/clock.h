// Wall-clock helpers. Stateless, safe from any thread.
#pragma once

#include <ctime>
#include <string>

namespace TesselSDK {

// Milliseconds since the Unix epoch, from the system (wall) clock.
long long NowEpochMs();

// UTC "YYYY.MM.DD  HH.MM.SS" (two blanks between date and time) of now.
std::string GetUtcTimestamp();
// The same text for a given instant (whole seconds since the epoch).
std::string FormatUtcTimestamp(std::time_t seconds);

// Reentrant calendar break-down of an instant; false (and `out` zeroed) when
// the platform cannot convert it.
bool BreakDownUtc(std::time_t seconds, std::tm& out);
bool BreakDownLocal(std::time_t seconds, std::tm& out);

// Makes BreakDownLocal and mktime follow the current TZ environment variable
// (tzset), which the C runtime otherwise reads only once.
void RefreshLocalTimeZone();

}  // namespace TesselSDK
