// What the shared front of the HTTP client hands to the platform transport
// (WinHTTP on Windows, libcurl on Linux) and what it gets back.
#pragma once

#include <string>
#include <vector>

#include "net/http_url.h"

namespace TesselSDK {

struct HttpTimeouts {
    // Milliseconds; `set` is false when the platform's defaults apply
    // (then the four values mean nothing).
    bool set = false;
    int resolveMs = 0;
    int connectMs = 0;
    int sendMs = 0;
    int receiveMs = 0;
};

struct HttpTransportRequest {
    std::string method;
    std::string url;  // as the caller gave it
    HttpUrlParts parts;  // the URL split; already checked against the limits
    std::vector<std::string> headerLines;  // in the order they are added
    const std::string* body = nullptr;  // never null; sent as raw bytes
    HttpTimeouts timeouts;
};

struct HttpTransportResult {
    bool received = false;  // a response (status line and headers) arrived
    int status = 0;
    std::string body;  // the response body, or a failure text when !received
};

// Runs one request to the end on the calling thread, redirects included.
// Transport failures come back as results; only allocation failure throws.
HttpTransportResult PerformHttpTransport(const HttpTransportRequest& request);

// A failed result carrying one of the failure texts.
HttpTransportResult HttpTransportFailure(const char* text);

}  // namespace TesselSDK
