#include "util/clock.h"

#include <chrono>

namespace TesselSDK {

long long NowEpochMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::string FormatUtcTimestamp(std::time_t seconds) {
    std::tm utc{};
    if (!BreakDownUtc(seconds, utc)) return "";
    char buffer[128];
    const std::size_t n = std::strftime(buffer, sizeof(buffer), "%Y.%m.%d  %H.%M.%S", &utc);
    return std::string(buffer, n);
}

std::string GetUtcTimestamp() {
    return FormatUtcTimestamp(std::chrono::system_clock::to_time_t(std::chrono::system_clock::now()));
}

}  // namespace TesselSDK
