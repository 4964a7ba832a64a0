#include "net/http_url.h"

#include <string_view>
#include <utility>

#include "net/http_text_widen.h"
#include "util/text.h"

namespace TesselSDK {

bool IsUnsafeUrlByte(unsigned char byte) {
    return byte <= 0x20 || byte == 0x7F ||
           std::string_view("\"<>\\^`{|}").find(static_cast<char>(byte)) != std::string_view::npos;
}

bool ParsePort(const std::string& digits, int& port) {
    if (digits.empty() || digits.size() > 5) return false;
    int value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > 65535) return false;
    port = value;
    return true;
}

std::string HttpOrigin(const HttpUrlParts& parts) {
    return (parts.secure ? "https://" : "http://") + parts.host + ":" + std::to_string(parts.port);
}

bool SameOrigin(const HttpUrlParts& a, const HttpUrlParts& b) {
    return a.secure == b.secure && a.port == b.port && AsciiEqualNoCase(a.host, b.host);
}

std::string HttpRequestTarget(const HttpUrlParts& parts) {
    std::string target = parts.pathAndQuery.substr(0, parts.pathAndQuery.find('#'));
    if (target.empty() || target[0] == '?') target.insert(0, 1, '/');
    return target;
}

bool SplitHttpUrl(const std::string& url, HttpUrlParts& parts) {
    HttpUrlParts out;
    const std::size_t pos = HttpSchemeLength(url);
    if (pos == 0) return false;
    out.secure = pos == sizeof("https://") - 1;
    out.port = out.secure ? 443 : 80;
    const std::size_t authorityEnd = url.find_first_of("/?#", pos);
    std::string authority = url.substr(pos, authorityEnd == std::string::npos ? std::string::npos : authorityEnd - pos);
    for (const char c : authority) {
        if (IsUnsafeUrlByte(static_cast<unsigned char>(c))) return false;
    }
    out.pathAndQuery = authorityEnd == std::string::npos ? std::string() : url.substr(authorityEnd);

    const std::size_t at = authority.rfind('@');
    if (at != std::string::npos) {
        authority.erase(0, at + 1);
        out.userInfo = true;
    }

    std::string portText;
    bool hasPort = false;
    if (!authority.empty() && authority[0] == '[') {
        const std::size_t close = authority.find(']');
        if (close == std::string::npos) return false;
        out.host = authority.substr(0, close + 1);
        const std::string rest = authority.substr(close + 1);
        if (!rest.empty()) {
            if (rest[0] != ':') return false;
            hasPort = true;
            portText = rest.substr(1);
        }
    } else {
        const std::size_t colon = authority.find(':');
        out.host = authority.substr(0, colon);
        if (colon != std::string::npos) {
            hasPort = true;
            portText = authority.substr(colon + 1);
        }
    }
    if (out.host.empty()) return false;
    // An empty port ("host:") keeps the scheme's default.
    if (hasPort && !portText.empty() && !ParsePort(portText, out.port)) return false;

    // Lengths count UTF-16 units of the widened URL. All delimiters are ASCII,
    // so whether the whole URL is UTF-8 decides how every part is widened.
    const bool utf8 = IsValidUtf8(url);
    const auto units = [utf8](const std::string& part) { return utf8 ? WidenedUrlLength(part) : part.size(); };
    if (units(out.host) > kHttpMaxHostUnits || units(out.pathAndQuery) > kHttpMaxPathUnits) return false;

    parts = std::move(out);
    return true;
}

}  // namespace TesselSDK
