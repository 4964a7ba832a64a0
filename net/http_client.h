// Synchronous HTTP(S) client. Each request runs wholly on the calling thread
// and calls its completion exactly once before returning. A transport failure
// arrives as status 0 with a short English text as the body.
#pragma once

#include <functional>
#include <map>
#include <string>

namespace TesselSDK {

using HttpCompletion = std::function<void(int status, const std::string& body)>;
using HttpHeaders = std::map<std::string, std::string>;

// Failure texts (status 0).
extern const char* const kHttpFailParseUrl;        // "Failed to parse URL"
extern const char* const kHttpFailOpenSession;     // "Failed to open WinHTTP session"
extern const char* const kHttpFailConnect;         // "Failed to connect"
extern const char* const kHttpFailOpenRequest;     // "Failed to open request"
extern const char* const kHttpFailSendRequest;     // "Failed to send request"
extern const char* const kHttpFailReceiveResponse; // "Failed to receive response"

// Timeouts in ms: resolve, connect, send, receive; -1 keeps the defaults
// (set only when all four are >= 0).
bool HttpRequest(const std::string& method, const std::string& url, const std::string& contentType,
                 const std::string& body, const HttpHeaders& headers, HttpCompletion completion, int resolveMs,
                 int connectMs, int sendMs, int receiveMs);

bool HttpGet(const std::string& url, const HttpHeaders& headers, HttpCompletion completion);
bool HttpGet(const std::string& url, HttpCompletion completion);
bool HttpPostJson(const std::string& url, const std::string& body, const HttpHeaders& headers,
                  HttpCompletion completion);
bool HttpPostJson(const std::string& url, const std::string& body, const HttpHeaders& headers, int resolveMs,
                  int connectMs, int sendMs, int receiveMs, HttpCompletion completion);

}  // namespace TesselSDK
