// Text helpers shared by the SDK core. Stateless, safe from any thread.
#pragma once

#include <string>

namespace TesselSDK {

// UTF-16 (UTF-32 where wchar_t is 32-bit) to UTF-8; null gives "".
// Ill-formed input (a lone surrogate) becomes U+FFFD.
std::string WideToUtf8(const wchar_t* text);

// RFC 4648 Base64 with padding, every byte encoded.
std::string Base64Encode(const std::string& bytes);

// Percent-encoding of everything outside RFC 3986's unreserved set.
std::string UrlEncode(const std::string& bytes);

// ASCII-only byte classification and case mapping (bytes >= 0x80 unchanged).
char AsciiToUpper(char c);
char AsciiToLower(char c);
bool AsciiIsAlnum(char c);
std::string AsciiUpper(std::string text);

}  // namespace TesselSDK
