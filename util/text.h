// Text helpers shared by the SDK core. Stateless, safe from any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace TesselSDK {

// UTF-16 (UTF-32 where wchar_t is 32-bit) to UTF-8; null gives "".
// Ill-formed input (a lone surrogate, a value beyond U+10FFFF) becomes U+FFFD.
// The text ends at its first NUL.
std::string WideToUtf8(const wchar_t* text);

// The UTF-8 sequence at text[pos] (pos < text.size()): its length in bytes,
// with the code point in `cp`; 0 when it is malformed (an overlong form, a
// surrogate, a value beyond U+10FFFF, or cut short).
std::size_t DecodeUtf8(std::string_view text, std::size_t pos, char32_t& cp);
bool IsValidUtf8(std::string_view text);

// Length of a leading "http://" or "https://" in any letter case; 0 when the
// text begins with neither.
std::size_t HttpSchemeLength(std::string_view url);

// RFC 4648 Base64 with padding, every byte encoded (embedded NULs included).
std::string Base64Encode(const std::string& bytes);

// Percent-encoding of everything outside RFC 3986's unreserved set
// (ASCII letters and digits, '-', '_', '.', '~'); upper-case hex digits.
std::string UrlEncode(const std::string& bytes);
// Appends "%XX" for one byte, upper-case hex digits.
void AppendPercentEscaped(std::string& out, unsigned char byte);

// ASCII-only byte classification and case mapping (bytes >= 0x80 unchanged,
// never passed to the locale-dependent C runtime functions).
char AsciiToLower(char c);
// Equal when ASCII letter case is ignored (other bytes compare as they are).
bool AsciiEqualNoCase(std::string_view a, std::string_view b);
bool AsciiIsAlnum(char c);
std::string AsciiUpper(std::string text);

}  // namespace TesselSDK
