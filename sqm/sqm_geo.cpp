// Client geolocation: country, city and ISP, looked up at streaming starts
// until one answer has been stored.
#include <exception>

#include "sqm/sqm.h"
#include "sqm/sqm_impl.h"
#include "tesselsdk_endpoints.h"
#include "util/json_parse.h"

namespace TesselSDK {

void SQM::RequestGeoLookup() {
    if (!impl->providers.httpGetFn) return;
    {
        std::lock_guard<std::mutex> lock(impl->geoMutex);
        if (impl->geo.ready) return;
    }
    const std::string url = std::string(TESSELSDK_GEO_URL) + "/json?fields=status,countryCode,city,isp";
    impl->providers.httpGetFn(url, [this](int status, const std::string& body) { OnGeoResponse(status, body); });
}

void SQM::OnGeoResponse(int status, const std::string& body) {
    if (status != 200) return;
    Json answer;
    try {
        answer = ParseOutsideJson(body);
    } catch (const std::exception&) {
        return;
    }
    std::lock_guard<std::mutex> lock(impl->geoMutex);
    SqmGeoInfo& geo = impl->geo;
    if (answer.is_object()) {
        struct Field {
            const char* key;
            std::string* target;
        };
        for (const Field& f : {Field{"countryCode", &geo.countryCode}, Field{"city", &geo.city},
                               Field{"isp", &geo.isp}}) {
            if (!answer.contains(f.key)) continue;
            const Json& value = answer[f.key];
            if (!value.is_string()) return;
            *f.target = value.get<std::string>();
        }
    }
    geo.ready = true;
}

}  // namespace TesselSDK
