// Which redirects a request follows, and how: the Windows transport's default
// policy, applied by hand where the transport does not do it by itself.
#pragma once

#include <string>

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
    HttpUrlParts target;  // where the next request goes (Follow)
};

// status: the response's status; method: the method just sent; fromSecure:
// whether that request went over HTTPS; location: the absolute target ("" when
// the response named none). 301, 302, 303, 307 and 308 with a location are
// followed, except from HTTPS to plain HTTP, which is delivered as it is.
// 303 turns every method but HEAD into GET, 301 and 302 turn POST into GET;
// GET drops the body. A location that is not an http(s) URL fails.
RedirectPlan PlanRedirect(int status, const std::string& method, bool fromSecure, const std::string& location);

}  // namespace TesselSDK
