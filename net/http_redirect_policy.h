// Which redirects a request follows, and how: the Windows transport's default
// policy, applied by hand by both transports (so that credentials stay with
// the origin they were meant for).
#pragma once

#include <string>
#include <vector>

#include "net/http_url.h"

namespace TesselSDK {

// Redirects followed for one request before it fails.
constexpr int kHttpMaxRedirects = 10;

enum class RedirectAction {
    Deliver,  // not a redirect we follow: the response goes to the caller as it is
    Follow,   // send the request again to the new location
    Fail,     // a redirect to somewhere the request cannot go
};

struct RedirectPlan {
    RedirectAction action = RedirectAction::Deliver;
    std::string method;  // method of the next request (Follow)
    bool keepBody = false;  // whether the next request carries the body again
    bool crossOrigin = false;  // the target differs in scheme, host or port (Follow)
    HttpUrlParts target;  // where the next request goes (Follow)
};

// status: the response's status; method: the method just sent; from: where
// that request went; location: the response's Location ("" when it named
// none), absolute or relative to `from`. 301, 302, 303, 307 and 308 with a
// location are followed, except from HTTPS to plain HTTP, which is delivered
// as it is. 303 turns every method but HEAD into GET, 301 and 302 turn POST
// into GET; GET drops the body. A location that is not an http(s) URL fails.
RedirectPlan PlanRedirect(int status, const std::string& method, const HttpUrlParts& from,
                          const std::string& location);

// Same scheme, host (ASCII case ignored) and port.
bool SameOrigin(const HttpUrlParts& a, const HttpUrlParts& b);

// The header lines without "Authorization" (name case ignored): what a
// request carries once a redirect has taken it to another origin.
std::vector<std::string> WithoutAuthorization(const std::vector<std::string>& lines);

}  // namespace TesselSDK
