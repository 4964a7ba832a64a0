// Calendar break-down with the reentrant C runtime calls of Windows.
#include "util/clock.h"

#include <time.h>

namespace TesselSDK {

bool BreakDownUtc(std::time_t seconds, std::tm& out) {
    if (gmtime_s(&out, &seconds) == 0) return true;
    out = std::tm{};
    return false;
}

bool BreakDownLocal(std::time_t seconds, std::tm& out) {
    if (localtime_s(&out, &seconds) == 0) return true;
    out = std::tm{};
    return false;
}

void RefreshLocalTimeZone() { _tzset(); }

}  // namespace TesselSDK
