#include "net/http_client.h"

#include <utility>

#include "net/http_header_lines.h"
#include "net/http_transport.h"
#include "net/http_url.h"

namespace TesselSDK {

const char* const kHttpFailParseUrl = "Failed to parse URL";
const char* const kHttpFailOpenSession = "Failed to open WinHTTP session";
const char* const kHttpFailConnect = "Failed to connect";
const char* const kHttpFailOpenRequest = "Failed to open request";
const char* const kHttpFailSendRequest = "Failed to send request";
const char* const kHttpFailReceiveResponse = "Failed to receive response";

HttpTransportResult HttpTransportFailure(const char* text) {
    HttpTransportResult result;
    result.body = text;
    return result;
}

bool HttpRequest(const std::string& method, const std::string& url, const std::string& contentType,
                 const std::string& body, const HttpHeaders& headers, HttpCompletion completion, int resolveMs,
                 int connectMs, int sendMs, int receiveMs) {
    HttpTransportResult result;
    try {
        HttpTransportRequest request;
        if (!SplitHttpUrl(url, request.parts)) {
            result = HttpTransportFailure(kHttpFailParseUrl);
        } else {
            request.method = method;
            request.headerLines = RequestHeaderLines(contentType, headers);
            request.body = &body;
            request.timeouts.set = resolveMs >= 0 && connectMs >= 0 && sendMs >= 0 && receiveMs >= 0;
            request.timeouts.resolveMs = resolveMs;
            request.timeouts.connectMs = connectMs;
            request.timeouts.sendMs = sendMs;
            request.timeouts.receiveMs = receiveMs;
            result = PerformHttpTransport(request);
        }
    } catch (...) {
        // Only allocation fails this way: told as a request that did not get
        // through, without its text should even that allocation fail.
        result.received = false;
        result.status = 0;
        try {
            result.body = kHttpFailSendRequest;
        } catch (...) {
            result.body.clear();
        }
    }
    // The caller's code, outside the try: what it throws is the caller's. It
    // runs exactly once, after every transport handle is closed.
    if (completion) completion(result.status, result.body);
    return result.received;
}

bool HttpGet(const std::string& url, const HttpHeaders& headers, HttpCompletion completion) {
    return HttpRequest("GET", url, "", "", headers, std::move(completion), -1, -1, -1, -1);
}

bool HttpGet(const std::string& url, HttpCompletion completion) {
    return HttpGet(url, HttpHeaders(), std::move(completion));
}

bool HttpPostJson(const std::string& url, const std::string& body, const HttpHeaders& headers,
                  HttpCompletion completion) {
    return HttpRequest("POST", url, "application/json", body, headers, std::move(completion), -1, -1, -1, -1);
}

bool HttpPostJson(const std::string& url, const std::string& body, const HttpHeaders& headers, int resolveMs,
                  int connectMs, int sendMs, int receiveMs, HttpCompletion completion) {
    return HttpRequest("POST", url, "application/json", body, headers, std::move(completion), resolveMs, connectMs,
                       sendMs, receiveMs);
}

}  // namespace TesselSDK
