#include "net/http_text_widen.h"

namespace TesselSDK {

std::u16string WidenBytes(const std::string& text) {
    std::u16string out;
    out.reserve(text.size());
    for (const char c : text) out.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
    return out;
}

std::u16string WidenUrl(const std::string& text) {
    if (!IsValidUtf8(text)) return WidenBytes(text);
    std::u16string out;
    out.reserve(text.size());
    char32_t cp = 0;
    for (std::size_t pos = 0; pos < text.size();) {
        pos += DecodeUtf8(text, pos, cp);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

std::size_t WidenedUrlLength(const std::string& text) {
    if (!IsValidUtf8(text)) return text.size();
    std::size_t units = 0;
    char32_t cp = 0;
    for (std::size_t pos = 0; pos < text.size();) {
        pos += DecodeUtf8(text, pos, cp);
        units += cp >= 0x10000 ? 2 : 1;
    }
    return units;
}

}  // namespace TesselSDK
