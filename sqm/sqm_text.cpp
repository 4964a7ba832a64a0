#include "sqm/sqm_text.h"

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <system_error>

namespace TesselSDK {
namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// Skips leading whitespace and a '+' sign (which from_chars does not take);
// a '+' must be followed by the number itself.
const char* NumberStart(const std::string& text, const char* end) {
    const char* p = text.data();
    while (p != end && IsSpace(*p)) ++p;
    if (p != end && *p == '+') {
        ++p;
        if (p != end && *p == '-') return end;
    }
    return p;
}

}  // namespace

std::string_view TrimmedView(std::string_view text) {
    while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
    return text;
}

std::string TrimWhitespace(std::string text) { return std::string(TrimmedView(text)); }

bool TryParseDouble(const std::string& text, double& out) {
    const char* end = text.data() + text.size();
    const char* start = NumberStart(text, end);
    double value = 0.0;
    const auto result = std::from_chars(start, end, value, std::chars_format::general);
    if (result.ec != std::errc() || result.ptr == start) return false;
    out = value;
    return true;
}

bool TryParseInt64(const std::string& text, long long& out) {
    const char* end = text.data() + text.size();
    const char* start = NumberStart(text, end);
    long long value = 0;
    const auto result = std::from_chars(start, end, value, 10);
    if (result.ec != std::errc() || result.ptr == start) return false;
    out = value;
    return true;
}

bool TryParseInt32(const std::string& text, int& out) {
    long long wide = 0;
    if (!TryParseInt64(text, wide)) return false;
    if (wide < std::numeric_limits<int>::min() || wide > std::numeric_limits<int>::max()) return false;
    out = static_cast<int>(wide);
    return true;
}

}  // namespace TesselSDK
