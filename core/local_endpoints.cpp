#include "tesselsdk_endpoints.h"

#if TESSELSDK_LOCAL_ENDPOINTS

#include <cstdlib>
#include <string>

#include "net/http_url.h"

namespace TesselSDK {
namespace {

const int kEndpointCount = static_cast<int>(LocalEndpoint::kCdnLive) + 1;

// Only plain decimal digits naming a port count; anything else is ignored.
int PortFromEnvironment() {
    const char* text = std::getenv("TESSELSDK_LOCAL_PORT");
    int port = 0;
    return text != nullptr && ParsePort(text, port) ? port : TESSELSDK_LOCAL_DEFAULT_PORT;
}

struct Urls {
    std::string url[kEndpointCount];
};

const Urls& AllUrls() {
    // Never destroyed: threads still running at exit may read an endpoint.
    static const Urls* urls = [] {
        static const char* const kPaths[kEndpointCount] = {"/telemetry", "/geo",      "/sqm-dev",
                                                           "/cdn-dev",   "/cdn-dev2", "/cdn-qa",
                                                           "/cdn-qa2",   "/cdn-sandbox", "/cdn-live"};
        auto* made = new Urls;
        const std::string base = "http://127.0.0.1:" + std::to_string(PortFromEnvironment());
        for (int i = 0; i < kEndpointCount; ++i) made->url[i] = base + kPaths[i];
        return made;
    }();
    return *urls;
}

}  // namespace

const char* LocalEndpointUrl(LocalEndpoint which) {
    const int i = static_cast<int>(which);
    return i >= 0 && i < kEndpointCount ? AllUrls().url[i].c_str() : "";
}

}  // namespace TesselSDK

#endif
