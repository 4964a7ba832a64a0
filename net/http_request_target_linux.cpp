#include "net/http_request_target_linux.h"

#include "net/http_text_widen.h"
#include "net/http_url.h"
#include "util/text.h"

namespace TesselSDK {

std::string EscapeRequestTarget(const std::string& pathAndQuery) {
    if (pathAndQuery.empty()) return "/";
    // UTF-8 text is sent as its own bytes. Other text is widened byte by byte,
    // so a byte from 0x80 on is the character U+0080..U+00FF: two UTF-8 bytes.
    const bool utf8 = IsValidUtf8(pathAndQuery);
    std::string out;
    out.reserve(pathAndQuery.size());
    for (const char c : pathAndQuery) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            if (IsUnsafeUrlByte(byte)) {
                AppendPercentEscaped(out, byte);
            } else {
                out.push_back(c);
            }
        } else if (utf8) {
            AppendPercentEscaped(out, byte);
        } else {
            AppendPercentEscaped(out, static_cast<unsigned char>(0xC0 | (byte >> 6)));
            AppendPercentEscaped(out, static_cast<unsigned char>(0x80 | (byte & 0x3F)));
        }
    }
    return out;
}

}  // namespace TesselSDK
