#include "core/cdn_environments.h"

#include "tesselsdk_endpoints.h"

namespace TesselSDK {
namespace {

std::string DocumentUrl(const char* base, const char* segment) {
    return std::string(base) + "/" + segment + "/application_no/STATIC/halyxapp/streaming/config_streaming.json";
}

}  // namespace

std::map<std::string, std::string> BuildCdnEnvironmentTable() {
    return {
        {"DEV", DocumentUrl(TESSELSDK_CDN_URL_DEV, "dev")},
        {"DEV2", DocumentUrl(TESSELSDK_CDN_URL_DEV2, "dev2")},
        {"QA", DocumentUrl(TESSELSDK_CDN_URL_QA, "qa")},
        {"QA2", DocumentUrl(TESSELSDK_CDN_URL_QA2, "qa2")},
        {"SANDBOX", DocumentUrl(TESSELSDK_CDN_URL_SANDBOX, "sandbox")},
        {"ZEPH8", DocumentUrl(TESSELSDK_CDN_URL_SANDBOX, "sandbox")},
        {"LIVE", DocumentUrl(TESSELSDK_CDN_URL_LIVE, "live")},
    };
}

}  // namespace TesselSDK
