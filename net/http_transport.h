// What the shared front of the HTTP client hands to the platform transport
// (WinHTTP on Windows, libcurl on Linux) and what it gets back.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "net/http_url.h"

namespace TesselSDK {

// The most of a response body that is read. The services answer with small
// JSON documents; an answer beyond this is no answer of theirs, and reading it
// whole would let any server, or anyone in its place, take the game's memory.
// A longer body is cut here: the read stops, the connection is closed, and the
// response is delivered with the bytes up to the bound, as after a failed read.
constexpr std::size_t kHttpMaxBodyBytes = 16 * 1024 * 1024;

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
    HttpUrlParts parts;  // the caller's URL split and checked; the only reading of it
    std::vector<std::string> headerLines;  // in the order they are added
    const std::string* body = nullptr;  // never null; sent as raw bytes
    HttpTimeouts timeouts;
};

struct HttpTransportResult {
    bool received = false;  // a response (status line and headers) arrived
    int status = 0;
    std::string body;  // the response body (at most kHttpMaxBodyBytes), or a failure text when !received
};

// Runs one request to the end on the calling thread, redirects included.
// Every exchange goes to the scheme, host and port of its parts and asks for
// HttpRequestTarget; should the platform's own reading of that URL name
// another scheme, host or port, it fails with kHttpFailParseUrl and nothing
// is sent. Transport failures come back as results; only allocation failure
// throws.
HttpTransportResult PerformHttpTransport(const HttpTransportRequest& request);

// A failed result carrying one of the failure texts.
HttpTransportResult HttpTransportFailure(const char* text);

}  // namespace TesselSDK
