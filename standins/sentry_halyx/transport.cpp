#include "standins/sentry_halyx/transport.h"

#include "net/http_client.h"
#include "standins/sentry_halyx/envelope.h"

namespace SentryHalyx {

int HttpTransport(const std::string& url, const std::map<std::string, std::string>& headers,
                  const std::string& envelope) {
    int status = 0;
    TesselSDK::HttpRequest(
        "POST", url, kEnvelopeContentType, envelope, headers, [&status](int s, const std::string&) { status = s; },
        kPostResolveMs, kPostConnectMs, kPostSendMs, kPostReceiveMs);
    return status;
}

}  // namespace SentryHalyx
