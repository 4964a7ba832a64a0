#include "net/http_transfer_limits_linux.h"

#include <algorithm>

namespace TesselSDK {

TransferLimits TransferLimitsFor(const HttpTimeouts& timeouts) {
    TransferLimits limits;
    if (!timeouts.set) {
        limits.connectTimeoutMs = kHttpDefaultConnectMs;
        limits.stallMs = kHttpDefaultStallMs;
        return limits;
    }
    if (timeouts.resolveMs > 0 && timeouts.connectMs > 0) {
        limits.connectTimeoutMs = static_cast<long long>(timeouts.resolveMs) + timeouts.connectMs;
    }
    if (timeouts.sendMs > 0 && timeouts.receiveMs > 0) {
        limits.stallMs = std::max(timeouts.sendMs, timeouts.receiveMs);
    }
    return limits;
}

}  // namespace TesselSDK
