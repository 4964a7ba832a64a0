// How the four request timeouts (resolve, connect, send, receive) map onto
// libcurl, which has one connect timeout and one stall limit.
#pragma once

#include "net/http_transport.h"

namespace TesselSDK {

// Defaults of the Windows transport: connect 60 s, send and receive 30 s.
constexpr long long kHttpDefaultConnectMs = 60000;
constexpr long long kHttpDefaultStallMs = 30000;

struct TransferLimits {
    long long connectTimeoutMs = 0;  // name resolution and connect together; 0: no limit of ours
    long long stallMs = 0;          // once connected, abort when no byte moves for this long; 0: none
};

// Timeouts that are not set give the defaults above. A zero among set
// timeouts means "no limit" for the phase it covers. The stall limit is the
// longer of send and receive, so a request is never cut short before the
// Windows transport would have given up.
TransferLimits TransferLimitsFor(const HttpTimeouts& timeouts);

}  // namespace TesselSDK
