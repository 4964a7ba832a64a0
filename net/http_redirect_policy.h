// Which redirects a request follows, and how: the Windows transport's default
// policy, applied by hand by both transports (so that credentials stay with
// the origin they were meant for).
#pragma once

#include <string>
#include <vector>

#include "net/http_client.h"
#include "net/http_transport.h"
#include "net/http_url.h"
#include "util/cancel.h"

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

// The header lines without "Authorization" (name case ignored): what a
// request carries once a redirect has taken it to another origin.
std::vector<std::string> WithoutAuthorization(const std::vector<std::string>& lines);

// One hop of a request, as FollowRedirects hands it to a transport.
struct RedirectHop {
    int redirects;  // hops before this one
    const std::string& method;
    const HttpUrlParts& target;
    const std::vector<std::string>& headerLines;
    bool headerLinesChanged;  // since the hop before
    const std::string& body;
};

// What one hop brought back: the response; its Location (absolute or
// relative to the hop's target, "" for none); and whether it may be followed
// at all (a response cut short after its headers is delivered as it is).
struct RedirectHopResult {
    HttpTransportResult response;
    std::string location;
    bool complete = true;
};

// Runs `request` hop by hop through `exchange` (RedirectHop to
// RedirectHopResult), following redirects as PlanRedirect says, at most
// kHttpMaxRedirects of them. Once a redirect leaves the origin the lines go
// on without "Authorization". A cancellation seen before a hop fails the
// request as not sent.
template <typename Exchange>
HttpTransportResult FollowRedirects(const HttpTransportRequest& request, const CancelToken* cancel,
                                    Exchange&& exchange) {
    const std::string noBody;
    std::string method = request.method;
    const std::string* body = request.body;
    HttpUrlParts target = request.parts;
    const std::vector<std::string>* lines = &request.headerLines;
    std::vector<std::string> withoutAuthorization;
    bool linesChanged = false;
    for (int redirects = 0;; ++redirects) {
        if (cancel != nullptr && cancel->Cancelled()) return HttpTransportFailure(kHttpFailSendRequest);
        RedirectHopResult hop = exchange(RedirectHop{redirects, method, target, *lines, linesChanged, *body});
        linesChanged = false;
        if (!hop.response.received || !hop.complete) return std::move(hop.response);
        RedirectPlan plan = PlanRedirect(hop.response.status, method, target, hop.location);
        if (plan.action == RedirectAction::Deliver) return std::move(hop.response);
        if (plan.action == RedirectAction::Fail || redirects >= kHttpMaxRedirects) {
            return HttpTransportFailure(kHttpFailReceiveResponse);
        }
        // Credentials stay with the origin they were given for.
        if (plan.crossOrigin && lines == &request.headerLines) {
            withoutAuthorization = WithoutAuthorization(request.headerLines);
            lines = &withoutAuthorization;
            linesChanged = true;
        }
        target = std::move(plan.target);
        method = std::move(plan.method);
        if (!plan.keepBody) body = &noBody;
    }
}

}  // namespace TesselSDK
