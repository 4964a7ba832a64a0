#include "net/http_text_widen.h"

#include <cstdint>

namespace TesselSDK {
namespace {

// Decodes one UTF-8 sequence at text[pos]; returns its length in bytes and
// stores the code point, or returns 0 when the sequence is malformed.
std::size_t DecodeUtf8(const std::string& text, std::size_t pos, char32_t& cp) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(pos);
    std::size_t len = 0;
    char32_t min = 0;
    if (lead < 0x80) {
        cp = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        len = 2;
        cp = lead & 0x1Fu;
        min = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        len = 3;
        cp = lead & 0x0Fu;
        min = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        len = 4;
        cp = lead & 0x07u;
        min = 0x10000;
    } else {
        return 0;
    }
    if (text.size() - pos < len) return 0;
    for (std::size_t i = 1; i < len; ++i) {
        const unsigned char c = byte(pos + i);
        if ((c & 0xC0u) != 0x80u) return 0;
        cp = (cp << 6) | (c & 0x3Fu);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return len;
}

}  // namespace

bool IsValidUtf8(const std::string& text) {
    char32_t cp = 0;
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t len = DecodeUtf8(text, pos, cp);
        if (len == 0) return false;
        pos += len;
    }
    return true;
}

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
