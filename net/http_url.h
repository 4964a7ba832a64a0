// Splitting a request URL the way the Windows transport cracks it, with the
// same limits.
#pragma once

#include <string>

namespace TesselSDK {

// Longest host and path-with-query, in UTF-16 units of the widened URL
// (WidenUrl); anything longer does not parse.
constexpr std::size_t kHttpMaxHostUnits = 255;
constexpr std::size_t kHttpMaxPathUnits = 1023;

struct HttpUrlParts {
    bool secure = false;       // https
    std::string host;          // as written; IPv6 literals keep their brackets
    int port = 0;              // the explicit port, else 80 / 443
    std::string pathAndQuery;  // from the first '/' or '?' on; may be empty
    bool userInfo = false;     // the authority named a user ("user@host"), dropped from `host`
};

// Accepts only http:// and https:// URLs (scheme case-insensitive) with a
// non-empty host and a port in 1..65535. User information is dropped, as the
// Windows transport never sends it. An authority holding a byte that no host
// or user name has (control bytes, space, \ " < > ^ ` { | }) is refused: URL
// parsers disagree on where such a host ends. Returns false when the URL does
// not parse or a part is too long.
bool SplitHttpUrl(const std::string& url, HttpUrlParts& parts);

// "http://host:port" or "https://host:port" of split parts.
std::string HttpOrigin(const HttpUrlParts& parts);

// Same scheme, host (ASCII case ignored) and port.
bool SameOrigin(const HttpUrlParts& a, const HttpUrlParts& b);

// What a request to the parts asks the server for: the path and query without
// any fragment ("#..."), with a '/' in front when it is empty or begins with
// the query. Transports connect to HttpOrigin(parts) and send this, so that a
// request goes nowhere but where the parts say.
std::string HttpRequestTarget(const HttpUrlParts& parts);

// An ASCII byte that a URL never holds as it is: control bytes, space, DEL
// and " < > \ ^ ` { | }. (Bytes from 0x80 on are not ASCII: false.)
bool IsUnsafeUrlByte(unsigned char byte);

// Plain decimal digits (at most five) naming a port in 1..65535.
bool ParsePort(const std::string& digits, int& port);

}  // namespace TesselSDK
