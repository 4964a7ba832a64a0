// One queued telemetry event.
#pragma once

#include <string>

namespace TesselSDK {

struct TelemetryEvent {
    std::string actionType;
    std::string elapsedTime;
    std::string message;
    std::string connectionType;
};

}  // namespace TesselSDK
