// Calendar break-down with the reentrant POSIX calls.
#include "util/clock.h"

#include <time.h>

namespace TesselSDK {

bool BreakDownUtc(std::time_t seconds, std::tm& out) {
    if (gmtime_r(&seconds, &out) != nullptr) return true;
    out = std::tm{};
    return false;
}

bool BreakDownLocal(std::time_t seconds, std::tm& out) {
    if (localtime_r(&seconds, &out) != nullptr) return true;
    out = std::tm{};
    return false;
}

void RefreshLocalTimeZone() { tzset(); }

}  // namespace TesselSDK
