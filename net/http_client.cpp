#include "net/http_client.h"

namespace TesselSDK {
const char* const kHttpFailParseUrl = "Failed to parse URL";
const char* const kHttpFailOpenSession = "Failed to open WinHTTP session";
const char* const kHttpFailConnect = "Failed to connect";
const char* const kHttpFailOpenRequest = "Failed to open request";
const char* const kHttpFailSendRequest = "Failed to send request";
const char* const kHttpFailReceiveResponse = "Failed to receive response";

bool HttpRequest(const std::string&, const std::string&, const std::string&, const std::string&, const HttpHeaders&,
                 HttpCompletion completion, int, int, int, int) {
    completion(0, kHttpFailSendRequest);
    return false;
}
bool HttpGet(const std::string& url, const HttpHeaders& headers, HttpCompletion completion) {
    return HttpRequest("GET", url, "", "", headers, std::move(completion), -1, -1, -1, -1);
}
bool HttpGet(const std::string& url, HttpCompletion completion) { return HttpGet(url, HttpHeaders(), std::move(completion)); }
bool HttpPostJson(const std::string& url, const std::string& body, const HttpHeaders& headers,
                  HttpCompletion completion) {
    return HttpRequest("POST", url, "application/json", body, headers, std::move(completion), -1, -1, -1, -1);
}
bool HttpPostJson(const std::string& url, const std::string& body, const HttpHeaders& headers, int r, int c, int s,
                  int v, HttpCompletion completion) {
    return HttpRequest("POST", url, "application/json", body, headers, std::move(completion), r, c, s, v);
}
}  // namespace TesselSDK
