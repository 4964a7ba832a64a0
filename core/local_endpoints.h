// Endpoints of a build pointed at the local service double (tests and demo).
#pragma once

namespace TesselSDK {

enum class LocalEndpoint { kTelemetry, kGeo, kSqmDev, kCdnDev, kCdnDev2, kCdnQa, kCdnQa2, kCdnSandbox, kCdnLive };

// The base URL of one endpoint on http://127.0.0.1:<port>. The port is
// TESSELSDK_LOCAL_PORT from the environment when that is a port number
// (1-65535), else the build's own; read once, so every endpoint of one process
// agrees. The text lives until the process ends.
const char* LocalEndpointUrl(LocalEndpoint which);

}  // namespace TesselSDK
