#include "standins/sentry_halyx/dsn.h"

#include <cstddef>

namespace SentryHalyx {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsAllowedChar(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    // No controls, blanks, DEL or characters that would end or reshape a URL.
    return u > 0x20 && u != 0x7f && c != '?' && c != '#' && c != '"' && c != '\\' && c != '<' && c != '>';
}

bool IsKeyChar(char c) { return IsAllowedChar(c) && c != '/' && c != '@' && c != ':'; }

bool ParsePort(const std::string& text, int& port) {
    if (text.empty() || text.size() > 5) return false;
    long value = 0;
    for (char c : text) {
        if (!IsDigit(c)) return false;
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > 65535) return false;
    port = static_cast<int>(value);
    return true;
}

// host[:port] or [v6]:port
bool ParseHostPort(const std::string& text, std::string& host, int& port) {
    port = 0;
    std::string portText;
    if (!text.empty() && text[0] == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string::npos || close < 2) return false;
        host = text.substr(0, close + 1);
        for (std::size_t i = 1; i < close; ++i) {
            const char c = text[i];
            const bool hex = IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
            if (!hex && c != ':' && c != '.') return false;
        }
        const std::string rest = text.substr(close + 1);
        if (rest.empty()) return true;
        if (rest[0] != ':') return false;
        portText = rest.substr(1);
        return ParsePort(portText, port);
    }
    const std::size_t colon = text.find(':');
    host = text.substr(0, colon);
    if (host.empty()) return false;
    for (char c : host) {
        if (c == '[' || c == ']' || c == ':') return false;
    }
    if (colon == std::string::npos) return true;
    return ParsePort(text.substr(colon + 1), port);
}

}  // namespace

bool ParseDsn(const std::string& text, Dsn& out) {
    for (char c : text) {
        if (!IsAllowedChar(c)) return false;
    }
    Dsn dsn;
    dsn.raw = text;

    const std::size_t schemeEnd = text.find("://");
    if (schemeEnd == std::string::npos) return false;
    dsn.scheme = text.substr(0, schemeEnd);
    if (dsn.scheme != "http" && dsn.scheme != "https") return false;
    const std::string rest = text.substr(schemeEnd + 3);

    // The authority ends at the first '/'; the user info ends at its last '@'.
    const std::size_t slash = rest.find('/');
    if (slash == std::string::npos) return false;
    const std::string authority = rest.substr(0, slash);
    const std::string path = rest.substr(slash);

    const std::size_t at = authority.rfind('@');
    if (at == std::string::npos) return false;
    const std::string userInfo = authority.substr(0, at);
    const std::size_t keyColon = userInfo.find(':');
    dsn.publicKey = userInfo.substr(0, keyColon);
    if (keyColon != std::string::npos) dsn.secretKey = userInfo.substr(keyColon + 1);
    if (dsn.publicKey.empty()) return false;
    for (char c : dsn.publicKey) {
        if (!IsKeyChar(c)) return false;
    }
    for (char c : dsn.secretKey) {
        if (!IsKeyChar(c)) return false;
    }
    if (!ParseHostPort(authority.substr(at + 1), dsn.host, dsn.port)) return false;

    // path = [prefix]/project_id[/]
    std::string trimmed = path;
    if (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
    const std::size_t lastSlash = trimmed.rfind('/');
    dsn.projectId = trimmed.substr(lastSlash + 1);
    dsn.pathPrefix = trimmed.substr(0, lastSlash);
    if (dsn.projectId.empty()) return false;
    if ((dsn.pathPrefix + "/").find("//") != std::string::npos) return false;

    out = dsn;
    return true;
}

std::string EnvelopeUrl(const Dsn& dsn) {
    std::string url = dsn.scheme + "://" + dsn.host;
    if (dsn.port != 0) url += ":" + std::to_string(dsn.port);
    url += dsn.pathPrefix + "/api/" + dsn.projectId + "/envelope/";
    return url;
}

std::string AuthHeader(const Dsn& dsn, const std::string& clientName) {
    std::string value = "Sentry sentry_version=7, sentry_client=" + clientName + ", sentry_key=" + dsn.publicKey;
    if (!dsn.secretKey.empty()) value += ", sentry_secret=" + dsn.secretKey;
    return value;
}

}  // namespace SentryHalyx
