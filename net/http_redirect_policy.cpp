#include "net/http_redirect_policy.h"

#include <utility>

namespace TesselSDK {

RedirectPlan PlanRedirect(int status, const std::string& method, bool fromSecure, const std::string& location) {
    RedirectPlan plan;
    const bool redirect = status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
    if (!redirect || location.empty()) return plan;

    HttpUrlParts target;
    if (!SplitHttpUrl(location, target)) {
        plan.action = RedirectAction::Fail;
        return plan;
    }
    if (fromSecure && !target.secure) return plan;

    plan.action = RedirectAction::Follow;
    plan.method = method;
    plan.keepBody = true;
    if ((status == 303 && method != "HEAD") || ((status == 301 || status == 302) && method == "POST")) {
        plan.method = "GET";
        plan.keepBody = false;
    }
    plan.target = std::move(target);
    return plan;
}

}  // namespace TesselSDK
