#include "capi/ice_servers_json.h"

#include "util/json_text.h"

namespace TesselSDK {

std::string IceServersToJson(const std::vector<PlatformInterface::IceServer>& servers) {
    std::string out = "[";
    for (size_t i = 0; i < servers.size(); ++i) {
        const auto& server = servers[i];
        if (i > 0) out += ',';
        out += "{\"urls\":[";
        for (size_t u = 0; u < server.urls.size(); ++u) {
            if (u > 0) out += ',';
            AppendJsonString(out, server.urls[u]);
        }
        out += "],\"username\":";
        AppendJsonString(out, server.username);
        out += ",\"credential\":";
        AppendJsonString(out, server.credential);
        out += '}';
    }
    out += ']';
    return out;
}

}  // namespace TesselSDK
