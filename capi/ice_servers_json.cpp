#include "capi/ice_servers_json.h"

namespace TesselSDK {
namespace {

void AppendJsonString(std::string& out, const std::string& text) {
    static const char kHex[] = "0123456789abcdef";
    out += '"';
    for (char ch : text) {
        const unsigned char c = static_cast<unsigned char>(ch);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20) {
                    out += "\\u00";
                    out += kHex[c >> 4];
                    out += kHex[c & 0x0F];
                } else {
                    out += ch;  // bytes >= 0x80 pass through unchanged
                }
        }
    }
    out += '"';
}

}  // namespace

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
