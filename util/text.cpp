#include "util/text.h"

#include <cstddef>
#include <cstdint>

namespace TesselSDK {
namespace {

const char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

bool IsHighSurrogate(char32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(char32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// wchar_t holds UTF-16 units: pairs combine, an unpaired half is replaced.
std::string Utf16ToUtf8(const wchar_t* text) {
    std::string out;
    for (const wchar_t* p = text; *p != 0; ++p) {
        const char32_t unit = static_cast<char16_t>(*p);
        if (IsHighSurrogate(unit) && IsLowSurrogate(static_cast<char16_t>(p[1]))) {
            const char32_t low = static_cast<char16_t>(p[1]);
            AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
            ++p;
        } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
            AppendUtf8(out, kReplacement);
        } else {
            AppendUtf8(out, unit);
        }
    }
    return out;
}

// wchar_t holds whole code points: surrogates and out-of-range values are replaced.
std::string Utf32ToUtf8(const wchar_t* text) {
    std::string out;
    for (const wchar_t* p = text; *p != 0; ++p) {
        const auto unit = static_cast<std::uint32_t>(*p);
        const bool valid = unit <= 0x10FFFF && !IsHighSurrogate(unit) && !IsLowSurrogate(unit);
        AppendUtf8(out, valid ? static_cast<char32_t>(unit) : kReplacement);
    }
    return out;
}

char AsciiToUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

std::size_t DecodeUtf8(std::string_view text, std::size_t pos, char32_t& cp) {
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

bool IsValidUtf8(std::string_view text) {
    char32_t cp = 0;
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t len = DecodeUtf8(text, pos, cp);
        if (len == 0) return false;
        pos += len;
    }
    return true;
}

std::string WideToUtf8(const wchar_t* text) {
    if (text == nullptr) return "";
    if (sizeof(wchar_t) == 2) return Utf16ToUtf8(text);
    return Utf32ToUtf8(text);
}

bool AsciiEqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (AsciiToLower(a[i]) != AsciiToLower(b[i])) return false;
    }
    return true;
}

std::size_t HttpSchemeLength(std::string_view url) {
    for (const std::string_view scheme : {std::string_view("http://"), std::string_view("https://")}) {
        if (AsciiEqualNoCase(url.substr(0, scheme.size()), scheme)) return scheme.size();
    }
    return 0;
}

std::string Base64Encode(const std::string& bytes) {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const std::uint32_t group = (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << 16) |
                                    (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8) |
                                    static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 2]));
        out.push_back(kAlphabet[(group >> 18) & 0x3F]);
        out.push_back(kAlphabet[(group >> 12) & 0x3F]);
        out.push_back(kAlphabet[(group >> 6) & 0x3F]);
        out.push_back(kAlphabet[group & 0x3F]);
    }
    const std::size_t rest = bytes.size() - i;
    if (rest > 0) {
        std::uint32_t group = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
        if (rest == 2) group |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
        out.push_back(kAlphabet[(group >> 18) & 0x3F]);
        out.push_back(kAlphabet[(group >> 12) & 0x3F]);
        out.push_back(rest == 2 ? kAlphabet[(group >> 6) & 0x3F] : '=');
        out.push_back('=');
    }
    return out;
}

std::string UrlEncode(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size() * 3);
    for (const char c : bytes) {
        if (AsciiIsAlnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
            out.push_back(c);
        } else {
            AppendPercentEscaped(out, static_cast<unsigned char>(c));
        }
    }
    return out;
}

void AppendPercentEscaped(std::string& out, unsigned char byte) {
    static const char kHex[] = "0123456789ABCDEF";
    out.push_back('%');
    out.push_back(kHex[byte >> 4]);
    out.push_back(kHex[byte & 0x0F]);
}

char AsciiToLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
bool AsciiIsAlnum(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
std::string AsciiUpper(std::string text) {
    for (char& c : text) c = AsciiToUpper(c);
    return text;
}

}  // namespace TesselSDK
