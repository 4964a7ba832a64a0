#include "util/clock.h"

#include <chrono>

namespace TesselSDK {
long long NowEpochMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}
std::string GetUtcTimestamp() { return ""; }
}  // namespace TesselSDK
