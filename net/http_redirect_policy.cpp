#include "net/http_redirect_policy.h"

#include <utility>

#include "util/text.h"

namespace TesselSDK {
namespace {

bool HasScheme(const std::string& location) {
    const std::size_t colon = location.find(':');
    if (colon == std::string::npos || colon == 0) return false;
    for (std::size_t i = 0; i < colon; ++i) {
        const char c = location[i];
        if (!AsciiIsAlnum(c) && c != '+' && c != '-' && c != '.') return false;
    }
    return true;
}

// The absolute URL a (non-empty) Location names, relative to where the
// request went.
std::string ResolveLocation(const HttpUrlParts& from, const std::string& location) {
    if (HasScheme(location)) return location;
    const std::string scheme = from.secure ? "https:" : "http:";
    if (location.compare(0, 2, "//") == 0) return scheme + location;
    const std::string origin = HttpOrigin(from);
    if (location[0] == '/') return origin + location;
    const std::string path = from.pathAndQuery.substr(0, from.pathAndQuery.find_first_of("?#"));
    if (location[0] == '?') return origin + path + location;
    // A relative path replaces the last segment of the request's path.
    const std::size_t slash = path.rfind('/');
    return origin + (slash == std::string::npos ? std::string("/") : path.substr(0, slash + 1)) + location;
}

}  // namespace

RedirectPlan PlanRedirect(int status, const std::string& method, const HttpUrlParts& from,
                          const std::string& location) {
    RedirectPlan plan;
    const bool redirect = status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
    if (!redirect || location.empty()) return plan;

    HttpUrlParts target;
    if (!SplitHttpUrl(ResolveLocation(from, location), target)) {
        plan.action = RedirectAction::Fail;
        return plan;
    }
    if (from.secure && !target.secure) return plan;

    plan.action = RedirectAction::Follow;
    plan.method = method;
    plan.keepBody = true;
    if ((status == 303 && method != "HEAD") || ((status == 301 || status == 302) && method == "POST")) {
        plan.method = "GET";
        plan.keepBody = false;
    }
    plan.crossOrigin = !SameOrigin(from, target);
    plan.target = std::move(target);
    return plan;
}

std::vector<std::string> WithoutAuthorization(const std::vector<std::string>& lines) {
    std::vector<std::string> kept;
    for (const std::string& line : lines) {
        if (!AsciiEqualNoCase(std::string_view(line).substr(0, line.find(':')), "authorization")) kept.push_back(line);
    }
    return kept;
}

}  // namespace TesselSDK
