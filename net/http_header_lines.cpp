#include "net/http_header_lines.h"

namespace TesselSDK {
namespace {

bool HasLineBreakOrNul(const std::string& text) { return text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos; }

bool IsSingleLine(const std::string& name, const std::string& value) {
    return !name.empty() && name.find(':') == std::string::npos && !HasLineBreakOrNul(name) &&
           !HasLineBreakOrNul(value);
}

}  // namespace

std::vector<std::string> RequestHeaderLines(const std::string& contentType, const HttpHeaders& headers) {
    std::vector<std::string> lines;
    lines.reserve(headers.size() + 1);
    if (!contentType.empty() && !HasLineBreakOrNul(contentType)) lines.push_back("Content-Type: " + contentType);
    for (const auto& entry : headers) {
        if (IsSingleLine(entry.first, entry.second)) lines.push_back(entry.first + ": " + entry.second);
    }
    return lines;
}

}  // namespace TesselSDK
